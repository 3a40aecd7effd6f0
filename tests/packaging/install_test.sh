#!/usr/bin/env bash
# `cmake --install` into a staging root lays out the suite as designed, and the installed
# uninstall.sh removes exactly what was installed (stopping units and reloading udev on
# the way), leaving files it did not install alone.
#   install_test.sh BUILD_DIR
set -u
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
fails=0
fail() {
  printf 'FAIL %s\n' "$*"
  fails=$((fails + 1))
}

if ! DESTDIR=$root cmake --install "$build" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "FAIL cmake --install"
  exit 1
fi

pane="$root/usr/lib/kinetra/Applications/Zenvor Editor.prefPane/Contents"
for path in \
  usr/lib/kinetra/libZVDeviceLib.so.0 \
  usr/lib/kinetra/Applications/Kinetra.app/Contents/Info.plist \
  usr/lib/kinetra/Applications/Kinetra.app/Contents/Linux/kinetra \
  usr/lib/kinetra/Applications/Kinetra.app/Contents/Resources/tevnodes.prototype \
  "usr/lib/kinetra/Applications/Zenvor Editor.prefPane/Contents/Info.plist" \
  "usr/lib/kinetra/Applications/Zenvor Editor.prefPane/Contents/Linux/gable" \
  "usr/lib/kinetra/Applications/Zenvor Editor.prefPane/Contents/Resources/en.lproj/InfoPlist.strings" \
  usr/share/kinetra/MainstreamDevices/DemoMouse.bundle/Contents/Info.plist \
  usr/share/kinetra/Devices/DemoMouse.bundle/Contents/Info.plist \
  usr/share/applications/gable.desktop \
  usr/share/gnome-shell/extensions/focus@kinetra.zenvor.com/metadata.json \
  usr/share/gnome-shell/extensions/focus@kinetra.zenvor.com/extension.js \
  usr/share/man/man1/kinetra.1.gz \
  usr/share/man/man1/gable.1.gz \
  usr/share/doc/kinetra/copyright; do
  [[ -f "$root/$path" ]] || fail "not installed: /$path"
done
[[ -x "$pane/Resources/uninstall.sh" ]] || fail "uninstall.sh is not executable"
for command in kinetra gable; do
  [[ -L "$root/usr/bin/$command" && -x "$root/usr/bin/$command" ]] ||
    fail "/usr/bin/$command is not a working link"
  [[ $(readlink "$root/usr/bin/$command") == ../lib/kinetra/Applications/* ]] ||
    fail "/usr/bin/$command is not a relative link into the Applications folder"
done
# The installed tool runs from the staging root: it finds its library and its bundle.
[[ $("$root/usr/bin/kinetra" update compare 1.2 1.3 2>&1) == 1 ]] || fail "installed kinetra does not run"

# The manifest names every file and link installed, and nothing else.
manifest=$pane/Resources/uninstall.manifest
(cd "$root" && find . -type f -o -type l) | sed 's|^\.||' | sort >"$work/found"
sort "$manifest" >"$work/listed"
diff "$work/listed" "$work/found" >"$work/diff" || {
  fail "manifest and installed files differ"
  cat "$work/diff"
}

# Units and rules of every kind, as their lines would record them: those the build does
# not install (yet) get a stand-in.
for path in /lib/systemd/system/zenvor-driver@.service /lib/systemd/system/kinetra-test.service \
  /lib/udev/rules.d/70-kinetra.rules /usr/lib/systemd/user/perch.service; do
  grep -qxF "$path" "$manifest" && continue
  mkdir -p "$root${path%/*}"
  echo "[Unit]" >"$root$path"
  echo "$path" >>"$manifest"
done
# A device bundle somebody added by hand is not the uninstaller's to remove.
mkdir -p "$root/usr/share/kinetra/Devices/Other.bundle/Contents"
echo mine >"$root/usr/share/kinetra/Devices/Other.bundle/Contents/Info.plist"

# Copied elsewhere, the script refuses; without its manifest it removes nothing.
cp "$pane/Resources/uninstall.sh" "$work/uninstall.sh"
out=$(sh "$work/uninstall.sh" 2>&1) && fail "a misplaced uninstall.sh ran"
[[ $out == "uninstall.sh: run the copy installed in /usr/lib/kinetra/Applications/Zenvor Editor.prefPane/Contents/Resources" ]] ||
  fail "misplaced: $out"
mv "$manifest" "$work/manifest"
sh "$pane/Resources/uninstall.sh" >/dev/null 2>&1 && fail "uninstall.sh ran without its manifest"
[[ -f "$root/usr/bin/kinetra" ]] || fail "uninstall.sh without a manifest removed files"
mv "$work/manifest" "$manifest"

# Stand-ins for the service tools record what the uninstaller asks of them.
mkdir -p "$work/bin"
for tool in systemctl udevadm; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$tool" "$work/services.log" >"$work/bin/$tool"
  chmod +x "$work/bin/$tool"
done
count=$(wc -l <"$manifest")
out=$(KINETRA_UNINSTALL_SERVICES=1 PATH="$work/bin:$PATH" sh "$pane/Resources/uninstall.sh" 2>&1) ||
  fail "uninstall.sh failed: $out"
[[ $out == "uninstall.sh: removed $count files" ]] || fail "uninstall.sh said: $out"
# The daemons stop first and the reloads come last; the units in between are disabled in
# the order of the manifest.
expected="systemctl stop zenvor-driver@*.service
systemctl --global disable perch.service
systemctl disable --now kinetra-test.service
systemctl daemon-reload
udevadm control --reload-rules"
steps=$(cat "$work/services.log" 2>/dev/null || true)
got=$( (head -n 1; ) <<<"$steps"; sed '1d;$d' <<<"$steps" | sed '$d' | sort; tail -n 2 <<<"$steps")
[[ $got == "$expected" ]] || fail "service steps: expected [$expected], got [$steps]"

left=$(cd "$root" && find . \( -type f -o -type l \) ! -path './usr/share/kinetra/Devices/Other.bundle/*')
[[ -z "$left" ]] || fail "left behind: $left"
[[ -f "$root/usr/share/kinetra/Devices/Other.bundle/Contents/Info.plist" ]] ||
  fail "removed a file it did not install"
for folder in usr/lib/kinetra usr/share/doc/kinetra; do
  [[ ! -e "$root/$folder" ]] || fail "folder left behind: /$folder"
done

if [[ $fails -gt 0 ]]; then
  echo "$fails failures"
  exit 1
fi
echo "install and uninstall: ok"
