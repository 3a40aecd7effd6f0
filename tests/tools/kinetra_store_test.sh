#!/usr/bin/env bash
# The kinetra tool's profile and link subcommands, run as a user runs them on a demo
# tree: listing, choosing, creating, renaming and deleting profiles, the start-up
# profile, application links, the command library and the focus without a desktop.
#   kinetra_store_test.sh KINETRA DATA
set -u
kinetra=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export KINETRA_HOME=$work/home KINETRA_DATA_ROOT=$work/share
mkdir -p "$KINETRA_HOME" "$KINETRA_DATA_ROOT/Devices"
cp -r "$data/Devices/DemoMouse.bundle" "$KINETRA_DATA_ROOT/Devices/"
unset DISPLAY WAYLAND_DISPLAY SWAYSOCK I3SOCK HYPRLAND_INSTANCE_SIGNATURE
folder=$KINETRA_HOME/.local/share/Kinetra/DemoMouse
fails=0

# shellcheck source=expect.sh
source "$(dirname "$0")/expect.sh"
# The first line of what the command says (a program's log may follow).
expect_first() {
  local name=$1 status=$2 expected=$3
  shift 4
  expect "$name" "$status" "$expected" -- bash -c '"$@" 2>&1 | grep -v "^kinetra\[" | head -n 1; exit "${PIPESTATUS[0]}"' _ "$@"
}

expect "a new store lists the default profile, current" 0 \
"Zenvor Demo Mouse (DemoMouse), profiles in $folder
* Default  (default)" -- "$kinetra" profiles --device DemoMouse
expect "new profiles take the smallest free number" 0 "Untitled1  $folder/Untitled1.pr0" -- "$kinetra" new
"$kinetra" new >/dev/null
expect "rename" 0 "renamed Untitled1 to Game" -- "$kinetra" rename Untitled1 Game
expect "new with a name" 0 "Chat  $folder/Chat.pr0" -- "$kinetra" new Chat
expect "never over another" 1 "kinetra new: a profile named 'Chat' exists already" -- "$kinetra" new Chat
"$kinetra" delete Chat >/dev/null
: >"$folder/Empty.pr0"
expect_first "a profile that does not load is refused" 1 \
  "kinetra use: cannot make Empty current: $folder/Empty.pr0: not a readable profile: the text holds no node" \
  -- "$kinetra" use Empty
rm "$folder/Empty.pr0"
expect "rename never overwrites" 1 "kinetra rename: a profile named 'Untitled2' exists already" \
  -- "$kinetra" rename Game Untitled2
expect "use" 0 "current profile: Game" -- "$kinetra" use Game
expect "startup" 0 "start-up profile: Untitled2" -- "$kinetra" startup Untitled2
expect "the list marks current and start-up" 0 \
"Zenvor Demo Mouse (DemoMouse), profiles in $folder
  Default  (default)
* Game
  Untitled2  start-up" -- "$kinetra" profiles
expect "link by path follows links to the program" 0 "linked file:$(readlink -f /bin/sh) to Game" \
  -- "$kinetra" link /bin/sh Game
expect "link by key keeps escapes" 0 "linked file:/opt/My%20App/app to Untitled2" \
  -- "$kinetra" link 'file:///opt/My%20App/./app/' Untitled2
expect "link to a missing profile" 1 "kinetra link: no profile named 'Nope' (see kinetra profiles)" \
  -- "$kinetra" link /bin/sh Nope
expect "renaming a linked profile moves its links" 0 "renamed Untitled2 to Work" \
  -- "$kinetra" rename Untitled2 Work
expect "links" 0 "file:$(readlink -f /bin/sh)  Game
file:/opt/My%20App/app  Work" -- "$kinetra" links
# One mistyped tag in the links: reported with its line, nothing written, reset keeps it.
cp "$folder/mappings.xml" "$work/links-before"
sed -i '0,/<string>/s/<string>/<strng>/' "$folder/mappings.xml"
cp "$folder/mappings.xml" "$work/links-damaged"
expect_first "damaged links are reported" 1 \
  "kinetra links: $folder/mappings.xml: not a property list (line 6: <strng> is not an element of this file)" \
  -- "$kinetra" links
expect_first "and never written over" 1 \
  "kinetra link: $folder/mappings.xml: not a property list (line 6: <strng> is not an element of this file); no link was written, so that none of the file's links is lost (repair the file, or reset the links: the damaged file is kept)" \
  -- "$kinetra" link /bin/sh Work
cmp -s "$folder/mappings.xml" "$work/links-damaged" || { echo "FAIL the damaged links were written"; fails=$((fails + 1)); }
"$kinetra" links --reset >/dev/null 2>&1
copy=$(ls "$folder"/mappings.xml.damaged-* 2>/dev/null)
cmp -s "$copy" "$work/links-damaged" || { echo "FAIL reset kept no copy of the damaged links"; fails=$((fails + 1)); }
expect "links start afresh" 0 "no application is linked to a profile (see kinetra link)" -- "$kinetra" links
cp "$work/links-before" "$folder/mappings.xml"
expect "unlink" 0 "unlinked file:/opt/My%20App/app" -- "$kinetra" unlink file:/opt/My%20App/app
expect "unlink what has no link" 1 "kinetra unlink: file:/opt/My%20App/app has no link" \
  -- "$kinetra" unlink file:/opt/My%20App/app
expect "deleting the current profile brings the default back" 0 "deleted Game" -- "$kinetra" delete Game
expect "and drops its links" 0 "no application is linked to a profile (see kinetra link)" \
  -- "$kinetra" links
expect "the default profile stays" 1 \
  "kinetra delete: the default profile 'Default' comes with the device and stays" -- "$kinetra" delete Default
expect "no profile" 0 "no profile is active" -- "$kinetra" use --none
expect "the list says so" 0 \
"Zenvor Demo Mouse (DemoMouse), profiles in $folder
  Default  (default)
  Work  start-up
no profile is active" -- "$kinetra" profiles
expect "an unknown device" 1 "kinetra profiles: no device with alias 'Nope' (found: DemoMouse)" \
  -- "$kinetra" profiles --device Nope
expect "no desktop: the focus cannot be followed" 1 \
  "kinetra focus: no desktop session was found (neither WAYLAND_DISPLAY nor DISPLAY is set); profiles linked to applications stay inactive" \
  -- "$kinetra" focus
# Installed as the package does: the bundle in MainstreamDevices, a link to it in Devices.
mkdir -p "$KINETRA_DATA_ROOT/MainstreamDevices"
mv "$KINETRA_DATA_ROOT/Devices/DemoMouse.bundle" "$KINETRA_DATA_ROOT/MainstreamDevices/"
ln -s ../MainstreamDevices/DemoMouse.bundle "$KINETRA_DATA_ROOT/Devices/DemoMouse.bundle"
expect "a bundle linked into Devices is one device" 0 "current profile: Work" -- "$kinetra" use Work
out=$("$kinetra" commands)
for name in Copy Paste Undo 'Play or pause'; do
  [[ "$out" == *"name=\"$name\""* ]] || { echo "FAIL commands lacks $name"; fails=$((fails + 1)); }
done
exit $((fails > 0))
