#!/usr/bin/env bash
# The demo preset configures on a machine with only the demo's packages: no GoogleTest, no
# benchmark library, no Qt WebEngine or WebChannel (their finding is turned off here), and
# its build still has the three programs the demo runs.
#   demo_configure_test.sh SOURCE-FOLDER
set -euo pipefail
source_dir=$1
build=$(mktemp -d "${TMPDIR:-/tmp}/demo-configure.XXXXXX")
trap 'rm -rf "$build"' EXIT
cd "$source_dir"
cmake --preset demo -B "$build" \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_Qt6WebEngineWidgets=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_Qt6WebChannel=ON >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; echo "FAIL: the demo preset does not configure" >&2; exit 1; }
targets=$(ninja -C "$build" -t targets all)
for program in zenvor-driver perch kinetra; do
  grep -q "^$program: " <<<"$targets" || { echo "FAIL: no target $program" >&2; exit 1; }
done
echo "PASS"
