#!/usr/bin/env bash
# The addon built under AddressSanitizer and UndefinedBehaviorSanitizer, running the tests of
# what a hostile host can do to it (caller-owned memory, re-entry, the async calls). Node itself
# is not instrumented, so the runtime is preloaded; the process's own leaks at exit are not ours.
set -euo pipefail
cd "$(dirname "$0")/.."
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O1"
npx --no-install cmake-js compile --out build-addon-asan --parallel "$(nproc)" \
  --CDVORLIX_WERROR=ON --CDVORLIX_TEST_HOOKS=ON "--CDCMAKE_CXX_FLAGS=$flags" \
  "--CDCMAKE_SHARED_LINKER_FLAGS=$flags" \
  >/dev/null
export VORLIX_ADDON="$PWD/build-addon-asan/Release/vorlix.node"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
LD_PRELOAD="$(g++ -print-file-name=libasan.so)" node --test \
  test/buffers.test.js test/async.test.js test/conversion.test.js
