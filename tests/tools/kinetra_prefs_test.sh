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
expect damaged-set 1 "kinetra prefs: cannot read $damaged: not a property list (line 1: <key> is never closed); the file was left as it is (repair it, or start it afresh with 'kinetra prefs reset', which keeps the damaged file beside it)" \
  -- "$kinetra" prefs --brand Broken set HideStatusMenu true
check damaged-kept test "$(cat "$damaged")" = '<plist><dict><key>HideStatus'
expect damaged-get 1 "kinetra prefs: cannot read $damaged: not a property list (line 1: <key> is never closed)" \
  -- "$kinetra" prefs --brand Broken get HideStatusMenu
"$kinetra" prefs --brand Broken reset >/dev/null
check damaged-copy-kept test "$(cat "$damaged".damaged-*)" = '<plist><dict><key>HideStatus'
expect reset-starts-afresh 0 '' -- "$kinetra" prefs --brand Broken set HideStatusMenu true
# The suite's own keys keep their kind.
expect known-key-kind 1 "kinetra prefs: HideStatusMenu takes true or false" \
  -- "$kinetra" prefs --brand Broken set HideStatusMenu maybe

# Other programs' entries survive a set exactly: dates, 64-bit integers, whole reals.
foreign=$KINETRA_HOME/.config/com.zenvor.Kinetra.Foreign.plist
cat >"$foreign" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>When</key>
	<date>2024-02-03T04:05:06Z</date>
	<key>Serial</key>
	<integer>9007199254740993</integer>
	<key>Lowest</key>
	<integer>-9223372036854775808</integer>
	<key>Scale</key>
	<real>2</real>
</dict>
</plist>
EOF
expect foreign-set 0 '' -- "$kinetra" prefs --brand Foreign set X 1
for kept in '<date>2024-02-03T04:05:06Z</date>' '<integer>9007199254740993</integer>' \
  '<integer>-9223372036854775808</integer>' '<real>2</real>' '<integer>1</integer>'; do
  check "foreign-kept $kept" grep -qF -- "$kept" "$foreign"
done
# An integer beyond 64 bits cannot be kept: the file is refused, not rewritten with -1.
huge=$KINETRA_HOME/.config/com.zenvor.Kinetra.Huge.plist
printf '<plist version="1.0"><dict><key>Big</key><integer>99999999999999999999999</integer></dict></plist>' >"$huge"
expect huge-refused 1 "kinetra prefs: cannot read $huge: not a property list this suite can keep (line 1: the integer 99999999999999999999999 does not fit in 64 bits); the file was left as it is (repair it, or start it afresh with 'kinetra prefs reset', which keeps the damaged file beside it)" \
  -- "$kinetra" prefs --brand Huge set X 1
check huge-kept grep -q '99999999999999999999999' "$huge"

# A preferences file kept elsewhere and linked (as dotfile managers do) stays linked.
mkdir -p "$work/dotfiles"
printf '<plist version="1.0"><dict><key>Kept</key><string>yes</string></dict></plist>' >"$work/dotfiles/linked.plist"
ln -s "$work/dotfiles/linked.plist" "$KINETRA_HOME/.config/com.zenvor.Kinetra.Linked.plist"
expect linked-set 0 '' -- "$kinetra" prefs --brand Linked set HideStatusMenu true
check linked-still-a-link test -L "$KINETRA_HOME/.config/com.zenvor.Kinetra.Linked.plist"
check linked-target-written grep -q HideStatusMenu "$work/dotfiles/linked.plist"
expect linked-get 0 'yes' -- "$kinetra" prefs --brand Linked get Kept

# A FIFO where the file should be is reported at once (timeout only as a safety net).
fifo=$KINETRA_HOME/.config/com.zenvor.Kinetra.Fifo.plist
mkfifo "$fifo"
expect fifo-get 1 "kinetra prefs: cannot read $fifo: not a regular file (a FIFO)" \
  -- timeout 60 "$kinetra" prefs --brand Fifo get HideStatusMenu
expect fifo-set 1 "kinetra prefs: cannot read $fifo: not a regular file (a FIFO); the file was left as it is (repair it, or start it afresh with 'kinetra prefs reset', which keeps the damaged file beside it)" \
  -- timeout 60 "$kinetra" prefs --brand Fifo set HideStatusMenu true
check fifo-kept test -p "$fifo"
# A folder there: said once, plainly.
mkdir -p "$KINETRA_HOME/.config/com.zenvor.Kinetra.Folder.plist"
expect folder-get 1 "kinetra prefs: cannot read $KINETRA_HOME/.config/com.zenvor.Kinetra.Folder.plist: not a regular file (a folder)" \
  -- "$kinetra" prefs --brand Folder get HideStatusMenu

expect no-action 1 "kinetra prefs: expected 'get', 'set', 'reset' or 'watch'" \
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
