#!/usr/bin/env bash
# cpack builds the Debian package; lintian finds no errors in it; its contents unpack into
# a test root and its own uninstall.sh removes them all again.
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

# lintian: errors fail the test; the rest is shown.
lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
grep -v 'running with root privileges' "$work/lintian.log"
grep -q '^E: ' "$work/lintian.log" && fail "lintian reports errors"

dpkg-deb -e "$deb" "$work/control"
for script in postinst prerm postrm; do
  [[ -x "$work/control/$script" ]] || fail "no executable $script"
  sh -n "$work/control/$script" || fail "$script does not parse"
done
[[ $(dpkg-deb -f "$deb" Package) == kinetra ]] || fail "package name"

root=$work/root
dpkg-deb -x "$deb" "$root"
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
