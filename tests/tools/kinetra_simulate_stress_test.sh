#!/usr/bin/env bash
# kinetra simulate under load: 10 000 presses of a long macro (each run waits 10 s, so
# without a bound on live runs a thousand threads would pile up), and a script of
# 100 000 events. Both must finish (the test's timeout is the bound on "in seconds"),
# print every event, and leave no key down at the end.
#   kinetra_simulate_stress_test.sh KINETRA DATA-FOLDER
set -u
kinetra=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
failure() {
  printf 'FAIL %s\n' "$1"
  fails=$((fails + 1))
}
bundle=$data/Devices/DemoMouse.bundle

# Every key pressed in the output is up again by its end.
all_released() {
  awk '$3 == "key" { down[$4] = ($5 == "down") } END { for (k in down) if (down[k]) { print k; bad = 1 } exit bad }' "$1"
}

# Button 4 runs a macro: A, then after 10 s B.
printf '%s' '[profile=Stress [controller=DemoMouse [controls [button=0x90004 ] [button=0x90005 ]]
  [shift={A} name=Normal
    [trigger=0x90004 [band=1 [command={C1} name=Long [actionblock type=press
      [action page=0x7 usage=0x4 value=0x1 ] [action page=0x7 usage=0x4 ]
      [action page=0x7 usage=0x5 value=0x1 time=0x2710 ] [action page=0x7 usage=0x5 ] ]]]]
    [trigger=0x90005 [band=1 [command={C2} name=Short [actionblock type=press
      [action page=0x7 usage=0x6 value=0x1 ] [action page=0x7 usage=0x6 ] ]]]] ]]]' >"$work/Stress.pr0"

awk 'BEGIN { for (i = 0; i < 10000; i++) print "+5 0x90004 1\n+5 0x90004 0" }' >"$work/long.events"
if ! "$kinetra" simulate "$work/Stress.pr0" --bundle "$bundle" --events "$work/long.events" \
  --settle 20000 >"$work/long.out" 2>"$work/long.err"; then
  failure "long macro: exit status $? ($(head -c 300 "$work/long.err"))"
fi
presses=$(grep -c 'event   0x90004 1$' "$work/long.out")
[[ $presses -eq 10000 ]] || failure "long macro: $presses presses printed, not 10000"
left=$(all_released "$work/long.out") || failure "long macro: keys left down: $left"
# Runs still going when the settle time is up were stopped; there cannot be more than
# the engine lets live at once.
if running=$(grep -o 'end     [0-9]*' "$work/long.out" | grep -o '[0-9]*$'); then
  [[ $running -le 256 ]] || failure "long macro: $running runs alive at the end"
fi

# 100 000 events of a short command: the work grows with the script, not faster.
awk 'BEGIN { for (i = 0; i < 50000; i++) print "+3 0x90005 1\n+3 0x90005 0" }' >"$work/many.events"
if ! "$kinetra" simulate "$work/Stress.pr0" --bundle "$bundle" --events "$work/many.events" \
  >"$work/many.out" 2>"$work/many.err"; then
  failure "100 000 events: exit status $? ($(head -c 300 "$work/many.err"))"
fi
events=$(grep -c ' event   0x90005 ' "$work/many.out")
[[ $events -eq 100000 ]] || failure "100 000 events: $events events printed"
keys=$(grep -c 'key     KEY_C ' "$work/many.out")
[[ $keys -eq 100000 ]] || failure "100 000 events: $keys key lines printed, not 100000"
left=$(all_released "$work/many.out") || failure "100 000 events: keys left down: $left"

[[ $fails -eq 0 ]] && echo "kinetra simulate under load: all checks passed"
exit $((fails > 0))
