#!/usr/bin/env bash
# The kinetra tool's json and base64 subcommands, run as a user runs them.
#   kinetra_json_test.sh KINETRA
set -u
kinetra=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0

# shellcheck source=expect.sh
source "$(dirname "$0")/expect.sh"

printf '{"a": [1, 2,], "s": "x/y", "t": true}' >"$work/ok.json"
printf '["\\q"]' >"$work/escape.json"
printf "'single'" >"$work/single.json"
printf '' >"$work/empty.json"
printf '{"a":1 "b":2}' >"$work/comma.json"

expect compact 0 '{"a":[1,2],"s":"x\/y","t":true}' -- "$kinetra" json check "$work/ok.json"
expect lenient 0 '["q"]' -- "$kinetra" json check "$work/escape.json"
expect strict 1 'error: CJSONScannerErrorDomain -8: Could not scan array. Could not scan a value.' \
  -- "$kinetra" json check --strict "$work/escape.json"
expect single-quote 1 "error: CJSONScannerErrorDomain -11: Could not scan string constant. String not started by a '\"' character." \
  -- "$kinetra" json check "$work/single.json"
expect empty 1 "error: CJSONDeserializerErrorDomain -1: $work/empty.json is empty" -- "$kinetra" json check "$work/empty.json"
expect comma 1 "error: CJSONScannerErrorDomain -5: Could not scan dictionary. Key value pairs not delimited with a ',' character." \
  -- "$kinetra" json check "$work/comma.json"
expect missing-file 1 "kinetra: cannot read $work/none.json: No such file or directory" \
  -- "$kinetra" json check "$work/none.json"
expect stdin 0 '[1]' -- bash -c "printf '[1]' | '$kinetra' json check -"

printf 'hello' >"$work/hello.txt"
expect encode 0 'aGVsbG8=' -- "$kinetra" base64 encode "$work/hello.txt"
expect decode 0 'hello' -- bash -c "printf 'aGVsbG8=' | '$kinetra' base64 decode -"
expect decode-bad 1 "kinetra base64: - is not Base64 text (use --newlines for text broken into lines)" \
  -- bash -c "printf 'a b' | '$kinetra' base64 decode -"
expect unknown-command 1 "kinetra: unknown command 'frobnicate'" \
  -- bash -c "out=\$('$kinetra' frobnicate 2>&1); rc=\$?; echo \"\${out%%\$'\\n'*}\"; exit \$rc"

[[ $fails -eq 0 ]] && echo "all kinetra json/base64 checks passed"
exit $((fails > 0))
