#!/usr/bin/env bash
# Builds everything and runs every test: the core's GoogleTest suites (through CTest), then the
# JS API tests (node:test) against the freshly built addon.
set -euo pipefail
cd "$(dirname "$0")/.."
# The core tests are built in the addon's tree, so the core is compiled once.
bash scripts/build.sh --CDVORLIX_DEV=ON
(cd build-addon && ctest --output-on-failure --no-tests=error --parallel "$(nproc)")
node --test test/
npx --no-install tsc -p .
