#!/usr/bin/env bash
# What every kinetra command shares: --help on standard output with status 0, wrong
# options and arguments reported on standard error with status 1 and nothing on standard
# output, and the tool's own usage when no command is given.
#   kinetra_command_line_test.sh KINETRA
set -u
kinetra=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0

# shellcheck source=expect.sh
source "$(dirname "$0")/expect.sh"

failure() {
  printf 'FAIL %s\n' "$1"
  fails=$((fails + 1))
}

# Every command listed by `kinetra --help`, and every subcommand listed by its help.
mapfile -t commands < <("$kinetra" --help | sed -n '/^commands:/,/^$/s/^  \([a-z0-9-]*\) .*/\1/p')
[[ ${#commands[@]} -ge 6 ]] || failure "kinetra --help lists ${#commands[@]} commands"
all=()
for command in "${commands[@]}"; do
  all+=("$command")
  while read -r sub; do all+=("$command $sub"); done < <("$kinetra" "$command" --help |
    sed -n '/^commands:/,/^$/s/^  \([a-z0-9-]*\) .*/\1/p')
done

for words in "${all[@]}"; do
  # shellcheck disable=SC2086
  "$kinetra" $words --help >"$work/out" 2>"$work/err"
  rc=$?
  [[ $rc -eq 0 ]] || failure "'$words --help': status $rc"
  [[ -s "$work/err" ]] && failure "'$words --help' wrote to standard error: $(cat "$work/err")"
  grep -q "^usage: kinetra ${words// / .*}" "$work/out" || failure "'$words --help' has no usage line"

  # shellcheck disable=SC2086
  "$kinetra" $words --no-such-option >"$work/out" 2>"$work/err"
  rc=$?
  [[ $rc -eq 1 ]] || failure "'$words --no-such-option': status $rc"
  [[ -s "$work/out" ]] && failure "'$words --no-such-option' wrote to standard output"
  grep -q "^kinetra ${words%% *}: unknown option '--no-such-option'\$" "$work/err" ||
    failure "'$words --no-such-option': $(head -n 1 "$work/err")"
done

expect no-command 1 'usage: kinetra COMMAND [ARGS…]' \
  -- bash -c "out=\$('$kinetra' 2>&1 >/dev/null); rc=\$?; echo \"\${out%%\$'\\n'*}\"; exit \$rc"
expect unknown-command-with-help 1 "kinetra: unknown command 'nosuchcommand'" \
  -- bash -c "out=\$('$kinetra' nosuchcommand --help 2>&1 >/dev/null); rc=\$?; echo \"\${out%%\$'\\n'*}\"; exit \$rc"
expect unknown-action-with-help 1 "kinetra prefs: unknown action 'nosuch'" \
  -- bash -c "out=\$('$kinetra' prefs nosuch --help 2>&1 >/dev/null); rc=\$?; echo \"\${out%%\$'\\n'*}\"; exit \$rc"
expect help-command 0 'usage: kinetra COMMAND [ARGS…]' -- bash -c "'$kinetra' help | head -n 1"
expect missing-argument 1 "kinetra json: 'check' takes FILE" \
  -- bash -c "out=\$('$kinetra' json check 2>&1); rc=\$?; echo \"\${out%%\$'\\n'*}\"; exit \$rc"
expect extra-argument 1 "kinetra json: unexpected argument 'b'" \
  -- bash -c "out=\$('$kinetra' json check a b 2>&1); rc=\$?; echo \"\${out%%\$'\\n'*}\"; exit \$rc"
expect missing-value 1 "kinetra simulate: --settle: takes milliseconds from 0 to 3600000, not '-1'" \
  -- bash -c "out=\$('$kinetra' simulate p --bundle b --events e --settle -1 2>&1); rc=\$?; echo \"\${out%%\$'\\n'*}\"; exit \$rc"
# '-' is standard input, not an option; a negative number is a value.
expect dash-is-a-file 0 '[1]' -- bash -c "printf '[1]' | '$kinetra' json check -"

[[ $fails -eq 0 ]] && echo "all kinetra command-line checks passed"
exit $((fails > 0))
