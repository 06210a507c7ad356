#!/usr/bin/env bash
# Refreshes the test data kept in core/tests/fixtures/ from a folder of shared sample files (one
# holding fixtures/ and reference/), given as the only argument. The tests only ever read the
# in-repository copy.
# Usage: scripts/sync-fixtures.sh SAMPLES_DIR
set -euo pipefail
src=$(cd "${1:?usage: scripts/sync-fixtures.sh SAMPLES_DIR}" && pwd)
cd "$(dirname "$0")/.."
dst=core/tests/fixtures
for dir in content-types exif; do
  mkdir -p "$dst/$dir"
  # Mirror exactly: files removed upstream go away here too.
  find "$dst/$dir" -mindepth 1 -maxdepth 1 -type f -delete
  cp -p "$src/fixtures/$dir"/* "$dst/$dir/"
  chmod u+w,a+r "$dst/$dir"/*
done
mkdir -p "$dst/reference"
for file in content-type-vectors.tsv exif-tags.tsv; do
  cp -p "$src/reference/$file" "$dst/reference/$file"
  chmod u+w,a+r "$dst/reference/$file"
done
echo "synced $(find "$dst" -type f | wc -l) files into $dst"
