#!/usr/bin/env bash
# The kinetra tool's profile subcommands, run as a user runs them, on the demo bundle's
# profiles and on small hand-made files.
#   kinetra_profile_test.sh KINETRA DATA-FOLDER
set -u
kinetra=$1
data=$2
resources=$data/Devices/DemoMouse.bundle/Contents/Resources
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0

# shellcheck source=expect.sh
source "$(dirname "$0")/expect.sh"

expect roundtrip-default 0 "identical: $resources/Default.pr0 (7718 bytes of text)" \
  -- "$kinetra" profile roundtrip "$resources/Default.pr0"
expect roundtrip-seed 0 "identical: $resources/Seed.pr0 (790 bytes of text)" \
  -- "$kinetra" profile roundtrip "$resources/Seed.pr0"
expect check-default 0 'profile "Default": 1 controller, 1 blast record
controller "DemoMouse": 20 controls (15 button, 1 hat, 2 motion, 1 precision, 1 wheel), 2 shift states
  shift state "Normal": 13 triggers
  shift state "Media": 6 triggers, selection set 0x9000e+0x90010, fallback "Normal", shift command "Mute while held"
nodes: 177; triggers: 19; references: 2 resolved, 0 unresolved' \
  -- "$kinetra" profile check "$resources/Default.pr0"

# A hand-made file: UTF-8, one line, an unresolved reference.
printf '[profile=U [controller=C [shift={A} name=One fallback={Z} [trigger=0x9001E ]]]]' >"$work/u.pr0"
expect check-unresolved 0 'profile "U": 1 controller
controller "C": 0 controls, 1 shift state
  shift state "One": 1 trigger
nodes: 4; triggers: 1; references: 0 resolved, 1 unresolved
unresolved reference: fallback={Z} in shift {A} "One"' -- "$kinetra" profile check "$work/u.pr0"
expect to-json 0 '{"profile":"U","_obj_order":["profile","controller"],"controllers":[{"controller":"C","_obj_order":["controller","shift"],"shifts":[{"shift":"{A}","name":"One","fallback":"{Z}","_obj_order":["shift"," name"," fallback","trigger"],"assignments":[{"trigger":"0x9001E","_obj_order":["trigger"]}]}]}]}' \
  -- "$kinetra" profile to-json "$work/u.pr0"
expect to-json-tree 0 '{"profile":"U","_obj_order":["profile","controller"],"controllers":[{"controller":"C","_obj_order":["controller","shift"],"shifts":[{"shift":"{A}","name":"One","fallback":"{Z}","_obj_order":["shift"," name"," fallback","trigger"],"assignments":[{"trigger":589854,"_obj_order":["trigger"]}]}]}]}' \
  -- "$kinetra" profile to-json --tree "$work/u.pr0"
expect roundtrip-differs 1 'not identical: -
differs at line 1, column 1
  file:    [profile=U [controller=C [shift={A} name=One fallback={Z} [trigger=0x9001E ]]]]
  written:  [profile=U ' -- bash -c "'$kinetra' profile roundtrip - <'$work/u.pr0'"

# JSON to node text, printed and saved as a UTF-16 profile file.
printf '{"profile":"T","n":30,"band":12,"z":0,"q":"a b","_obj_order":["profile","n","band","z","q"]}' >"$work/t.json"
expect to-text 0 ' [profile=T n=0x1e band=12 q='"'a b'"' ] ' -- "$kinetra" profile to-text "$work/t.json"
expect to-text-output 0 '' -- "$kinetra" profile to-text "$work/t.json" --output "$work/T.pr0"
expect saved-bom 0 'fffe2000' -- bash -c "head -c 4 '$work/T.pr0' | od -An -tx1 | tr -d ' \n'"
expect saved-roundtrip 0 "identical: $work/T.pr0 (37 bytes of text)" -- "$kinetra" profile roundtrip "$work/T.pr0"
# A profile that node text cannot hold is not saved, and the file keeps its content.
printf '{"profile":"x]y","_obj_order":["profile"]}' >"$work/bad.json"
expect to-text-refused 1 "kinetra profile: $work/T.pr0 not written: the profile holds text that node text cannot store (line 1, column 13: text after the top-level node)" \
  -- "$kinetra" profile to-text "$work/bad.json" --output "$work/T.pr0"
expect kept 0 "identical: $work/T.pr0 (37 bytes of text)" -- "$kinetra" profile roundtrip "$work/T.pr0"
printf '{"profile":null,"_obj_order":["profile"]}' >"$work/null.json"
expect to-text-null 1 "kinetra profile: $work/null.json: cannot write node text: a null value under \"profile\"" \
  -- "$kinetra" profile to-text "$work/null.json"

# Only a profile becomes a profile file: other JSON is refused and the file kept.
for json in '"hello"' '[1,2,3]' '{}'; do
  printf '%s' "$json" >"$work/notprofile.json"
  expect "not-a-profile $json" 1 "kinetra profile: $work/notprofile.json: not a profile: the JSON is $(
    case $json in '"hello"') echo 'a string' ;; '[1,2,3]') echo 'an array' ;; *) echo 'a dictionary without a "profile" member' ;; esac
  ), where a profile is a dictionary with a \"profile\" member; nothing was written" \
    -- "$kinetra" profile to-text "$work/notprofile.json" --output "$work/T.pr0"
  expect "not-a-profile-kept $json" 0 "identical: $work/T.pr0 (37 bytes of text)" \
    -- "$kinetra" profile roundtrip "$work/T.pr0"
done
printf '' >"$work/empty.json"
expect empty-json 1 "kinetra profile: $work/empty.json: not JSON: CJSONDeserializerErrorDomain -1: $work/empty.json is empty" \
  -- "$kinetra" profile to-text "$work/empty.json"

# --output through a symbolic link replaces the file it names; a FIFO or a link to
# nothing is refused and left as it is.
mkdir -p "$work/real"
cp "$work/T.pr0" "$work/real/Linked.pr0"
ln -s real/Linked.pr0 "$work/Linked.pr0"
printf '{"profile":"L","_obj_order":["profile"]}' >"$work/l.json"
expect output-link 0 '' -- "$kinetra" profile to-text "$work/l.json" --output "$work/Linked.pr0"
expect output-link-kept 0 "$work/Linked.pr0" -- bash -c "test -L '$work/Linked.pr0' && echo '$work/Linked.pr0'"
expect output-link-target 0 "identical: $work/real/Linked.pr0 (14 bytes of text)" \
  -- "$kinetra" profile roundtrip "$work/real/Linked.pr0"
mkfifo "$work/fifo.pr0"
expect output-fifo 1 "kinetra profile: $work/fifo.pr0 not written: cannot write $work/fifo.pr0: it is a FIFO, not a regular file" \
  -- timeout 60 "$kinetra" profile to-text "$work/l.json" --output "$work/fifo.pr0"
expect output-fifo-kept 0 '' -- test -p "$work/fifo.pr0"
ln -s nowhere.pr0 "$work/dangling.pr0"
expect output-dangling 1 "kinetra profile: $work/dangling.pr0 not written: cannot write $work/dangling.pr0: it is a symbolic link to nothing (its target is missing)" \
  -- "$kinetra" profile to-text "$work/l.json" --output "$work/dangling.pr0"

# What is not a regular file is refused before it is read (no wait on a FIFO, no
# endless read of a device); the timeout is only a safety net.
expect check-fifo 1 "kinetra: cannot read $work/fifo.pr0: not a regular file (a FIFO)" \
  -- timeout 60 "$kinetra" profile check "$work/fifo.pr0"
if [[ -c /dev/zero ]]; then
  expect check-device 1 "kinetra: cannot read /dev/zero: not a regular file (a character device)" \
    -- timeout 60 "$kinetra" profile check /dev/zero
fi
# A UTF-16 file cut short by a byte is damaged, and roundtrip does not call it identical.
head -c 37 "$work/T.pr0" >"$work/cut.pr0"
expect check-odd-utf16 1 "kinetra profile: $work/cut.pr0: UTF-16 text of an odd number of bytes (the file is cut short)" \
  -- "$kinetra" profile check "$work/cut.pr0"
expect roundtrip-odd-utf16 1 "kinetra profile: $work/cut.pr0: UTF-16 text of an odd number of bytes (the file is cut short)" \
  -- "$kinetra" profile roundtrip "$work/cut.pr0"
# Numbers that are not hexadecimal run as 0: check says so.
printf '[profile=N [controller=C [shift={A} name=One [trigger=0x90004 [band=1 [command={C} name=X [actionblock type=press [action page=0x7 usage=0x4 value=0x1 time=zz ] [action page=0x7 usage=0x4 time=-1 ]]]]]]]]' >"$work/n.pr0"
expect check-numbers 0 'profile "N": 1 controller
controller "C": 0 controls, 1 shift state
  shift state "One": 1 trigger
nodes: 9; triggers: 1; references: 0 resolved, 0 unresolved
unreadable number: time=zz in an action node is not a 32-bit hexadecimal number; it counts as 0x0
unreadable number: time=-1 in an action node is not a 32-bit hexadecimal number; it counts as 0x0' \
  -- "$kinetra" profile check "$work/n.pr0"

# Damaged files: a clear message, status 1.
printf '[profile=x\r\n  [a=1 ] junk ]' >"$work/damaged.pr0"
expect check-damaged 1 "kinetra profile: $work/damaged.pr0: not a readable profile: line 2, column 10: text after a child node" \
  -- "$kinetra" profile check "$work/damaged.pr0"
printf '[profile=x [a=1 ]' >"$work/open.pr0"
expect check-unclosed 1 "kinetra profile: $work/open.pr0: not a readable profile: line 1, column 1: this node is never closed" \
  -- "$kinetra" profile check "$work/open.pr0"
printf '\xff\xfe[\x00' >"$work/half.pr0"
expect check-truncated 1 "kinetra profile: $work/half.pr0: not a readable profile: line 1, column 1: this node is never closed" \
  -- "$kinetra" profile check "$work/half.pr0"
printf '[a=\xc3(]' >"$work/binary.pr0"
expect check-binary 1 "kinetra profile: $work/binary.pr0: neither UTF-16 nor UTF-8 text" \
  -- "$kinetra" profile check "$work/binary.pr0"
printf '[list [a=1 ]]' >"$work/list.pr0"
expect check-list 1 "kinetra profile: $work/list.pr0: the top-level node reads as a list, not as a profile" \
  -- "$kinetra" profile check "$work/list.pr0"
expect missing 1 "kinetra: cannot read $work/none.pr0: No such file or directory" \
  -- "$kinetra" profile check "$work/none.pr0"
expect bad-prototype 1 "kinetra profile: cannot read $work/none.prototype: No such file or directory" \
  -- "$kinetra" profile check --prototype "$work/none.prototype" "$work/u.pr0"
expect other-prototype 0 '{"profile":"U","_obj_order":["profile","controller"],"controller":{"controller":"C","_obj_order":["controller","shift"],"shift":{"shift":"{A}","name":"One","fallback":"{Z}","_obj_order":["shift"," name"," fallback","trigger"],"trigger":{"trigger":"0x9001E","_obj_order":["trigger"]}}}}' \
  -- bash -c "printf '{}' >'$work/empty.prototype'; '$kinetra' profile to-json --prototype '$work/empty.prototype' '$work/u.pr0'"
expect usage 1 "kinetra profile: unknown action 'frob'" \
  -- bash -c "out=\$('$kinetra' profile frob x 2>&1); rc=\$?; echo \"\${out%%\$'\\n'*}\"; exit \$rc"
expect empty-output 1 "kinetra profile: --output needs a file name" \
  -- bash -c "out=\$('$kinetra' profile to-text '$work/t.json' --output '' 2>&1); rc=\$?; echo \"\${out%%\$'\\n'*}\"; exit \$rc"
expect help 0 'usage: kinetra profile to-json FILE.pr0 [--tree] [--prototype P]' \
  -- bash -c "'$kinetra' profile --help | head -n 1"

[[ $fails -eq 0 ]] && echo "all kinetra profile checks passed"
exit $((fails > 0))
