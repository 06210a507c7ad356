#!/usr/bin/env bash
# Refreshes the test data kept in core/tests/fixtures/ from the shared sample folder beside the
# checkout (../shared), when that folder exists. The tests only ever read the in-repository copy.
set -euo pipefail
cd "$(dirname "$0")/.."
src=../shared
dst=core/tests/fixtures
if [ ! -d "$src" ]; then
  echo "nothing to sync: $src is not beside this checkout" >&2
  exit 0
fi
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
