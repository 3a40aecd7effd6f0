#!/usr/bin/env bash
# Makes, once, the Debian 12 system the installation test boots, and prints its folder:
#
#   image.sh --cache DIR --needs 'DEPENDS' [--log FILE]
#     → DIR/debian12-<key>/ holding root.img (ext4), vmlinuz, initrd.img, packages.txt
#
# The system is debootstrap's minimal variant with systemd as init and udev, plus D-Bus,
# logind's PAM module and Debian's kernel (whose modules udev loads), and everything
# DEPENDS names (a Depends field: the suite's package's dependencies and recommendations),
# so that the package installs offline. Two users: "player", logged in on tty1 at boot (the
# seat's active session), and "visitor". rootfs/ beside this script is copied over it: the
# autologin and the unit that runs the host's test at boot.
#
# The key hashes everything that goes into the image (this script, rootfs/, DEPENDS): a
# change of any builds a new image and removes the old one; otherwise the image is reused.
# Downloaded packages are kept in DIR/debs for the next build. Building needs root (chroot)
# and Debian's mirror.
set -uo pipefail

readonly SUITE=bookworm
readonly MIRROR=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
readonly SECURITY_MIRROR=${DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
# The base of the system: what a desktop's Debian has for devices, sessions and services.
readonly BASE_PACKAGES="linux-image-amd64 dbus libpam-systemd kmod procps"

here=$(cd "$(dirname "$0")" && pwd)
cache="" needs="" log=/dev/stderr
while [[ $# -gt 0 ]]; do
  case "$1" in
    --cache) cache=$2; shift 2 ;;
    --needs) needs=$2; shift 2 ;;
    --log) log=$2; shift 2 ;;
    *) echo "image.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
[[ -n "$cache" ]] || { echo "usage: image.sh --cache DIR --needs DEPENDS [--log FILE]" >&2; exit 2; }
mkdir -p "$cache" && cache=$(cd "$cache" && pwd) || { echo "image.sh: cannot create $cache" >&2; exit 1; }

fail() {
  echo "image.sh: $*" >&2
  exit 1
}
say() { echo "image [$SECONDS s]: $*" >&2; }

key=$( {
  cat "$0"
  (cd "$here/rootfs" && find . -type f | LC_ALL=C sort | while read -r f; do
    stat -c '%n %a' "$f"
    cat "$f"
  done)
  echo "$SUITE $MIRROR $SECURITY_MIRROR $BASE_PACKAGES"
  echo "$needs"
} | sha256sum | cut -c1-16)
image="$cache/debian12-$key"
if [[ -f "$image/.complete" ]]; then
  echo "$image"
  exit 0
fi

[[ $(id -u) -eq 0 ]] || fail "building the image needs root (debootstrap, chroot)"
command -v debootstrap >/dev/null || fail "debootstrap is missing (scripts/bootstrap installs it)"
command -v mke2fs >/dev/null || fail "mke2fs is missing (e2fsprogs)"

mkdir -p "$cache/debs" || fail "cannot create $cache/debs"
building="$cache/building.$$"
root="$building/root"
rm -rf "$building" && mkdir -p "$root"
trap 'rm -rf "$building"' EXIT

# Runs a command inside the new system, with /proc, /sys and /dev of its own mount
# namespace (nothing stays mounted when it ends) and the download cache bound in.
in_root() {
  unshare --mount --propagation private -- bash -c '
    root=$1; shift
    mount -t proc proc "$root/proc" && mount -t sysfs sysfs "$root/sys" &&
      mount --rbind /dev "$root/dev" &&
      mount --bind "$CACHE_DEBS" "$root/var/cache/apt/archives" || exit 1
    exec chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 \
      DEBIAN_FRONTEND=noninteractive "$@"' in_root "$root" "$@"
}
export CACHE_DEBS="$cache/debs"

say "debootstrap $SUITE (minbase with systemd and udev) from $MIRROR"
debootstrap --variant=minbase --include=systemd-sysv,udev --cache-dir="$cache/debs" \
  "$SUITE" "$root" "$MIRROR" >>"$log" 2>&1 || fail "debootstrap failed (see $log)"

cat >"$root/etc/apt/sources.list" <<EOF
deb $MIRROR $SUITE main
deb $MIRROR $SUITE-updates main
deb $SECURITY_MIRROR $SUITE-security main
EOF
# The machine boots from a virtio disk: an initramfs with just what mounts it unpacks in a
# fraction of the time a generic one takes under emulation.
mkdir -p "$root/etc/initramfs-tools/conf.d"
echo MODULES=list >"$root/etc/initramfs-tools/conf.d/vmtest.conf"
printf '%s\n' virtio_pci virtio_blk ext4 >"$root/etc/initramfs-tools/modules"
# Nothing is started inside the chroot while packages are installed.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d" && chmod 755 "$root/usr/sbin/policy-rc.d"
say "installing the kernel, D-Bus, logind's PAM module and the package's dependencies"
in_root apt-get update -q >>"$log" 2>&1 || fail "apt-get update in the new system failed (see $log)"
in_root apt-get install -y -q --no-install-recommends -o Dpkg::Options::=--force-confold \
  $BASE_PACKAGES >>"$log" 2>&1 ||
  fail "installing $BASE_PACKAGES failed (see $log)"
if [[ -n "$needs" ]]; then
  in_root apt-get satisfy -y -q "$needs" >>"$log" 2>&1 ||
    fail "installing what the package needs ($needs) failed (see $log)"
fi
in_root dpkg-query -W -f '${Package} ${Version}\n' >"$building/packages.txt"
rm -f "$root/usr/sbin/policy-rc.d"

say "configuring users, autologin and the test unit"
echo debvm >"$root/etc/hostname"
printf '127.0.0.1 localhost\n127.0.1.1 debvm\n' >"$root/etc/hosts"
printf '/dev/vda / ext4 rw,errors=remount-ro 0 1\n' >"$root/etc/fstab"
# A fixed machine id: every boot of the image is the same machine, never a "first boot".
printf '%s\n' "$key$key" >"$root/etc/machine-id"
cp -a "$here/rootfs/." "$root/" || fail "cannot copy rootfs/"
in_root useradd --create-home --shell /bin/bash --uid 1000 player >>"$log" 2>&1 &&
  in_root useradd --create-home --shell /bin/bash --uid 1001 visitor >>"$log" 2>&1 ||
  fail "cannot create the users"
in_root systemctl enable kinetra-vmtest.service >>"$log" 2>&1 || fail "cannot enable the test unit"
# The first serial port carries the test's output; timers that would start apt or disk
# jobs during the test stay off.
for unit in serial-getty@ttyS0.service apt-daily.timer apt-daily-upgrade.timer \
  e2scrub_all.timer fstrim.timer; do
  ln -sf /dev/null "$root/etc/systemd/system/$unit"
done
# Downloads went to the cache bound over the archives folder; none stays in the image.
rm -f "$root"/var/cache/apt/archives/*.deb

vmlinuz=$(ls -1 "$root"/boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1)
initrd=$(ls -1 "$root"/boot/initrd.img-* 2>/dev/null | sort -V | tail -n 1)
[[ -f "$vmlinuz" && -f "$initrd" ]] || fail "the new system has no kernel or initramfs in /boot"
cp "$vmlinuz" "$building/vmlinuz" && cp "$initrd" "$building/initrd.img" ||
  fail "cannot copy the kernel"

# The root file system, with room for the installs the test makes.
size_mb=$(($(du -sm "$root" | cut -f1) + 768))
say "writing root.img (${size_mb} MB, ext4)"
mke2fs -q -t ext4 -L debvm-root -d "$root" "$building/root.img" "${size_mb}M" >>"$log" 2>&1 ||
  fail "mke2fs failed (see $log)"
rm -rf "$root"
touch "$building/.complete"

# One image is enough: older ones go.
for old in "$cache"/debian12-*; do
  [[ -e "$old" ]] && rm -rf "$old"
done
mv "$building" "$image" || fail "cannot move the image into $image"
trap - EXIT
say "image ready: $image"
echo "$image"
