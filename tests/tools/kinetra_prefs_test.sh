#!/usr/bin/env bash
# The kinetra tool's prefs subcommand, run as a user runs it: reading and writing the
# preferences file, and one process watching while another saves.
#   kinetra_prefs_test.sh KINETRA
set -u
kinetra=$1
work=$(mktemp -d)
watcher=
cleanup() {
  [[ -n "$watcher" ]] && kill "$watcher" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export KINETRA_HOME=$work/home
mkdir -p "$KINETRA_HOME"
prefs=$KINETRA_HOME/.config/com.zenvor.Kinetra.Zenvor.plist
fails=0

# shellcheck source=expect.sh
source "$(dirname "$0")/expect.sh"

check() {  # check NAME COMMAND…: the command must succeed
  local name=$1
  shift
  if ! "$@"; then
    printf 'FAIL %s\n' "$name"
    fails=$((fails + 1))
  fi
}

# Reads the watcher's lines as they come until one matches PATTERN, keeping each in
# FILE; fails when the watcher ends or stays silent for 10 s (a safety net only).
wait_for_line() {
  local file=$1 pattern=$2 line
  while IFS= read -r -t 10 -u "$watch_fd" line; do
    printf '%s\n' "$line" >>"$file"
    grep -q -- "$pattern" <<<"$line" && return 0
  done
  return 1
}

expect get-without-file 1 "kinetra prefs: HideStatusMenu is not set ($prefs does not exist)" \
  -- "$kinetra" prefs get HideStatusMenu
check get-creates-nothing test ! -e "$prefs"
expect set-boolean 0 '' -- "$kinetra" prefs set HideStatusMenu true
expect get-boolean 0 'true' -- "$kinetra" prefs get HideStatusMenu
expect set-integer 0 '' -- "$kinetra" prefs set Volume -12
expect get-integer 0 '-12' -- "$kinetra" prefs get Volume
expect set-text 0 '' -- "$kinetra" prefs set Name 'Left hand'
expect get-text 0 'Left hand' -- "$kinetra" prefs get Name
expect set-forced-text 0 '' -- "$kinetra" prefs set --string Code 007
expect get-forced-text 0 '007' -- "$kinetra" prefs get Code
expect get-unset 1 "kinetra prefs: Missing is not set in $prefs" -- "$kinetra" prefs get Missing
expect too-large 1 "kinetra prefs: '99999999999999999999' is too large for an integer preference (use --string to keep it as text)" \
  -- "$kinetra" prefs set Big 99999999999999999999
check xml-boolean grep -q '<key>HideStatusMenu</key>' "$prefs"
check xml-integer grep -q '<integer>-12</integer>' "$prefs"
check xml-string grep -q '<string>007</string>' "$prefs"

# Another brand has its own file.
expect other-brand-set 0 '' -- "$kinetra" prefs --brand Acme set HideStatusMenu false
expect other-brand-get 0 'false' -- "$kinetra" prefs --brand=Acme get HideStatusMenu
check other-brand-file test -f "$KINETRA_HOME/.config/com.zenvor.Kinetra.Acme.plist"
expect bad-brand 1 "kinetra prefs: '../x' cannot be a brand (it must name a file)" \
  -- "$kinetra" prefs --brand ../x get A

# A damaged file is reported and left as it is.
damaged=$KINETRA_HOME/.config/com.zenvor.Kinetra.Broken.plist
printf '<plist><dict><key>HideStatus' >"$damaged"
expect damaged-set 1 "kinetra prefs: cannot read $damaged: not a property list; the file was left as it is (remove it to start with empty preferences)" \
  -- "$kinetra" prefs --brand Broken set HideStatusMenu true
check damaged-kept test "$(cat "$damaged")" = '<plist><dict><key>HideStatus'
expect damaged-get 1 "kinetra prefs: cannot read $damaged: not a property list" \
  -- "$kinetra" prefs --brand Broken get HideStatusMenu

expect no-action 1 "kinetra prefs: expected 'get', 'set' or 'watch'" \
  -- bash -c "out=\$('$kinetra' prefs 2>&1); rc=\$?; echo \"\${out%%\$'\\n'*}\"; exit \$rc"

# One process watches, another saves; the watcher ends cleanly on SIGINT and SIGTERM.
for signal in INT TERM; do
  out=$work/watch-$signal.out
  mkfifo "$work/watch-$signal.fifo"
  "$kinetra" prefs watch >"$work/watch-$signal.fifo" 2>"$work/watch.err" &
  watcher=$!
  exec {watch_fd}<"$work/watch-$signal.fifo"
  if ! wait_for_line "$out" '^ZVPreferencesUpdated {'; then
    printf 'FAIL watch-%s: no first notification\n' "$signal"
    fails=$((fails + 1))
  fi
  "$kinetra" prefs set Signal "$signal"
  if ! wait_for_line "$out" "\"Signal\":\"$signal\"}\$"; then
    printf 'FAIL watch-%s: the other process'"'"'s save was not seen\n' "$signal"
    fails=$((fails + 1))
  fi
  kill -"$signal" "$watcher"
  wait "$watcher"
  rc=$?
  watcher=
  exec {watch_fd}<&-
  if [[ $rc -ne 0 ]]; then
    printf 'FAIL watch-%s: exit status %s after SIG%s\n' "$signal" "$rc" "$signal"
    fails=$((fails + 1))
  fi
done
first=$(head -n 1 "$work/watch-INT.out")
expected='ZVPreferencesUpdated {"HideStatusMenu":true,"Volume":-12,"Name":"Left hand","Code":"007"}'
if [[ "$first" != "$expected" ]]; then
  printf 'FAIL watch-first-line\n  expected: %s\n  actual:   %s\n' "$expected" "$first"
  fails=$((fails + 1))
fi

[[ $fails -eq 0 ]] && echo "all kinetra prefs checks passed"
exit $((fails > 0))
