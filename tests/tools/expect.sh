# Shared by the command-line tests: `expect NAME STATUS EXPECTED-OUTPUT -- COMMAND…` runs
# the command, compares its exit status and its output (standard output and error
# together) and prints expected beside actual on a difference. Counts failures in
# $fails, which the sourcing script sets to 0 and reports.

expect() {
  local name=$1 status=$2 expected=$3
  shift 4
  local out rc
  out=$("$@" 2>&1)
  rc=$?
  if [[ $rc -ne $status || "$out" != "$expected" ]]; then
    printf 'FAIL %s\n  expected (%s): %s\n  actual   (%s): %s\n' "$name" "$status" "$expected" "$rc" "$out"
    fails=$((fails + 1))
  fi
}
