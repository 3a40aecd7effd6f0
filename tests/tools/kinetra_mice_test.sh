#!/usr/bin/env bash
# kinetra mice, adopt and release on a sysfs tree of our own, with udevadm, systemctl and
# pkexec replaced by a fake that records what would run: the mice listed with what their
# descriptors declare, an adoption through pkexec and as root, the rule it writes, and a
# release that leaves everything as it was.
#   kinetra_mice_test.sh KINETRA
set -u
kinetra=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export KINETRA_SYSFS_ROOT=$work/sys KINETRA_UDEV_RULES_DIR=$work/rules KINETRA_HOME=$work/home
export KINETRA_SERVICES_DIR=$work/services KINETRA_DATA_ROOT=$work/share
export KINETRA_FAKE_SYSTEM_TOOLS=$work/commands
mkdir -p "$KINETRA_UDEV_RULES_DIR" "$KINETRA_SERVICES_DIR"
fails=0
# shellcheck source=expect.sh
source "$(dirname "$0")/expect.sh"

# node NAME HID_ID HID_NAME DESCRIPTOR-HEX [uhid PHYS]: a hidraw node as the kernel lays it out.
node() {
  local parent=$KINETRA_SYSFS_ROOT/devices/pci0000:00/usb1/1-2:1.0
  [[ ${5:-} == uhid ]] && parent=$KINETRA_SYSFS_ROOT/devices/virtual/misc/uhid
  local hid=$parent/${2:0:4}:${2:9:4}:${2:18:4}.${1#hidraw}
  mkdir -p "$hid/hidraw/$1" "$KINETRA_SYSFS_ROOT/class/hidraw"
  printf 'HID_ID=%s\nHID_NAME=%s\nHID_PHYS=%s\n' "$2" "$3" "${6:-usb-1/input0}" >"$hid/uevent"
  printf "$(sed 's/../\\x&/g' <<<"$4")" >"$hid/report_descriptor"
  ln -s ../.. "$hid/hidraw/$1/device"
  ln -s "$hid/hidraw/$1" "$KINETRA_SYSFS_ROOT/class/hidraw/$1"
}
# 5 buttons, wheel and pan in report 1, 12-bit X/Y in report 2, consumer keys in report 3.
split=05010902a10185010901a1000509190129051500250195057501810295017503810105010938158125
split+=7f750895018106050c0a380295018106c085020901a10005010930093116
split+=01f826ff07750c95028106c0c0050c0901a1018503150026ff0319002aff03751095018100c0
boot=05010902a1010901a100050919012903150025019503750181029501750581010501093009311581257f750895028106c0c0
node hidraw3 0003:0000046D:0000C52B "Split Receiver" "$split"
node hidraw4 0003:0000046D:0000C52B "Split Receiver Keyboard" 05010906a101c0
node hidraw2 0003:00005A56:00001704 "Zenvor Demo Mouse" "$boot"
node hidraw7 0005:0000ABCD:00000002 "BLE Mouse" "$boot" uhid a4:c1:38:0e:11:22
node hidraw9 0003:00001234:00000001 "Keyboard" 05010906a101c0
node hidraw8 0005:0000ABCD:00000002 "BLE Mouse" "$boot" uhid zenvor-driver/a4:c1:38:0e:11:22

before="5a56:1704  Zenvor Demo Mouse (USB, hidraw2)
  3 buttons
  one of the suite's own mice, served without adoption; no driver runs for it
046d:c52b  Split Receiver (USB, hidraw3)
  5 buttons, wheel, pan
  not adopted: kinetra adopt 046d:c52b
abcd:0002  BLE Mouse (Bluetooth, hidraw7)
  3 buttons
  not adopted: kinetra adopt abcd:0002"
expect mice-before 0 "$before" -- "$kinetra" mice

# Not root: the command asks for root through pkexec and runs itself again there.
self=$(readlink -f "$kinetra")
export KINETRA_FAKE_SYSTEM_TOOLS_ROOT=0
expect through-pkexec 0 "kinetra adopt: changing the udev rules needs root; asking for it through pkexec" \
  -- "$kinetra" adopt 046D:C52B
expect pkexec-ran 0 "pkexec $self adopt 046d:c52b" -- cat "$work/commands"
KINETRA_FAKE_SYSTEM_TOOLS_REFUSE=pkexec expect pkexec-refused 1 \
  "kinetra adopt: changing the udev rules needs root; asking for it through pkexec
kinetra adopt: root was not granted through pkexec; run \`sudo kinetra adopt 046d:c52b\`" \
  -- "$kinetra" adopt 046d:c52b
expect nothing-written 0 "" -- ls "$KINETRA_UDEV_RULES_DIR"
unset KINETRA_FAKE_SYSTEM_TOOLS_ROOT
rm "$work/commands"

rule=$KINETRA_UDEV_RULES_DIR/71-zenvor-adopted-046d-c52b.rules
expect adopt 0 "adopted 046d:c52b (Split Receiver): $rule is in place and zenvor-driver serves the mouse.
Its profiles live under the device Mouse-046D-C52B: open the editor, or \`kinetra profiles --device Mouse-046D-C52B\`." \
  -- "$kinetra" adopt 046d:c52b
expect adopt-commands 0 "udevadm control --reload
udevadm trigger --action=add --settle $KINETRA_SYSFS_ROOT/class/hidraw/hidraw3
systemctl start zenvor-driver@hidraw3.service
udevadm trigger --action=add --settle $KINETRA_SYSFS_ROOT/class/hidraw/hidraw4
systemctl start zenvor-driver@hidraw4.service" -- cat "$work/commands"
expect rule-matches 0 'SUBSYSTEMS=="hid", KERNELS=="000[35]:046D:C52B.*", TAG+="systemd", ENV{SYSTEMD_WANTS}+="zenvor-driver@%k.service"' \
  -- grep '^SUBSYSTEMS' "$rule"
touch "$KINETRA_SERVICES_DIR/not-a-socket@hidraw3"
expect mice-adopted 0 "046d:c52b  Split Receiver (USB, hidraw3)
  5 buttons, wheel, pan
  adopted; no driver runs for it" -- bash -c "'$kinetra' mice | sed -n 4,6p"

expect ours-automatic 1 "kinetra adopt: 5a56:1704 is one of the suite's own mice: its driver starts by itself, it needs no adoption" \
  -- "$kinetra" adopt 5a56:1704
expect not-plugged 1 "kinetra adopt: no mouse 1111:2222 is plugged in (kinetra mice lists the mice present): plug it in, then adopt it" \
  -- "$kinetra" adopt 1111:2222
expect keyboard-only 1 "kinetra adopt: no mouse 1234:0001 is plugged in (kinetra mice lists the mice present): plug it in, then adopt it" \
  -- "$kinetra" adopt 1234:0001

# Unplugged, the adopted mouse is still listed, from its record.
mv "$KINETRA_SYSFS_ROOT" "$work/unplugged"
expect mice-unplugged 0 "046d:c52b  Split Receiver (USB, not plugged in)
  5 buttons, wheel, pan
  adopted" -- "$kinetra" mice
mv "$work/unplugged" "$KINETRA_SYSFS_ROOT"

rm "$work/commands"
expect release 0 "released 046d:c52b: the rule is removed and its driver stopped; the mouse works as it did before it was adopted. Its profiles stay in $KINETRA_HOME/.local/share/Kinetra/Mouse-046D-C52B." \
  -- "$kinetra" release 046d:c52b
expect release-commands 0 "udevadm control --reload
systemctl stop zenvor-driver@hidraw3.service
udevadm trigger --action=change --settle $KINETRA_SYSFS_ROOT/class/hidraw/hidraw3
systemctl stop zenvor-driver@hidraw4.service
udevadm trigger --action=change --settle $KINETRA_SYSFS_ROOT/class/hidraw/hidraw4" -- cat "$work/commands"
expect released-as-before 0 "$before" -- "$kinetra" mice
expect release-again 1 "kinetra release: 046d:c52b is not adopted (no $rule): nothing to release" \
  -- "$kinetra" release 046d:c52b
expect release-ours 1 "kinetra release: 5a56:1704 is one of the suite's own mice, served by the suite's own udev rule; it cannot be released" \
  -- "$kinetra" release 5a56:1704

if ((fails)); then
  echo "$fails failed"
  exit 1
fi
echo "kinetra mice, adopt, release: passed"
