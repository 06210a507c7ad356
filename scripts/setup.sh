#!/usr/bin/env bash
# Brings a fresh Debian machine to the point where vorlix builds: system packages, then the
# npm build tools (cmake-js, Node-API headers). Safe to run again; it only adds what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make libssl-dev libdeflate-dev libgtest-dev libbenchmark-dev)
if [ "${VORLIX_FUZZ_SETUP:-0}" = 1 ]; then packages+=(clang libclang-rt-dev); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "setup: missing Debian packages; run as root:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
fi

if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "setup: Node.js 20 or newer with npm is required (for example Debian's nodejs and npm)" >&2
  exit 1
fi

if [ ! -x node_modules/.bin/cmake-js ] || [ ! -d node_modules/node-api-headers ]; then
  npm ci --ignore-scripts --no-audit --no-fund
fi
