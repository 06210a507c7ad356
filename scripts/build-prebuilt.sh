#!/usr/bin/env bash
# Builds the prebuilt binaries that the package carries, prebuilds/<platform>-<arch>/vorlix.node:
# linux-x64 natively and linux-arm64 with Debian's cross compiler, each self-contained and bound
# to glibc 2.28 symbol versions and without the test hooks, then checks each with
# scripts/check-binary.js.
# Usage: scripts/build-prebuilt.sh [--missing] [x64|arm64 ...]  (all targets by default;
# --missing skips targets whose binary exists).
set -euo pipefail
cd "$(dirname "$0")/.."

missing_only=0
targets=()
for arg in "$@"; do
  case "$arg" in
    --missing) missing_only=1 ;;
    x64 | arm64) targets+=("$arg") ;;
    *) echo "build-prebuilt: unknown argument $arg" >&2; exit 2 ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || targets=(x64 arm64)

need_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "build-prebuilt: missing Debian packages; run as root:" >&2
    echo "  dpkg --add-architecture arm64 && apt-get update && apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "build-prebuilt: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if printf '%s\n' "${missing[@]}" | grep -q ':arm64$' &&
    ! dpkg --print-foreign-architectures | grep -qx arm64; then
    dpkg --add-architecture arm64
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

mkdir -p build-prebuilt
[ -x node_modules/.bin/cmake-js ] || npm ci --ignore-scripts --no-audit --no-fund

for target in "${targets[@]}"; do
  out="prebuilds/linux-$target/vorlix.node"
  if [ "$missing_only" = 1 ] && [ -f "$out" ]; then continue; fi
  build="build-prebuilt/linux-$target"
  flags=(--CDVORLIX_WERROR=ON --CDVORLIX_GLIBC_COMPAT=ON --CDVORLIX_TEST_HOOKS=OFF
    --CDCMAKE_BUILD_TYPE=Release)
  if [ "$target" = arm64 ]; then
    need_packages g++-aarch64-linux-gnu binutils-aarch64-linux-gnu libssl-dev:arm64 \
      libdeflate-dev:arm64
    flags+=("--CDCMAKE_TOOLCHAIN_FILE=$PWD/scripts/aarch64-linux-gnu.cmake")
    strip=aarch64-linux-gnu-strip
  else
    [ "$(uname -m)" = x86_64 ] || { echo "build-prebuilt: x64 builds on x86-64 only" >&2; exit 1; }
    need_packages cmake g++ make libssl-dev libdeflate-dev
    strip=strip
  fi
  echo "build-prebuilt: linux-$target"
  # A fresh build tree each time, so nothing cached from another configuration leaks in.
  rm -rf "$build"
  npx --no-install cmake-js compile --out "$build" --parallel "$(nproc)" "${flags[@]}" >"$build.log" 2>&1 ||
    { tail -n 40 "$build.log" >&2; exit 1; }
  mkdir -p "$(dirname "$out")"
  "$strip" --strip-unneeded -o "$out" "$build/Release/vorlix.node"
  node scripts/check-binary.js "$out"
done
