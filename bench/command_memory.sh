#!/usr/bin/env bash
# Time and peak memory of the kinetra commands that hold a whole profile or package:
#   - a profile of 11 MB holding 1 000 000 triggers (each as short as a trigger can be
#     written) and one whose macro has 300 000 steps, the largest kinds a user could hand
#     the suite below the 16 MiB limit: `kinetra profile check` and `kinetra simulate`;
#   - `kinetra update download` of a 1000 MB package from a file: mirror.
# With a second build folder the two are measured side by side, their runs interleaved
# (the machine is shared: a slow minute then slows both alike). Then bench_profile_memory
# of the first build loads both profiles as the agent does and drops them (switching away).
# Medians of BENCH_REPETITIONS runs (default 5), from /usr/bin/time.
#   bench/command_memory.sh BUILD-FOLDER [BASELINE-BUILD-FOLDER]
set -euo pipefail
builds=("${1:?usage: command_memory.sh BUILD-FOLDER [BASELINE-BUILD-FOLDER]}" "${@:2}")
source_dir=$(cd "$(dirname "$0")/.." && pwd)
runs=${BENCH_REPETITIONS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bundle=$source_dir/data/Devices/DemoMouse.bundle

profile=$work/Triggers.pr0
{
  printf '[profile=Big [controller=DemoMouse [controls [button=0x90004 ]]'
  printf " [shift={5A56D3E0-1704-4000-8000-000000000001} name='S'"
  head -c 1000000 /dev/zero | tr '\0' 'x' | sed 's/x/[trigger=1]/g'
  printf ']]]'
} >"$profile"
macro=$work/Macro.pr0
{
  printf '[profile=Macro [controller=DemoMouse [controls [button=0x90004 ]]'
  printf " [shift={5A56D3E0-1704-4000-8000-000000000001} name='S'"
  printf ' [trigger=0x90004 [band=1 [command={5A56D3E0-1704-4000-8000-000000000002} name=M'
  printf ' [actionblock type=press'
  head -c 300000 /dev/zero | tr '\0' 'x' | sed 's/x/[action page=0x7 usage=0x4 ]/g'
  printf ']]]]]]]'
} >"$macro"
printf '+0 0x90004 1\n+10 0x90004 0\n' >"$work/events"

# A 1000 MB package (sparse: it costs no disk) offered by a file: version list.
mkdir -p "$work/mirror"
truncate -s 1000M "$work/mirror/kinetra_9.0.deb"
printf '5a56,1704,9.0,file://%s\n' "$work/mirror/kinetra_9.0.deb" >"$work/mirror/list"

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
measure() {  # NAME COMMAND… (KINETRA stands for the build's kinetra)
  local name=$1 b i
  shift
  local -A seconds=() kib=()
  for _ in $(seq "$runs"); do
    for i in "${!builds[@]}"; do
      b=${builds[$i]}
      rm -rf "$work/home"
      mkdir -p "$work/home"
      KINETRA_HOME=$work/home /usr/bin/time -f '%e %M' -o "$work/time" \
        "${@/#KINETRA/$b/bin/kinetra}" >/dev/null 2>&1 || true
      # A failing command adds a line before the figures: the last line holds them.
      read -r s k < <(tail -n 1 "$work/time")
      seconds[$i]+="$s "
      kib[$i]+="$k "
    done
  done
  for i in "${!builds[@]}"; do
    printf '%-28s %-30s %8s s %8s MiB\n' "$name" "${builds[$i]}" \
      "$(printf '%s\n' ${seconds[$i]} | median)" \
      "$(($(printf '%s\n' ${kib[$i]} | median) / 1024))"
  done
}
printf 'Triggers.pr0: %s bytes, 1000000 triggers; Macro.pr0: %s bytes, 300000 steps\n' \
  "$(stat -c %s "$profile")" "$(stat -c %s "$macro")"
for p in "$profile" "$macro"; do
  n=$(basename "$p" .pr0)
  measure "profile check $n" KINETRA profile check "$p"
  measure "simulate $n" KINETRA simulate "$p" --bundle "$bundle" --events "$work/events"
done
measure "update download 1000 MB" KINETRA update download --url "file://$work/mirror/list" \
  --bundle "$bundle"
"${builds[0]}/bin/bench_profile_memory" "$profile" "$macro"
