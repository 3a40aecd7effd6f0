#!/usr/bin/env bash
# Runs the editor's end-to-end tests: installs playwright-core (pinned in package-lock.json)
# into the build folder once, from the npm registry through npm's cache in the build
# folder, then runs the tests with node's test runner.
#   run.sh BUILD_DIR TESSEL KINETRA
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
work="$build/editor-e2e"
mkdir -p "$work"
if ! cmp -s "$here/package-lock.json" "$work/package-lock.json" || [[ ! -d "$work/node_modules/playwright-core" ]]; then
  cp "$here/package.json" "$here/package-lock.json" "$work/"
  (cd "$work" && npm ci --cache "$build/../npm-cache" --prefer-offline --no-audit --no-fund --loglevel=error)
fi
export TESSEL="$2" KINETRA="$3" NODE_PATH="$work/node_modules"
# The source tree: the demo bundle and the test bundles (bundles/) the tests start from.
export E2E_SOURCE=$(cd "$here/../../.." && pwd)
# Test files of an earlier checkout (renamed or removed since) must not run again.
rm -f "$work"/*.test.mjs
cp "$here"/*.test.mjs "$here"/harness.mjs "$work/"
cd "$work"
exec node --test --test-concurrency=1 ./*.test.mjs
