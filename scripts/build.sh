#!/usr/bin/env bash
# Builds the Node addon into build-addon/ (cmake-js with the Node-API headers from npm: nothing
# is downloaded at build time). Extra arguments go to cmake-js, e.g. --CDVORLIX_DEV=ON to build
# the core tests in the same tree.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# Warnings are errors here (our own builds); a user's `npm install` compiles without -Werror.
# The test hooks are in: the JS tests and benchmarks call them. Configured every time, so that
# options given here reach a tree configured before without them.
args=(--out build-addon --CDVORLIX_WERROR=ON --CDVORLIX_TEST_HOOKS=ON "$@")
npx --no-install cmake-js configure "${args[@]}" >/dev/null
npx --no-install cmake-js build --parallel "$(nproc)" "${args[@]}" >/dev/null
