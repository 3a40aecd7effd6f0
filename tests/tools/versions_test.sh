#!/usr/bin/env bash
# Every program answers --version with its name and the one version of the build, without
# a display; the driver answers a wrong command line with status 2 (kinetra: 1, as for
# every failure), never with a parser's own code.
#   versions_test.sh VERSION PROGRAM…
set -u
version=$1
shift
fails=0
for program in "$@"; do
  name=$(basename "$program")
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --version 2>&1)
  rc=$?
  if [[ $rc -ne 0 || "$out" != "$name $version" ]]; then
    printf 'FAIL %s --version: (%s) %s\n' "$name" "$rc" "$out"
    fails=$((fails + 1))
  fi
  # perch, tessel and gable pass unknown options on to Qt.
  [[ $name == kinetra || $name == zenvor-driver ]] || continue
  env -u DISPLAY -u WAYLAND_DISPLAY "$program" --no-such-option >/dev/null 2>&1
  rc=$?
  expected=2
  [[ $name == kinetra ]] && expected=1
  if [[ $rc -ne $expected ]]; then
    printf 'FAIL %s --no-such-option: status %s, not %s\n' "$name" "$rc" "$expected"
    fails=$((fails + 1))
  fi
done
[[ $fails -eq 0 ]] && echo "every program answers --version with $version"
exit $((fails > 0))
