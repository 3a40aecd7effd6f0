#!/usr/bin/env bash
# Each Qt program answers --help in a terminal without a display: no window system is
# looked for before the options are read.
#   help_without_display.sh PROGRAM...
set -uo pipefail
status=0
for program in "$@"; do
  output=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --help 2>&1)
  code=$?
  if [[ $code -ne 0 || "$output" != *"$(basename "$program")"* ]]; then
    echo "$(basename "$program") --help ended with $code:"
    echo "$output" | tail -5
    status=1
  fi
done
exit $status
