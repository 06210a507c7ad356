#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and fuzzes each for its share of SECONDS
# (default 60), with inputs up to MAXLEN bytes (default 65536):
#   parse_fuzz    the whole parse, every extractor that claims the input
#   extract_fuzz  one extractor's extract called directly, picked by the first byte
#   exif_fuzz     the EXIF reader and its value rendering on a bare TIFF block
# Every input under fuzz/regressions/ is replayed through each target first. New crashes, timeouts
# and slow units land in $build/artifacts/TARGET/; copy them to fuzz/regressions/TARGET/ to keep.
# Usage: scripts/fuzz.sh [SECONDS] [MAXLEN]; VORLIX_FUZZ_BUILD names the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
max_len=${2:-65536}
build=${VORLIX_FUZZ_BUILD:-build-fuzz}
targets=(parse_fuzz extract_fuzz exif_fuzz)
flags="-fsanitize=address,undefined -fsanitize=fuzzer-no-link -fno-sanitize-recover=all -g -O1 -D_GLIBCXX_ASSERTIONS"
cmake -S . -B "$build" -DVORLIX_FUZZ=ON -DVORLIX_WERROR=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" --target "${targets[@]}" --parallel "$(nproc)"

# Seeds: the sample files in the repository.
seeds=$build/seeds
rm -rf "$seeds" && mkdir -p "$seeds/plain" "$seeds/extract"
for dir in examples test/fixtures core/tests/fixtures; do
  [ -d "$dir" ] || continue
  find "$dir" -type f -size "-${max_len}c" ! -name '*.json' ! -name '*.tsv' ! -name '*.md' \
    ! -name '*.py' -exec cp -t "$seeds/plain" {} + 2>/dev/null || true
done
# extract_fuzz reads its first byte as the extractor's index in the default registry order: each
# seed is given the selectors of the extractors that claim it, as extract_fuzz itself lists them
# (the file extractor's when none does).
for f in "$seeds/plain"/*; do
  mapfile -t picks < <(VORLIX_SEED_SELECTORS="$f" "./$build/extract_fuzz" 2>/dev/null)
  [ ${#picks[@]} -gt 0 ] || { echo "fuzz.sh: no selectors for $f" >&2; exit 1; }
  for p in "${picks[@]}"; do
    { printf "\\x$p"; cat "$f"; } >"$seeds/extract/$p-$(basename "$f")"
  done
done

regressions=()
if [ -d fuzz/regressions ]; then
  mapfile -t regressions < <(find fuzz/regressions -type f | sort)
fi
share=$((seconds / ${#targets[@]}))
[ "$share" -ge 1 ] || share=1
for t in "${targets[@]}"; do
  mkdir -p "$build/corpus/$t" "$build/artifacts/$t"
  if [ ${#regressions[@]} -gt 0 ]; then
    echo "== $t: replaying ${#regressions[@]} regression inputs"
    "./$build/$t" -timeout=10 -rss_limit_mb=2048 "${regressions[@]}"
  fi
  seed_dir=$seeds/plain
  [ "$t" = extract_fuzz ] && seed_dir=$seeds/extract
  echo "== $t: fuzzing for ${share}s, inputs up to $max_len bytes"
  "./$build/$t" -max_total_time="$share" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
    -report_slow_units=5 -artifact_prefix="$build/artifacts/$t/" -print_final_stats=1 \
    "$build/corpus/$t" "$seed_dir"
done
