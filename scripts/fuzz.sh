#!/usr/bin/env bash
# Builds the libFuzzer target (clang, ASan + UBSan) and runs it for the given number of seconds
# (default 60), seeded from the sample files in the repository and beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
flags="-fsanitize=address,undefined -fsanitize=fuzzer-no-link -fno-sanitize-recover=all -g -O1 -D_GLIBCXX_ASSERTIONS"
cmake -S . -B build-fuzz -DVORLIX_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-fuzz --target parse_fuzz --parallel "$(nproc)"

seeds=build-fuzz/seeds
rm -rf "$seeds" && mkdir -p "$seeds" build-fuzz/corpus
for dir in examples test/fixtures core/tests/fixtures ../shared/fixtures; do
  [ -d "$dir" ] || continue
  find "$dir" -type f -size -256k ! -name '*.json' ! -name '*.tsv' ! -name '*.md' ! -name '*.py' \
    -exec cp -t "$seeds" {} + 2>/dev/null || true
done
# Fuzz crashes are kept as regression inputs: every file here is replayed before fuzzing.
if [ -d fuzz/regressions ] && [ -n "$(ls -A fuzz/regressions)" ]; then
  ./build-fuzz/parse_fuzz fuzz/regressions/*
fi
./build-fuzz/parse_fuzz -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 build-fuzz/corpus "$seeds"
