#!/usr/bin/env bash
# The installation test: the suite's Debian package, built by cpack from BUILD, installed
# with apt-get into a Debian 12 machine (systemd, udev, logind, a user logged in at the
# seat) booted under qemu (software emulation, TCG); then a USB mouse plugged in, the
# agent, plug cycles, an upgrade, removal, and uninstall.sh on a `cmake --install`.
#
#   run_debian_test.sh --build DIR --cache DIR --work DIR --guest debian-guest-test
#
# The machine's image is made once by image.sh into --cache and reused while nothing that
# goes into it changes. The guest has no network: the image holds what the package needs.
# The package upgraded from is this one with a lower version (VERSION~previous).
#
# Prints a table of the steps (step, result, seconds). On a failure the guest's journal
# (journalctl -b) is kept as WORK/journal.txt.
#
# Environment:
#   VMDEB_TIMEOUT=S   bound on the machine's run, boot included (default 600 s and 4 s a
#                     plug cycle)
#   VMDEB_ONLY=a,b    run only these steps (debian-guest-test --list names them)
#   VMDEB_CYCLES=N    plug and unplug cycles (default 200)
#   VMDEB_ADOPT=0     leave out the step that adopts a plain USB mouse with `kinetra adopt`
#                     and releases it (run by default)
#   VMDEB_CPUS=N      the machine's processors (default 2)
#
# Exit status: 0 passed, 1 failed, 77 skipped (qemu cannot start on this machine).
set -uo pipefail

readonly SKIP=77
here=$(cd "$(dirname "$0")" && pwd)
started=$SECONDS
say() { echo "debian-vm [$((SECONDS - started))s]: $*"; }
fail() {
  echo "debian-vm: FAIL: $*" >&2
  exit 1
}

build="" cache="" work="" guest=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --cache) cache=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --guest) guest=$2; shift 2 ;;
    *) fail "unknown argument '$1'" ;;
  esac
done
[[ -f "$build/CPackConfig.cmake" && -n "$cache" && -n "$work" && -x "$guest" ]] ||
  fail "usage: run_debian_test.sh --build DIR --cache DIR --work DIR --guest PROGRAM"
cycles=${VMDEB_CYCLES:-200}
[[ "$cycles" =~ ^[0-9]+$ ]] || fail "VMDEB_CYCLES takes a count, not '$cycles'"
timeout_seconds=${VMDEB_TIMEOUT:-$((600 + 4 * cycles))}

command -v qemu-system-x86_64 >/dev/null || {
  echo "debian-vm: SKIP: qemu-system-x86_64 is not installed"
  exit "$SKIP"
}
rm -rf "$work" && mkdir -p "$work/payload/bin" "$work/payload/lib" "$work/payload/debs" ||
  fail "cannot create $work"
if ! printf 'quit\n' | timeout 60 qemu-system-x86_64 -accel tcg -m 256 -nodefaults \
  -display none -S -monitor stdio >"$work/qemu-probe.log" 2>&1; then
  echo "debian-vm: SKIP: qemu-system-x86_64 cannot start here: $(tail -n 3 "$work/qemu-probe.log")"
  exit "$SKIP"
fi
for tool in cpack cmake dpkg-deb tar ldd; do
  command -v "$tool" >/dev/null || fail "'$tool' is missing"
done
payload=$work/payload

# --- The packages: this build's, and the same with a lower version -------------------------
say "building the package (cpack)"
cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  fail "cpack failed: $(tail -n 5 "$work/cpack.log")"
deb=$(ls "$work"/package/kinetra_*.deb 2>/dev/null | head -n 1)
[[ -f "$deb" ]] || fail "cpack made no kinetra_*.deb"
version=$(dpkg-deb -f "$deb" Version)
previous="$version~previous"
cp "$deb" "$payload/debs/" || fail "cannot copy $deb"
# Nothing has been released yet to upgrade from; what the upgrade proves (maintainer
# scripts of both versions, the user's files, restarted services) holds for this
# package with a lower version just as well.
unpacked=$work/previous
dpkg-deb -R "$deb" "$unpacked" &&
  sed -i "s/^Version: .*/Version: $previous/" "$unpacked/DEBIAN/control" &&
  dpkg-deb -Zgzip -z1 -b "$unpacked" "$payload/debs/kinetra_${previous}_amd64.deb" \
    >"$work/previous.log" 2>&1 || fail "cannot make the previous version's package"
rm -rf "$unpacked"

# --- An install made with `cmake --install`, in a staging root -----------------------------
say "cmake --install into a staging root"
DESTDIR=$work/staged cmake --install "$build" >"$work/install.log" 2>&1 ||
  fail "cmake --install failed: $(tail -n 5 "$work/install.log")"
tar -C "$work/staged" -cf "$payload/staged.tar" . || fail "cannot pack the staged install"
rm -rf "$work/staged"

# --- The test program, with its own libraries and loader -----------------------------------
cp "$guest" "$payload/bin/debian-guest-test" || fail "cannot copy $guest"
while read -r line; do
  case "$line" in
    *"not found"*) fail "$guest: a shared library is missing: $line" ;;
    *"=> "/*) library=${line#*=> } library=${library%% (*} ;;
    /*) library=${line%% (*} ;;
    *) continue ;;
  esac
  cp -L "$library" "$payload/lib/" || fail "cannot copy $library"
done < <(ldd "$guest")
[[ -x "$payload/lib/ld-linux-x86-64.so.2" ]] || fail "ldd named no ld-linux-x86-64.so.2"
cp "$here/guest.sh" "$payload/guest.sh" && chmod 755 "$payload/guest.sh"
{
  printf '%s\n' --package "/payload/debs/$(basename "$deb")" \
    --previous "/payload/debs/kinetra_${previous}_amd64.deb" --staged /payload/staged.tar \
    --cycles "$cycles"
  [[ -n "${VMDEB_ONLY:-}" ]] && printf '%s\n' --only "$VMDEB_ONLY"
  [[ "${VMDEB_ADOPT:-1}" == 1 ]] && printf '%s\n' --adopt
} >"$payload/guest.args"
# The guest ends its steps 40 s before the host's bound, to save its journal and stop.
echo $((timeout_seconds - 40)) >"$payload/guest.timeout"

# --- The machine's image -------------------------------------------------------------------
# What the package needs and recommends, so that apt-get installs it offline.
needs=$(dpkg-deb -f "$deb" Depends)
recommends=$(dpkg-deb -f "$deb" Recommends)
[[ -n "$recommends" ]] && needs="$needs, $recommends"
say "the Debian 12 image (made once into $cache; the first time takes minutes)"
image=$("$here/image.sh" --cache "$cache" --needs "$needs" --log "$work/image.log") ||
  fail "no image: $(tail -n 5 "$work/image.log")"
say "image $(basename "$image")"

# --- Boot ------------------------------------------------------------------------------------
log=$work/guest.log
say "booting under qemu (TCG), at most ${timeout_seconds}s"
boot_started=$SECONDS
# Two processors, each emulated by a host thread (multi-threaded TCG): udev, systemd, the
# driver, the agent and the test's own program run side by side as on a real machine.
timeout -k 5 "$timeout_seconds" qemu-system-x86_64 -accel tcg,thread=multi -m 1536 \
  -smp "${VMDEB_CPUS:-2}" -nographic \
  -no-reboot -nodefaults -serial stdio -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 quiet kinetra.vmtest systemd.show_status=false" \
  -drive "file=$image/root.img,format=raw,if=virtio,snapshot=on" \
  -virtfs "local,path=$payload,mount_tag=payload,security_model=none,id=payload" \
  -device virtio-rng-pci </dev/null 2>&1 |
  tee "$log.raw" | sed -u 's/\r$//' | grep --line-buffered -E '^(PASS|FAIL|SKIP|RUN ) '
qemu_status=${PIPESTATUS[0]}
tr -d '\r' <"$log.raw" | sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g; s/\x1bc//g' >"$log"
say "machine stopped after $((SECONDS - boot_started))s (qemu status $qemu_status); log: $log"

# --- The step table --------------------------------------------------------------------------
echo
printf '  %-18s %-6s %8s\n' step result seconds
boot=$(sed -n 's/^BOOT //p' "$log" | head -n 1)
[[ -n "$boot" ]] && printf '  %-18s %-6s %8s\n' boot PASS "$boot"
sed -n -E 's/^(PASS|FAIL|SKIP) ([^ :]+)( \(([0-9.]+) s\))?:?.*/\2 \1 \4/p' "$log" |
  while read -r step result seconds; do
    printf '  %-18s %-6s %8s\n' "$step" "$result" "${seconds:--}"
  done
echo
# Why a step was skipped, under the table.
sed -n -E 's/^SKIP ([^ ]+) \([0-9.]+ s\): (.*)/  \1 skipped: \2/p' "$log"

if grep -qx 'VMTEST RESULT: PASS' "$log"; then
  say "PASS"
  exit 0
fi
echo "---- guest log ----"
grep -v '^RUN ' "$log"
echo "---- end of guest log ----"
[[ -f "$payload/journal.txt" ]] && cp "$payload/journal.txt" "$work/journal.txt" &&
  say "the guest's journal: $work/journal.txt"
if [[ $qemu_status -eq 124 || $qemu_status -eq 137 ]]; then
  last=$(sed -n 's/^RUN  //p' "$log" | tail -n 1)
  fail "the machine did not finish within ${timeout_seconds}s${last:+ (in step $last)}"
fi
failed=$(sed -n 's/^FAIL \([^ :]*\).*/\1/p' "$log" | head -n 1)
fail "${failed:+step $failed failed; }$(grep -m1 '^VMTEST RESULT:' "$log" || echo 'the guest printed no VMTEST RESULT line')"
