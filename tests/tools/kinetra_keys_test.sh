#!/usr/bin/env bash
# The kinetra tool's keys subcommand, run as a user runs it.
#   kinetra_keys_test.sh KINETRA
set -u
kinetra=$1
fails=0

# shellcheck source=expect.sh
source "$(dirname "$0")/expect.sh"

table=$("$kinetra" keys)
expect table-header 0 'page  usage   key                    code  route' -- bash -c "printf '%s\n' \"\$1\" | head -1" _ "$table"
expect table-a 0 '7     0x04    KEY_A                  30    key' -- bash -c "printf '%s\n' \"\$1\" | grep ' KEY_A '" _ "$table"
expect table-mute 0 '7     0x7F    KEY_MUTE               113   special' -- bash -c "printf '%s\n' \"\$1\" | grep KEY_MUTE" _ "$table"
expect table-rows 0 '135' -- bash -c "printf '%s\n' \"\$1\" | tail -n +2 | wc -l" _ "$table"

expect key-a 0 $'press:   keyboard EV_KEY KEY_A 1\nrelease: keyboard EV_KEY KEY_A 0' \
  -- "$kinetra" keys test 7 0x04
expect shift 0 $'press:   keyboard EV_KEY KEY_LEFTSHIFT 1 flags=0x20000\nrelease: keyboard EV_KEY KEY_LEFTSHIFT 0' \
  -- "$kinetra" keys test 7 225
expect volume-up 0 $'press:   keyboard EV_KEY KEY_VOLUMEUP 1\nrelease: keyboard EV_KEY KEY_VOLUMEUP 0' \
  -- "$kinetra" keys test 12 0xE9
expect overview 0 $'press:   keyboard EV_KEY KEY_SCALE 1\nrelease: keyboard EV_KEY KEY_SCALE 0' \
  -- "$kinetra" keys test 5 0x0D
expect unmapped 0 $'press:   (nothing)\nrelease: (nothing)\nno key posted for HID page 12 usage 0x30: it is not a media, volume, brightness or eject key' \
  -- "$kinetra" keys test 12 0x30
expect no-linux-key 0 $'press:   (nothing)\nrelease: (nothing)\nno key posted for HID page 7 usage 0xD7: it has no Linux key' \
  -- "$kinetra" keys test 7 0xD7
expect bad-number 1 "kinetra keys: USAGE is not a number: 0xZZ" \
  -- bash -c "out=\$('$kinetra' keys test 7 0xZZ 2>&1); rc=\$?; echo \"\${out%%\$'\\n'*}\"; exit \$rc"
expect missing-usage 1 "kinetra keys: 'test' takes PAGE and USAGE" \
  -- bash -c "out=\$('$kinetra' keys test 7 2>&1); rc=\$?; echo \"\${out%%\$'\\n'*}\"; exit \$rc"
expect help 0 'usage: kinetra keys' \
  -- bash -c "out=\$('$kinetra' keys --help 2>&1); rc=\$?; echo \"\${out%%\$'\\n'*}\"; exit \$rc"

[[ $fails -eq 0 ]] && echo "all kinetra keys checks passed"
exit $((fails > 0))
