#!/usr/bin/env bash
# Builds everything and runs every test: the core's GoogleTest suites (through CTest), then the
# JS API tests (node:test) against the freshly built addon.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
cmake -S . -B build -DVORLIX_DEV=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --parallel "$jobs"
(cd build && ctest --output-on-failure --parallel "$jobs")
bash scripts/build.sh
node --test test/
npx --no-install tsc -p .
