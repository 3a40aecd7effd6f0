#!/usr/bin/env bash
# End to end: zenvor-driver --simulate serving its socket in a scratch services folder, fed
# by a FIFO, with kinetra driver as the client; then SIGTERM, an unplug, and the refusals.
#   simulate_test.sh ZENVOR-DRIVER KINETRA
set -u
driver=$1
kinetra=$2
work=$(mktemp -d)
daemon=
cleanup() {
  [[ -n "$daemon" ]] && kill "$daemon" 2>/dev/null
  exec 3>&- 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fails=0
source "$(dirname "$0")/../tools/expect.sh"
source=$(cd "$(dirname "$0")/../.." && pwd)
export KINETRA_SERVICES_DIR=$work/services
service=com_Zenvor_driver_usb_Skarn@simulated-1704

# until COMMAND succeeds, at most 20 s (a safety net; it normally takes milliseconds)
until_true() {
  local i
  for ((i = 0; i < 2000; i++)); do
    "$@" && return 0
    sleep 0.01
  done
  echo "FAIL gave up waiting for: $*"
  fails=$((fails + 1))
  return 1
}
has_line() { grep -qxF -- "$2" "$1" 2>/dev/null; }

mkfifo "$work/in"
"$driver" --simulate 0x1704 --input "$work/in" >"$work/out" 2>"$work/err" &
daemon=$!
exec 3>"$work/in"
until_true grep -q '^ready ' "$work/out"
expect ready 0 "ready $work/services/$service" -- grep '^ready ' "$work/out"
expect device-line 0 "device 0x1704 type 1: own descriptor 58 bytes, mouse report 7 bytes" -- \
  head -n 1 "$work/out"

expect list 0 "$service  5a56:1704 type word 1" -- "$kinetra" driver list
expect ping-unknown 1 "kinetra driver: no service for device 'hidraw99' in $work/services (see kinetra driver list)" -- \
  "$kinetra" driver ping hidraw99

# Presses of an overridden button (9 on this type) reach a listening client.
"$kinetra" driver events simulated-1704 --count 2 >"$work/events" 2>"$work/events.err" &
listener=$!
until_true grep -qs listening "$work/events.err"
printf 'report 00 01 00 00 00 00 00\nreport 00 00 00 00 00 00 00\n' >&3
wait "$listener"
expect events 0 $'event 0x90009 1\nevent 0x90009 0' -- cat "$work/events"

# Button 1 passes until a client overrides it; then the rewritten report lacks it.
printf 'report 01 00 00 00 00 00 00\n' >&3
until_true has_line "$work/out" "report 01 00 00 00 00 00 00 -> 01 00 00 00 00 00 00"
expect override 0 "" -- "$kinetra" driver override simulated-1704 0x90001 1
printf 'report 01 00 00 00 00 00 00\n' >&3
until_true has_line "$work/out" "report 01 00 00 00 00 00 00 -> 00 00 00 00 00 00 00"
expect buttons 0 "" -- "$kinetra" driver buttons simulated-1704 2
until_true has_line "$work/out" "pointer 02 00 00 00 00 00 00"
expect feature 0 "0x0" -- "$kinetra" driver feature simulated-1704 5
expect bad-shape 1 "result 0xE00002C2 (bad argument (counts differ from the method's shape))" -- \
  "$kinetra" driver call simulated-1704 4 --scalars 1
expect unsupported 1 "result 0xE00002C7 (unsupported method)" -- \
  "$kinetra" driver call simulated-1704 16
expect raw-info 0 $'result 0x00000000 (success)\nstruct 56 5A 00 00 00 00 00 00 04 17 00 00 00 00 00 00 01 00 00 00' -- \
  "$kinetra" driver call "$work/services/$service" 3 --out-struct 20
expect kinetra-usage 1 "kinetra driver: 'x' is not a number" -- \
  "$kinetra" driver hat simulated-1704 x

# A wrong line is reported and skipped; the daemon keeps serving.
printf 'bogus 1\nproduct 0x1705\n' >&3
until_true grep -q "input line 6: 'product' and 'descriptor' come from the command line" "$work/err"
expect bogus-line 0 "zenvor-driver: input line 5: unknown command 'bogus'" -- \
  grep 'input line 5' "$work/err"

# SIGTERM: exit 0, the socket file removed, the unload message logged.
kill -TERM "$daemon"
wait "$daemon"
status=$?
daemon=
[[ $status -eq 0 ]] || { echo "FAIL sigterm: exit status $status"; fails=$((fails + 1)); }
[[ ! -e "$work/services/$service" ]] || { echo "FAIL sigterm: socket left"; fails=$((fails + 1)); }
grep -qE 'Skarn USB driver v[0-9.]+ unloaded' "$work/err" || { echo "FAIL no unload message"; fails=$((fails + 1)); }
exec 3>&-

# An unplug line ends the daemon like a real unplug.
expect unplug 0 $'unplug' -- \
  bash -c "printf 'report 00 00 00 00 00 00 00\nunplug\n' | '$driver' --simulate 0x1704 2>/dev/null | grep -v -e '^ready' -e '^device' -e '^report'"

# A burst far beyond what the hidraw socket holds: every report comes through in order
# (the daemon's loop both feeds and reads that socket, so it must never wait on it).
for ((i = 0; i < 3000; i++)); do echo "report 0$((i % 2)) 00 00 00 00 00 00"; done >"$work/burst"
echo unplug >>"$work/burst"
timeout 60 "$driver" --simulate 0x1704 --input "$work/burst" >"$work/burst.out" 2>/dev/null
status=$?
[[ $status -eq 0 ]] || { echo "FAIL burst: exit status $status"; fails=$((fails + 1)); }
expect burst 0 "3000" -- grep -c '^report ' "$work/burst.out"
expect burst-order 0 "report 01 00 00 00 00 00 00 -> 01 00 00 00 00 00 00" -- \
  sed -n '${x;p};h' "$work/burst.out"

# Refusals.
mkdir -p "$work/sys/class/hidraw/hidraw7" "$work/sys/devices/virtual/misc/uhid/0003:5A56:1704.0007"
ln -s "$work/sys/devices/virtual/misc/uhid/0003:5A56:1704.0007" "$work/sys/class/hidraw/hidraw7/device"
# A uhid node is not refused for being one (a Bluetooth LE mouse is): it gets as far as
# opening the node; only the presented mouse's mark is refused.
expect uhid-node 1 "zenvor-driver: cannot open /dev/hidraw7: No such file or directory" -- \
  env KINETRA_SYSFS_ROOT="$work/sys" "$driver" --hidraw /dev/hidraw7
expect no-descriptor 1 "zenvor-driver: product 0x1234 has no built-in descriptor; give the mouse's own with --descriptor HEX or --descriptor-file PATH" -- \
  "$driver" --simulate 0x1234
expect bad-descriptor 1 "zenvor-driver: --descriptor: 'zz' is not hexadecimal bytes" -- \
  "$driver" --simulate 0x1704 --descriptor zz
expect missing-file 1 "zenvor-driver: --descriptor-file $work/none.hid: No such file or directory" -- \
  "$driver" --simulate 0x1234 --descriptor-file "$work/none.hid"

# Any mouse from its descriptor file: the receiver that splits buttons and motion, on
# Bluetooth, under its own vendor and name.
expect generic 0 $'device 0x0b05 type 6: own descriptor 107 bytes, buttons in report 1 (4 bytes), motion in report 2 (4 bytes)\npointer 01 10 00 00\nreport 02 03 D0 FF -> 02 03 D0 FF\nunplug' -- \
  bash -c "printf 'buttons 0x10\nreport 02 03 D0 FF\nunplug\n' | '$driver' --simulate 0x0B05 \
    --descriptor-file '$source/data/mice/split-receiver.hid' --vendor 0x1D57 --bus bluetooth \
    --name 'Split Receiver' --services '$work/services' 2>'$work/generic.err' | grep -v '^ready'"
expect generic-bt 0 "1" -- grep -cE 'Skarn BT driver v[0-9.]+ loaded' "$work/generic.err"

expect binary-from-a-pipe 1 "zenvor-driver: --input-format binary reads standard input as a packet socket (SOCK_SEQPACKET or SOCK_DGRAM, one report per packet); a pipe or a file does not keep reports apart" -- \
  sh -c "true | '$driver' --simulate 0x1704 --input-format binary"
expect binary-with-input 1 "zenvor-driver: --input reads script lines; binary reports come on standard input" -- \
  "$driver" --simulate 0x1704 --input-format binary --input /dev/null
expect nothing-to-drive 1 "zenvor-driver: give the mouse's node (--hidraw /dev/hidrawN) or a product to simulate (--simulate 0x1704); see --help" -- \
  "$driver"

[[ $fails -eq 0 ]] && echo "simulated driver end to end: all checks passed"
exit $((fails > 0))
