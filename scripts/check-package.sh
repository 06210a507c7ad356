#!/usr/bin/env bash
# Packs the package and installs the tarball into empty projects the way users do, on a PATH
# with no compiler and no cmake: with npm --ignore-scripts, with a plain npm install (the install
# script must find the prebuilt binary and compile nothing), and with pnpm 10 on its default
# settings (which skip dependencies' install scripts). Each project must load vorlix from the
# prebuilt binary and report examples/sample.jpg as the local build does.
# Needs the prebuilt binaries (npm run build:prebuilt) and the npm registry (pnpm itself).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
arch=$(node -p 'process.arch')
[ -f "prebuilds/linux-$arch/vorlix.node" ] || { echo "check-package: run npm run build:prebuilt first" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
npm pack --silent --pack-destination "$tmp" >/dev/null
tarball=$(ls "$tmp"/vorlix-*.tgz)
echo "check-package: $(basename "$tarball"), $(du -k "$tarball" | cut -f1) KiB packed"
listing=$(tar -tzf "$tarball")
for unwanted in package/test/ package/bench/ package/fuzz/ package/examples/ package/core/tests/; do
  if grep -q "^$unwanted" <<<"$listing"; then echo "check-package: the tarball holds $unwanted" >&2; exit 1; fi
done
for wanted in package/prebuilds/linux-x64/vorlix.node package/prebuilds/linux-arm64/vorlix.node \
  package/CMakeLists.txt package/scripts/install.js package/lib/loader.js; do
  grep -qx "$wanted" <<<"$listing" || { echo "check-package: the tarball lacks $wanted" >&2; exit 1; }
done

# pnpm is fetched with the full PATH; everything after runs on the bare one.
mkdir -p "$tmp/tools"
(cd "$tmp/tools" && npm init -y >/dev/null && npm install --silent --no-audit --no-fund pnpm@10 >/dev/null)
mkdir -p "$tmp/bin"
for tool in node npm npx sh; do ln -s "$(command -v "$tool")" "$tmp/bin/$tool"; done
ln -s "$tmp/tools/node_modules/.bin/pnpm" "$tmp/bin/pnpm"
bare_path="$tmp/bin"
for tool in cmake c++ g++ gcc cc clang++ make; do
  if PATH=$bare_path command -v "$tool" >/dev/null; then echo "check-package: $tool on the bare PATH" >&2; exit 1; fi
done

# The reference report: the local build's, else the fixed facts of the sample alone.
sample="$repo/examples/sample.jpg"
expected=""
if [ -f build-addon/Release/vorlix.node ]; then
  expected=$(VORLIX_ADDON=build-addon/Release/vorlix.node node -e \
    'console.log(JSON.stringify(require("./lib/index.js").parse(process.argv[1])))' "$sample")
fi

check_project() {
  local name=$1 dir=$2
  (cd "$dir" && PATH=$bare_path EXPECTED=$expected node -e '
    const assert = require("node:assert/strict");
    const fs = require("node:fs");
    const pkg = require.resolve("vorlix");
    assert.ok(!fs.existsSync(require("node:path").join(pkg, "../../build-addon")), "compiled at install");
    const report = require("vorlix").parse(process.argv[1]);
    assert.equal(report.file.sha256, "3f10f140d34fbb58563f77c1f6759d4fe286a2895eeade729e2ad775976bf5bf");
    assert.equal(report.file.mime_detected, "image/jpeg");
    assert.deepEqual([report.jpeg.width, report.jpeg.height], [8, 8]);
    assert.equal(report.exif.gps_decimal.longitude, 151.2085);
    if (process.env.EXPECTED) assert.deepEqual(report, JSON.parse(process.env.EXPECTED));
  ' "$sample") || { echo "check-package: $name: FAILED" >&2; exit 1; }
  echo "check-package: $name: ok"
}

new_project() {
  mkdir -p "$tmp/$1" && (cd "$tmp/$1" && PATH=$bare_path npm init -y >/dev/null)
  echo "$tmp/$1"
}

dir=$(new_project npm-ignore-scripts)
(cd "$dir" && PATH=$bare_path npm install --silent --no-audit --no-fund --ignore-scripts "$tarball")
[ "$(ls "$dir/node_modules")" = vorlix ] || { echo "check-package: dependencies installed: $(ls "$dir/node_modules")" >&2; exit 1; }
check_project "npm install --ignore-scripts" "$dir"

dir=$(new_project npm-scripts)
(cd "$dir" && PATH=$bare_path npm install --silent --no-audit --no-fund --foreground-scripts "$tarball")
check_project "npm install" "$dir"

dir=$(new_project pnpm)
(cd "$dir" && PATH=$bare_path pnpm add --silent --store-dir "$tmp/pnpm-store" "$tarball")
check_project "pnpm $(PATH=$bare_path pnpm --version) add" "$dir"
