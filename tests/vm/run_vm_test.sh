#!/usr/bin/env bash
# Boots Debian 12's kernel under qemu (software emulation, TCG) with an initramfs holding
# busybox, the kernel modules hid, hid-generic, uhid, evdev and uinput, vm-guest-test and the
# suite's programs, and passes when the guest prints "VMTEST RESULT: PASS".
#
#   run_vm_test.sh --cache DIR --work DIR --init init.sh --guest vm-guest-test
#                  [--reports N] [--binary PROGRAM]... [--data SOURCE:GUEST_PATH]...
#
# --reports sets the reports per latency measurement (VMTEST_REPORTS overrides it).
# --binary copies a program (with the shared libraries ldd names) to /opt/kinetra/bin;
# --data copies a file or folder to GUEST_PATH. The kernel package is resolved through apt
# (linux-image-amd64 → linux-image-6.1.*), downloaded once into the cache and reused.
#
# Environment:
#   VMTEST_TIMEOUT=S      bound on the boot and the checks together (default 195)
#   VMTEST_ONLY=a,b       run only these guest checks
#   VMTEST_REPORTS=N      reports per latency measurement
#   VMTEST_BREAK=LINK     break a link on purpose; the run must then fail:
#                         uinput-missing (the uinput module is not loaded),
#                         wrong-descriptor, no-grab, no-agent-output (see
#                         vm-guest-test --help)
#
# Exit status: 0 passed, 1 failed, 77 skipped (qemu cannot start on this machine).
set -uo pipefail

readonly SKIP=77
started=$SECONDS

say() { echo "vm [$((SECONDS - started))s]: $*"; }
fail() {
  echo "vm: FAIL: $*" >&2
  exit 1
}
skip() {
  echo "vm: SKIP: $*"
  exit "$SKIP"
}

cache="" work="" init="" guest="" reports=""
binaries=() data=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --cache) cache=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --init) init=$2; shift 2 ;;
    --guest) guest=$2; shift 2 ;;
    --reports) reports=$2; shift 2 ;;
    --binary) binaries+=("$2"); shift 2 ;;
    --data) data+=("$2"); shift 2 ;;
    *) fail "unknown argument '$1'" ;;
  esac
done
[[ -n "$cache" && -n "$work" && -f "$init" && -x "$guest" ]] ||
  fail "usage: run_vm_test.sh --cache DIR --work DIR --init FILE --guest PROGRAM [--binary P]... [--data S:D]..."

timeout_seconds=${VMTEST_TIMEOUT:-195}
break_link=${VMTEST_BREAK:-}
case "$break_link" in
  "" | uinput-missing | wrong-descriptor | no-grab | no-agent-output) ;;
  *) fail "VMTEST_BREAK=$break_link: no such link (uinput-missing, wrong-descriptor, no-grab, no-agent-output)" ;;
esac

# --- Can qemu start at all? The one reason to skip rather than fail. -----------------------
command -v qemu-system-x86_64 >/dev/null ||
  skip "qemu-system-x86_64 is not installed (scripts/bootstrap installs qemu-system-x86)"
mkdir -p "$cache" "$work" || fail "cannot create $cache or $work"
# A stopped machine (-S) that quits from its monitor: starts in well under a second.
if ! printf 'quit\n' | timeout 60 qemu-system-x86_64 -accel tcg -m 512 -smp 1 -nodefaults \
  -display none -S -monitor stdio >"$work/qemu-probe.log" 2>&1; then
  skip "qemu-system-x86_64 cannot start here: $(tail -n 3 "$work/qemu-probe.log")"
fi

for tool in apt-cache apt-get dpkg-deb cpio busybox ldd objcopy; do
  command -v "$tool" >/dev/null ||
    fail "'$tool' is missing (scripts/bootstrap installs busybox-static and cpio)"
done

# --- The kernel package ------------------------------------------------------------------
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-6\.1\./ { print $2; exit }'
}

package=$(kernel_package)
if [[ -z "$package" && $(id -u) -eq 0 ]]; then
  say "apt knows no linux-image-amd64 yet; reading the package lists (apt-get update)"
  apt-get update -qq >"$work/apt-update.log" 2>&1 || true
  package=$(kernel_package)
fi

deb=""
if [[ -n "$package" ]]; then
  version=$(apt-cache policy "$package" | awk '$1 == "Candidate:" { print $2; exit }')
  deb="$cache/${package}_${version//:/%3a}_amd64.deb"
  if [[ -z "$version" || "$version" == "(none)" ]]; then
    deb=""
    say "apt names $package but offers no version of it"
  elif [[ -f "$deb" ]]; then
    say "kernel package $package $version (cached)"
  else
    say "downloading kernel package $package $version"
    partial="$cache/partial.$$"
    rm -rf "$partial" && mkdir -p "$partial"
    sandbox=()
    [[ $(id -u) -eq 0 ]] && sandbox=(-o APT::Sandbox::User=root)
    if (cd "$partial" && timeout 120 apt-get download -qq "${sandbox[@]}" "$package=$version") \
      >"$work/apt-download.log" 2>&1 && mv "$partial"/*.deb "$deb"; then
      say "downloaded $(du -h "$deb" | cut -f1)"
      # One kernel is enough: drop older packages and what was unpacked from them.
      for old in "$cache"/linux-image-*.deb; do
        [[ "$old" != "$deb" ]] && rm -rf "$old" "${old%.deb}"
      done
    else
      deb=""
      say "download failed: $(tail -n 2 "$work/apt-download.log")"
    fi
    rm -rf "$partial"
  fi
fi
if [[ -z "$deb" ]]; then
  # Offline, or no apt lists: the newest kernel downloaded before still proves the chain.
  deb=$(ls -1 "$cache"/linux-image-6.1.*_amd64.deb 2>/dev/null | sort -V | tail -n 1)
  [[ -n "$deb" ]] ||
    fail "cannot get Debian's kernel: apt resolves no linux-image-amd64 → linux-image-6.1.* (run apt-get update) and nothing is cached in $cache"
  say "using the cached $(basename "$deb")"
fi

# --- vmlinuz and the modules ---------------------------------------------------------------
tree="$cache/$(basename "$deb" .deb)"
extract() {  # extract PATTERN...: members of the package into $tree
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$tree" --wildcards "$@" 2>/dev/null
}
# Everything the guest loads is in these folders: one pass over the 70 MB package. The
# stamp names them, so a cache unpacked for another list is unpacked again.
members=('./boot/vmlinuz-*' './lib/modules/*/kernel/drivers/hid/*'
  './lib/modules/*/kernel/drivers/input/*' './lib/modules/*/kernel/drivers/usb/*'
  './lib/modules/*/kernel/fs/configfs/*')
if [[ "$(cat "$tree/.complete" 2>/dev/null)" != "${members[*]}" ]]; then
  say "extracting the kernel and the HID, input and USB modules"
  rm -rf "$tree" && mkdir -p "$tree"
  extract "${members[@]}" || fail "cannot unpack $deb"
  echo "${members[*]}" >"$tree/.complete"
fi
vmlinuz=$(ls -1 "$tree"/boot/vmlinuz-* 2>/dev/null | head -n 1)
[[ -n "$vmlinuz" ]] || fail "$deb holds no /boot/vmlinuz-*"

root="$work/root"
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc/vmtest,lib/modules,opt/kinetra/bin,opt/kinetra/lib} ||
  fail "cannot create $root"

# module_file NAME: the module's file in the package (names use - and _ interchangeably).
module_file() {
  local pattern=${1//[-_]/[-_]}
  find "$tree/lib/modules" -name "$pattern.ko" -o -name "$pattern.ko.xz" -o -name "$pattern.ko.zst" |
    head -n 1
}

# install_module NAME: the module, decompressed, into the initramfs, after its dependencies;
# appends to $load_order.
load_order=()
install_module() {
  local name=$1 file dependency
  for loaded in "${load_order[@]}"; do [[ "${loaded//-/_}" == "${name//-/_}" ]] && return 0; done
  file=$(module_file "$name")
  if [[ -z "$file" ]]; then
    extract "./lib/modules/*/${name//[-_]/[-_]}.ko*" || true
    file=$(module_file "$name")
  fi
  [[ -n "$file" ]] || fail "the kernel package has no module $name"
  local target="$root/lib/modules/$name.ko"
  case "$file" in
    *.xz) xz -dc "$file" >"$target" ;;
    *.zst) zstd -qdc "$file" >"$target" ;;
    *) cp "$file" "$target" ;;
  esac || fail "cannot decompress $file (xz-utils or zstd missing?)"
  for dependency in $(tr '\0' '\n' <"$target" | sed -n 's/^depends=//p' | tr ',' ' '); do
    install_module "$dependency"
  done
  load_order+=("$name")
}
# The HID and input core first, in this order; then a USB host and device controller pair
# with the gadget framework's HID function, which plays a mouse on a real USB bus.
for module in hid hid-generic uhid evdev uinput usbhid configfs libcomposite usb_f_hid dummy_hcd; do
  [[ "$module" == uinput && "$break_link" == uinput-missing ]] && continue
  install_module "$module"
done

# --- The initramfs -------------------------------------------------------------------------
# copy_binary FILE TARGET: without debug information, which the guest has no use for and
# which would triple the initramfs; symbols stay, so sanitizer reports still name functions.
copy_binary() {
  [[ -e "$2" ]] && return 0
  objcopy --strip-debug "$1" "$2" 2>/dev/null || cp -L "$1" "$2" || fail "cannot copy $1"
}

# copy_program FILE DEST: the program and every shared library ldd names for it. Libraries go
# to /opt/kinetra/lib (the guest's LD_LIBRARY_PATH), the program interpreter to its own path.
copy_program() {
  local file=$1 dest=$2 line library
  [[ -x "$file" ]] || fail "$file is not built (cmake --build --preset PRESET --target vm)"
  copy_binary "$file" "$root$dest"
  while read -r line; do
    case "$line" in
      *"not found"*) fail "$file: a shared library is missing: $line" ;;
      *"=> "/*)
        library=${line#*=> } library=${library%% (*}
        copy_binary "$library" "$root/opt/kinetra/lib/$(basename "$library")"
        ;;
      /*)
        library=${line%% (*}
        mkdir -p "$root$(dirname "$library")" && copy_binary "$library" "$root$library"
        ;;
    esac
  done < <(ldd "$file" 2>/dev/null)
}

busybox_path=$(command -v busybox)
copy_program "$busybox_path" /bin/busybox
cp "$init" "$root/init" && chmod 755 "$root/init"
copy_program "$guest" /opt/kinetra/bin/vm-guest-test
for program in "${binaries[@]}"; do
  copy_program "$program" "/opt/kinetra/bin/$(basename "$program")"
done
for pair in "${data[@]}"; do
  source_path=${pair%%:*} guest_path=${pair#*:}
  [[ -e "$source_path" ]] || fail "--data $source_path does not exist"
  mkdir -p "$root$(dirname "$guest_path")"
  cp -a "$source_path" "$root$guest_path" || fail "cannot copy $source_path"
done

guest_args=()
[[ -n "${VMTEST_ONLY:-}" ]] && guest_args+=(--only "$VMTEST_ONLY")
reports=${VMTEST_REPORTS:-$reports}
[[ -n "$reports" ]] && guest_args+=(--reports "$reports")
[[ -n "$break_link" && "$break_link" != uinput-missing ]] &&
  guest_args+=(--break "$break_link")
{
  printf 'MODULES=%q\nGUEST_ARGS=%q\n' "${load_order[*]}" "${guest_args[*]}"
  # A sanitizer build reports in the guest as the test preset asks on the host.
  for variable in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
    [[ -n "${!variable:-}" ]] && printf 'export %s=%q\n' "$variable" "${!variable}"
  done
} >"$root/etc/vmtest/config"

initrd="$work/initrd.cpio"
(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) >"$initrd" ||
  fail "cannot build the initramfs"
say "initramfs $(du -h "$initrd" | cut -f1), modules: ${load_order[*]}${break_link:+, broken on purpose: $break_link}"

# --- Boot ------------------------------------------------------------------------------------
log="$work/guest.log"
say "booting $(basename "$vmlinuz") under qemu (TCG), at most ${timeout_seconds}s"
# Each check's verdict is shown as the guest prints it, as progress.
timeout -k 5 "$timeout_seconds" qemu-system-x86_64 -accel tcg -m 512 -smp 1 -nographic \
  -no-reboot -nodefaults -serial stdio -kernel "$vmlinuz" -initrd "$initrd" \
  -append "console=ttyS0 panic=-1 quiet rdinit=/init" </dev/null 2>&1 |
  tee "$log.raw" | sed -u 's/\r$//' | grep --line-buffered -E '^(PASS|FAIL|BROKEN) '
qemu_status=${PIPESTATUS[0]}
# The serial line ends lines with CR LF and qemu's terminal set-up leaves escape sequences.
tr -d '\r' <"$log.raw" | sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g; s/\x1bc//g' >"$log"
say "guest finished (qemu status $qemu_status); log: $log"
if grep -q '^METRIC ' "$log"; then
  echo
  echo "Latency in the guest (emulated: TCG, compare the rows with each other only)"
  printf '  %-24s %7s %10s %10s %10s\n' path reports "p50 µs" "p99 µs" "max µs"
  sed -n 's/^METRIC latency\.//p' "$log" | while read -r name count p50 p99 max; do
    printf '  %-24s %7s %10s %10s %10s\n' "$name" "${count#n=}" "${p50#p50_us=}" \
      "${p99#p99_us=}" "${max#max_us=}"
  done
  echo
fi

if grep -qx 'VMTEST RESULT: PASS' "$log"; then
  say "PASS"
  exit 0
fi
echo "---- guest log ----"
cat "$log"
echo "---- end of guest log ----"
if [[ $qemu_status -eq 124 || $qemu_status -eq 137 ]]; then
  fail "the guest did not finish within ${timeout_seconds}s"
fi
result=$(grep -m1 '^VMTEST RESULT:' "$log")
fail "${result:-the guest printed no VMTEST RESULT line}"
