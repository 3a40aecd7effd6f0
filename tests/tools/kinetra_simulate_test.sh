#!/usr/bin/env bash
# kinetra simulate, run as a user runs it: scripted sessions on the demo mouse's Default
# profile compared with their expected output (the simulated clock makes it exact), and
# the errors for what cannot be used.
#   kinetra_simulate_test.sh KINETRA DATA-FOLDER SCRIPTS-FOLDER
set -u
kinetra=$1
data=$2
scripts=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0

# shellcheck source=expect.sh
source "$(dirname "$0")/expect.sh"

# Sessions with their expected output: paths relative to the data folder, as written
# in the expected files.
cd "$data" || exit 1
bundle=Devices/DemoMouse.bundle
default=$bundle/Contents/Resources/Default.pr0
session() {  # session NAME SCRIPT EXPECTED [OPTIONS…]
  local name=$1 script=$2 expected=$3
  shift 3
  if ! "$kinetra" simulate "$default" --bundle "$bundle" --events "$script" "$@" >"$work/out" 2>&1; then
    printf 'FAIL %s: exit status %s\n' "$name" "$?"
    cat "$work/out"
    fails=$((fails + 1))
  elif ! diff -u "$expected" "$work/out"; then
    printf 'FAIL %s: output differs from %s (above)\n' "$name" "$expected"
    fails=$((fails + 1))
  fi
}
session demo sessions/demo.events sessions/demo.expected
session held-at-end "$scripts/held-at-end.events" "$scripts/held-at-end.expected" --settle 700
session layers "$scripts/layers.events" "$scripts/layers.expected"
session settle "$scripts/settle.events" "$scripts/settle.expected" --settle 300
# The same script from standard input.
"$kinetra" simulate "$default" --bundle "$bundle" --device DemoMouse --events - \
  <sessions/demo.events >"$work/stdin" 2>&1
cmp -s "$work/stdin" sessions/demo.expected || { echo "FAIL stdin: differs"; fails=$((fails + 1)); }

# A profile without a controller for the device: a warning; events change nothing.
printf '[profile=Other [controller=OtherMouse ]]' >"$work/Other.pr0"
printf '+0 0x90004 1\n' >"$work/press.events"
expect no-controller 0 "kinetra simulate: warning: $work/Other.pr0 has no controller for device DemoMouse; its events change nothing
profile \"Other\" on Zenvor Demo Mouse (DemoMouse), simulated time
      0 ms  load    Other.pr0
      0 ms  event   0x90004 1" -- "$kinetra" simulate "$work/Other.pr0" --bundle "$bundle" --events "$work/press.events"

# Scripts: the line and what is wrong with it.
printf '# ok\n+0 0x90004 1\n\n+10 button 1\n' >"$work/bad.events"
expect bad-element 1 "kinetra simulate: $work/bad.events: line 4: 'button' is not an element identifier (for example 0x90009)" \
  -- "$kinetra" simulate "$default" --bundle "$bundle" --events "$work/bad.events"
expect bad-line 1 "kinetra simulate: -: line 1: expected '+MS ELEMENT VALUE' (for example '+120 0x90009 0'), got '0x90004 1'" \
  -- bash -c "printf '0x90004 1\n' | '$kinetra' simulate '$default' --bundle '$bundle' --events -"
expect no-script 1 "kinetra: cannot read $work/none.events: No such file or directory" \
  -- "$kinetra" simulate "$default" --bundle "$bundle" --events "$work/none.events"

# Profiles and bundles that cannot be used.
expect no-profile 1 "kinetra simulate: $work/None.pr0: no such profile file" \
  -- "$kinetra" simulate "$work/None.pr0" --bundle "$bundle" --events "$work/press.events"
printf '[profile=x [a=1 ]' >"$work/Open.pr0"
expect damaged-profile 1 "kinetra simulate: $work/Open.pr0: not a readable profile: line 1, column 1: this node is never closed" \
  -- "$kinetra" simulate "$work/Open.pr0" --bundle "$bundle" --events "$work/press.events"
expect no-bundle 1 "kinetra simulate: $work/None.bundle: no such device bundle" \
  -- "$kinetra" simulate "$default" --bundle "$work/None.bundle" --events "$work/press.events"
mkdir -p "$work/Empty.bundle/Contents"
printf '<plist><dict><key>Devices' >"$work/Empty.bundle/Contents/Info.plist"
expect damaged-bundle 1 "kinetra simulate: $work/Empty.bundle: describes no device (Contents/Info.plist is missing, damaged or has no \"Devices\")" \
  -- "$kinetra" simulate "$default" --bundle "$work/Empty.bundle" --events "$work/press.events"
expect unknown-device 1 "kinetra simulate: $bundle: no device with alias 'Nope' (it describes: DemoMouse)" \
  -- "$kinetra" simulate "$default" --bundle "$bundle" --device Nope --events "$work/press.events"

# Usage errors: status 1 and the usage on standard error.
for args in "--bundle $bundle --events x" "$default --events x" "$default --bundle $bundle" \
  "$default --bundle $bundle --events x --settle soon" "$default --bundle $bundle --events x --fast"; do
  # shellcheck disable=SC2086
  if "$kinetra" simulate $args >/dev/null 2>"$work/err" || ! grep -q '^usage: kinetra simulate' "$work/err"; then
    echo "FAIL usage: $args"
    fails=$((fails + 1))
  fi
done
"$kinetra" simulate --help | grep -q '^usage: kinetra simulate' || { echo "FAIL --help"; fails=$((fails + 1)); }

if [[ $fails -ne 0 ]]; then
  echo "$fails failure(s)"
  exit 1
fi
echo "kinetra simulate: all checks passed"
