#!/usr/bin/env bash
# kinetra devices and kinetra events against a running `zenvor-driver --simulate` (the
# demo mouse), with every root in a temporary folder: the demo description is listed as
# connected, a press of a button reaches `kinetra events`, and the errors for what cannot
# be used.
#   kinetra_devices_test.sh KINETRA ZENVOR-DRIVER DATA-FOLDER
set -u
kinetra=$1
driver=$2
data=$3
work=$(mktemp -d)
export KINETRA_SERVICES_DIR=$work/services KINETRA_HOME=$work/home KINETRA_DATA_ROOT=$work/share
export KINETRA_UDEV_RULES_DIR=$work/udev KINETRA_SYSFS_ROOT=$work/sys
mkdir -p "$KINETRA_SERVICES_DIR"
daemon=""
events=""
cleanup() {
  [[ -n $events ]] && kill "$events" 2>/dev/null
  [[ -n $daemon ]] && kill "$daemon" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fails=0

# shellcheck source=expect.sh
source "$(dirname "$0")/expect.sh"

# Waits (up to 10 s, in steps of 50 ms) until FILE holds a line matching PATTERN.
wait_for() {  # wait_for FILE PATTERN
  for _ in $(seq 200); do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.05
  done
  printf 'FAIL: no line matching "%s" in %s:\n' "$2" "$1"
  cat "$1"
  fails=$((fails + 1))
  return 1
}

# Like expect, for errors followed by the command's help: compares the first line only.
expect_first() {  # expect_first NAME STATUS FIRST-LINE -- COMMAND…
  local name=$1 status=$2 expected=$3
  shift 4
  local out rc
  out=$("$@" 2>&1)
  rc=$?
  if [[ $rc -ne $status || "${out%%$'\n'*}" != "$expected" ]]; then
    printf 'FAIL %s\n  expected (%s): %s\n  actual   (%s): %s\n' "$name" "$status" "$expected" "$rc" "$out"
    fails=$((fails + 1))
  fi
}

bundles=$data/Devices
# Without a daemon: listed, not connected (no hidraw device on this machine either way).
expect no-device 0 "DemoMouse.bundle  ($bundles/DemoMouse.bundle)
  DemoMouse-1  Zenvor Demo Mouse  5a56:1704  not connected
    com_Zenvor_driver_usb_Skarn 5a56:1704: no device" -- \
  "$kinetra" devices --bundles "$bundles" --simulated --wait 500
expect no-match 0 "no device description matches" -- \
  "$kinetra" devices --bundles "$bundles" --match Alias=DemoMouse --match TypeID=2
expect match-text-is-not-a-number 0 "no device description matches" -- \
  "$kinetra" devices --bundles "$bundles" --match Alias=DemoMouse --match Name=1
expect_first bad-match 1 "kinetra devices: --match takes KEY=VALUE, not 'Alias'" -- \
  "$kinetra" devices --bundles "$bundles" --match Alias
expect no-folder 1 "kinetra devices: $work/none: no such folder of device bundles" -- \
  "$kinetra" devices --bundles "$work/none"

# The simulated demo mouse, fed through a FIFO.
mkfifo "$work/in"
"$driver" --simulate 0x1704 <"$work/in" >"$work/daemon" 2>&1 &
daemon=$!
exec 3>"$work/in"
wait_for "$work/daemon" "^ready " || exit 1
service=$KINETRA_SERVICES_DIR/com_Zenvor_driver_usb_Skarn@simulated-1704
expect connected 0 "DemoMouse.bundle  ($bundles/DemoMouse.bundle)
  DemoMouse-1  Zenvor Demo Mouse  5a56:1704  connected
    com_Zenvor_driver_usb_Skarn 5a56:1704: simulated-1704, connected through $service" -- \
  "$kinetra" devices --bundles "$bundles" --simulated --match Alias=DemoMouse

# kinetra events: button 4 pressed and released; the daemon's rewritten report no longer
# carries it while kinetra holds it; afterwards the button is the desktop's again.
"$kinetra" events --bundles "$bundles" --simulated --count 2 \
  --prototype "$data/tevnodes.prototype" >"$work/events" 2>&1 &
events=$!
wait_for "$work/events" "^listening to DemoMouse-1" || exit 1
echo "report 08 00 00 00 00 00 00" >&3
echo "report 00 00 00 00 00 00 00" >&3
wait_for "$work/daemon" "^report 08 00 00 00 00 00 00 -> 00 00 00 00 00 00 00"
wait_for "$work/events" "^event 0x90004 0"
for _ in $(seq 200); do kill -0 "$events" 2>/dev/null || break; sleep 0.05; done
if wait "$events"; then events=""; else echo "FAIL events: exit status $?"; fails=$((fails + 1)); events=""; fi
expect events-output 0 "listening to DemoMouse-1 (Zenvor Demo Mouse); 0x90003-0x90005 0x90007-0x90010 report here instead of the desktop; Ctrl-C ends
event 0x90004 1
event 0x90004 0" -- cat "$work/events"
echo "report 08 00 00 00 00 00 00" >&3
wait_for "$work/daemon" "^report 08 00 00 00 00 00 00 -> 08 00 00 00 00 00 00"

expect unknown-device 1 "kinetra events: no device with the alias 'Nope' found" -- \
  "$kinetra" events --bundles "$bundles" --simulated --device Nope --prototype "$data/tevnodes.prototype"
expect_first bad-override 1 "kinetra events: --override takes element identifiers separated by commas (0x90004,0x90005), not 'button'" -- \
  "$kinetra" events --bundles "$bundles" --simulated --override 0x90004,button \
  --prototype "$data/tevnodes.prototype"

if [[ $fails -ne 0 ]]; then
  echo "$fails failure(s)"
  exit 1
fi
echo "kinetra devices and events: ok"
