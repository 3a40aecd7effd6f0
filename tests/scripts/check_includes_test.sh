#!/usr/bin/env bash
# scripts/check-includes on small trees: what it lets through and what it names.
#   check_includes_test.sh CHECK-INCLUDES
set -u
check=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0

# shellcheck source=../tools/expect.sh
source "$(dirname "$0")/../tools/expect.sh"

# tree NAME FILE:INCLUDE…  — a tree of one-line files, each including what it is given.
tree() {
  local dir=$work/$1
  shift
  mkdir -p "$dir"
  for entry in "$@"; do
    mkdir -p "$dir/$(dirname "${entry%%:*}")"
    printf '#include "%s"\n' "${entry#*:}" >>"$dir/${entry%%:*}"
  done
  echo "$dir"
}

ok=$(tree ok lib/engine/A.cpp:device/B.h lib/device/B.h:output/C.h lib/profile/D.cpp:output/Workspace.h \
  lib/log/L.cpp:json/Value.h lib/platform/P.cpp:log/Log.h lib/testing/T.h:store/S.h \
  driver/core/R.cpp:protocol/HIDConstants.h lib/output/M.cpp:protocol/HIDConstants.h \
  pane/W.cpp:platform/VDKQueueNotifications.h tests/engine/X.cpp:testing/T.h tools/kinetra/K.cpp:store/S.h \
  lib/engine/Local.cpp:Local.h)
expect allowed 0 'check-includes: ok (12 files)' -- "$check" "$ok"

up=$(tree up lib/profile/ZVProfile.h:engine/ZVShiftState.h)
expect upward 1 'lib/profile/ZVProfile.h:1: #include "engine/ZVShiftState.h": profile may not include engine: engine sits above profile in the layer order (ARCHITECTURE.md)
check-includes: 1 include(s) against the layer order (ARCHITECTURE.md)' -- "$check" "$up"

others=$(tree others driver/core/H.cpp:json/Value.h protocol/P.h:text/Unicode.h \
  lib/engine/E.cpp:testing/FakeUinput.h pane/Q.cpp:engine/ZVProfile.h tools/kinetra/T.cpp:testing/X.h \
  lib/json/J.cpp:core/ZVReportHandler.h)
expect others 1 'driver/core/H.cpp:1: #include "json/Value.h": the driver links no other deliverable: it includes only driver/ and protocol/
lib/engine/E.cpp:1: #include "testing/FakeUinput.h": lib/testing holds fakes for tests: only tests/, fuzz/, bench/ and lib/testing include it
lib/json/J.cpp:1: #include "core/ZVReportHandler.h": '"'"'core'"'"' is not a module of the library
pane/Q.cpp:1: #include "engine/ZVProfile.h": the settings window compiles its own copies and may include lib/ modules up to support only
protocol/P.h:1: #include "text/Unicode.h": protocol/ is header-only and self-contained: it includes nothing else of the suite
tools/kinetra/T.cpp:1: #include "testing/X.h": lib/testing holds fakes for tests: programs do not include it
check-includes: 6 include(s) against the layer order (ARCHITECTURE.md)' -- "$check" "$others"

driver=$(tree driver driver/core/A.cpp:core/B.h driver/daemon/D.cpp:replay/R.h \
  driver/fakes/F.h:daemon/D.h driver/daemon/main.cpp:fakes/F.h driver/daemon/S.h:fakes/F.h \
  driver/core/C.cpp:daemon/D.h driver/linux/L.cpp:fakes/F.h driver/replay/Q.cpp:gadget/G.h)
expect driver-order 1 'driver/core/C.cpp:1: #include "daemon/D.h": driver/core may not include driver/daemon: the driver'"'"'s order is core, replay, daemon, then linux and fakes (only daemon/main.cpp wires them)
driver/daemon/S.h:1: #include "fakes/F.h": driver/daemon may not include driver/fakes: the driver'"'"'s order is core, replay, daemon, then linux and fakes (only daemon/main.cpp wires them)
driver/linux/L.cpp:1: #include "fakes/F.h": driver/linux may not include driver/fakes: the driver'"'"'s order is core, replay, daemon, then linux and fakes (only daemon/main.cpp wires them)
driver/replay/Q.cpp:1: #include "gadget/G.h": '"'"'gadget'"'"' is not a folder of the driver
check-includes: 4 include(s) against the layer order (ARCHITECTURE.md)' -- "$check" "$driver"

unknown=$(tree unknown lib/gadget/G.cpp:json/Value.h)
expect new-module 1 'lib/gadget/:0: #include "": lib/gadget is not in the layer order: add it to scripts/check-includes and ARCHITECTURE.md
check-includes: 1 include(s) against the layer order (ARCHITECTURE.md)' -- "$check" "$unknown"

[[ $fails -eq 0 ]] && echo "all check-includes checks passed"
exit $((fails > 0))
