#!/usr/bin/env bash
# The core test suites and the addon, built once under AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan/: first every core test (CTest), then the JS tests of
# caller-owned memory, re-entry and the asynchronous calls against the sanitized addon (the
# sanitizer runtime is preloaded into Node, which is not built with it).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O1 -D_GLIBCXX_ASSERTIONS"
# One tree for both: the core is compiled once. Debug keeps assertions on.
npx --no-install cmake-js compile --debug --out build-asan --parallel "$(nproc)" \
  --CDVORLIX_DEV=ON --CDVORLIX_WERROR=ON --CDVORLIX_TEST_HOOKS=ON "--CDCMAKE_CXX_FLAGS=$flags" \
  "--CDCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" \
  "--CDCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined" >/dev/null
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure --no-tests=error --parallel "$(nproc)")

export VORLIX_ADDON="$PWD/build-asan/Debug/vorlix.node"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
LD_PRELOAD="$(g++ -print-file-name=libasan.so)" node --test \
  test/buffers.test.js test/async.test.js test/conversion.test.js
