#!/usr/bin/env bash
# Runs zenvor-report-replay on every script of a folder and compares its output with the
# script's .expected file (expected and actual side by side on a difference); then checks
# the tool's errors for bad scripts.
#   replay_test.sh REPLAY-TOOL SCRIPT-FOLDER
set -u
tool=$1
folder=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0

for script in "$folder"/*.replay; do
  name=$(basename "$script" .replay)
  expected="$folder/$name.expected"
  if ! "$tool" "$script" >"$work/$name.out" 2>"$work/$name.err"; then
    printf 'FAIL %s: exit status %s\n' "$name" "$?"
    cat "$work/$name.err"
    fails=$((fails + 1))
  elif ! diff -q "$expected" "$work/$name.out" >/dev/null; then
    printf 'FAIL %s: output differs (expected | actual)\n' "$name"
    diff -y -W 200 --suppress-common-lines "$expected" "$work/$name.out"
    fails=$((fails + 1))
  fi
done

expect_error() {  # expect_error NAME EXPECTED-STDERR SCRIPT-TEXT
  local name=$1 expected=$2 script=$3 err rc
  err=$(printf '%s' "$script" | "$tool" 2>&1 >/dev/null)
  rc=$?
  if [[ $rc -ne 1 || "$err" != "$expected" ]]; then
    printf 'FAIL %s\n  expected (1): %s\n  actual   (%s): %s\n' "$name" "$expected" "$rc" "$err"
    fails=$((fails + 1))
  fi
}

expect_error unknown-command "zenvor-report-replay: line 3: unknown command 'reprot'" \
  $'product 0x1704\n# comment\nreprot 00\n'
expect_error no-product "zenvor-report-replay: line 1: no device yet: start the script with 'product 0xPPPP'" \
  $'report 00 01\n'
expect_error odd-hex "zenvor-report-replay: line 2: '0' has an odd number of hex digits" \
  $'product 0x1704\nreport 00 0\n'
expect_error not-hex "zenvor-report-replay: line 2: 'zz' is not hexadecimal bytes" \
  $'product 0x1704\nreport zz\n'
expect_error bad-flag "zenvor-report-replay: line 2: '2' is not a valid flag (0 or 1)" \
  $'product 0x1704\noverride 0x90009 2\n'
expect_error arguments "zenvor-report-replay: line 2: 'axis' takes 2 arguments: axis ELEMENT 1|2 (0 removes it)" \
  $'product 0x1704\naxis 0x10039\n'
expect_error late-descriptor "zenvor-report-replay: line 3: 'descriptor' must come before the device is first used" \
  $'product 0x1704\nreport 00 00 00 00 00 00 00\ndescriptor 05 01\n'
expect_error no-builtin "zenvor-report-replay: line 2: product 0x1234 has no built-in descriptor; give the device's own with 'descriptor HEX...'" \
  $'product 0x1234\nreport 00\n'
expect_error big-product "zenvor-report-replay: line 1: '0x10000' is not a valid product ID (0 to 0xFFFF)" \
  $'product 0x10000\n'

expect_error missing-descriptor-file "zenvor-report-replay: line 2: none.hid: No such file or directory" \
  $'product 0x1234\ndescriptor-file none.hid\n'
printf '05 01 # Generic Desktop\n09 0z\n' >"$work/bad.hid"
expect_error bad-descriptor-file "zenvor-report-replay: line 2: $work/bad.hid: line 2: '0z' is not hexadecimal bytes" \
  $'product 0x1234\ndescriptor-file '"$work/bad.hid"$'\n'

# The raw form, as sysfs shows a descriptor, reads as the text form does.
printf 'product 0x1234\ndescriptor-file %s\n' "$folder/../mice/boot-mouse.hid" | "$tool" >"$work/text.out"
sed 's/#.*//' "$folder/../mice/boot-mouse.hid" | tr -s ' \n' '\n\n' | grep . |
  while read -r pair; do printf "\\x$pair"; done >"$work/boot.bin"
printf 'product 0x1234\ndescriptor-file %s\n' "$work/boot.bin" | "$tool" >"$work/bin.out"
cmp -s "$work/text.out" "$work/bin.out" || { echo "FAIL raw descriptor file"; fails=$((fails + 1)); }

out=$("$tool" --help)
[[ $? -eq 0 && "$out" == usage:* ]] || { echo "FAIL --help"; fails=$((fails + 1)); }

[[ $fails -eq 0 ]] && echo "all replay scripts and error checks passed"
exit $((fails > 0))
