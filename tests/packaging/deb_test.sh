#!/usr/bin/env bash
# cpack builds the Debian package; lintian finds nothing in it that its overrides do not
# explain; its contents unpack into a test root and its own uninstall.sh removes them all
# again.
#   deb_test.sh BUILD_DIR       (exit 77: skipped, lintian is missing)
set -u
build=$1
if ! command -v lintian >/dev/null; then
  echo "SKIP: lintian is not installed (scripts/bootstrap installs it)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
fail() {
  printf 'FAIL %s\n' "$*"
  fails=$((fails + 1))
}

if ! cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL cpack"
  exit 1
fi
deb=$(ls "$work"/package/kinetra_*.deb 2>/dev/null | head -n 1)
[[ -f "$deb" ]] || {
  echo "FAIL no .deb in $work/package"
  exit 1
}

# lintian at the pedantic level: every tag fails the test unless the package's overrides
# (each with its reason) explain it.
lintian --pedantic --display-info --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
grep -v 'running with root privileges' "$work/lintian.log"
grep -q '^[EWIPX]: ' "$work/lintian.log" && fail "lintian reports tags that no override explains"

dpkg-deb -e "$deb" "$work/control"
for script in postinst prerm postrm; do
  [[ -x "$work/control/$script" ]] || fail "no executable $script"
  sh -n "$work/control/$script" || fail "$script does not parse"
done
[[ $(dpkg-deb -f "$deb" Package) == kinetra ]] || fail "package name"

root=$work/root
dpkg-deb -x "$deb" "$root"
# What a user installing it meets: a manual page for every program, a description that
# names the programs, an autostart entry that is skipped once the agent is gone, and the
# mice the package is for in its metainfo.
for program in "$root"/usr/bin/* "$root"/usr/sbin/*; do
  name=$(basename "$program")
  ls "$root"/usr/share/man/man[18]/"$name".[18].gz >/dev/null 2>&1 || fail "no manual page for $name"
done
description=$(dpkg-deb -f "$deb" Description)
for program in zenvor-driver perch tessel; do
  [[ "$description" == *"$program"* ]] || fail "the description does not name $program"
done
grep -qx 'TryExec=perch' "$root/etc/xdg/autostart/perch.desktop" || fail "no TryExec in the autostart entry"
grep -q '<modalias>usb:v5A56p1704d\*</modalias>' "$root"/usr/share/metainfo/*.metainfo.xml ||
  fail "the metainfo file does not name the demo mouse"
uninstall="$root/usr/lib/kinetra/Applications/Zenvor Editor.prefPane/Contents/Resources/uninstall.sh"
[[ -x "$uninstall" ]] || fail "the package holds no uninstall.sh"
# Every file of the package is in the uninstaller's list.
(cd "$root" && find . -type f -o -type l) | sed 's|^\.||' | sort >"$work/found"
sort "${uninstall%.sh}.manifest" | diff - "$work/found" || fail "manifest and package differ"
sh "$uninstall" >/dev/null || fail "uninstall.sh failed"
left=$(cd "$root" && find . -type f -o -type l)
[[ -z "$left" ]] || fail "left behind: $left"

if [[ $fails -gt 0 ]]; then
  echo "$fails failures"
  exit 1
fi
echo "package $(basename "$deb"): ok"
