#!/usr/bin/env node
'use strict';
// The package's install step: nothing to do when a compiled addon loads (a prebuilt binary for
// this platform, or a local build); otherwise the addon is compiled from source. Package
// managers that skip install scripts (--ignore-scripts, pnpm, bun) get the prebuilt binary all
// the same, since lib/loader.js finds it at require time.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { loadAddon } = require('../lib/loader.js');

const root = path.join(__dirname, '..');

function onPath(command) {
  return (process.env.PATH || '').split(path.delimiter)
    .some((dir) => dir && fs.existsSync(path.join(dir, command)));
}

function hasHeader(name) {
  const dirs = [...(process.env.CPATH || '').split(path.delimiter),
    ...(process.env.CPLUS_INCLUDE_PATH || '').split(path.delimiter),
    '/usr/local/include', '/usr/include'].filter(Boolean);
  return dirs.some((dir) => fs.existsSync(path.join(dir, name)));
}

/** What a source build lacks on this machine, as names a user can act on. */
function missingForBuild() {
  const missing = [];
  if (!onPath('cmake')) missing.push('cmake (3.20 or newer)');
  const cxx = process.env.CXX ? [process.env.CXX.split(' ')[0]] : ['c++', 'g++', 'clang++'];
  if (!cxx.some((c) => (path.isAbsolute(c) ? fs.existsSync(c) : onPath(c)))) {
    missing.push('a C++20 compiler (g++ 10+ or clang++ 12+)');
  }
  if (!hasHeader('openssl/evp.h')) missing.push('the OpenSSL development files (Debian: libssl-dev)');
  if (!hasHeader('libdeflate.h')) missing.push('libdeflate\'s development files (Debian: libdeflate-dev)');
  return missing;
}

// cmake-js from the package's dependencies when present (a clone), else from the registry.
function cmakeJs() {
  try {
    return [process.execPath, [require.resolve('cmake-js/bin/cmake-js', { paths: [root] })]];
  } catch {
    const npx = path.join(path.dirname(process.execPath), 'npx');
    return [fs.existsSync(npx) ? npx : 'npx', ['--yes', '--package', 'cmake-js@8', 'cmake-js']];
  }
}

function main() {
  try {
    loadAddon();
    return 0;
  } catch (err) {
    if (!process.env.VORLIX_ADDON) console.error(`${err.message.split('\nBuild it')[0]}\n`);
  }
  if (process.env.VORLIX_ADDON) {
    console.error('vorlix: VORLIX_ADDON names a file that does not load; unset it to build');
    return 1;
  }
  console.error('vorlix: building the addon from source');
  const missing = missingForBuild();
  if (missing.length > 0) {
    console.error(`vorlix: cannot build from source; missing:\n${missing.map((m) => `  - ${m}`).join('\n')}`);
    console.error('Install them (on Debian: apt-get install cmake g++ libssl-dev libdeflate-dev), ' +
      `then run: cd ${JSON.stringify(root)} && node scripts/install.js`);
    return 1;
  }
  const [cmd, args] = cmakeJs();
  // Without the developers' test hooks, even where an earlier developer build left them on in
  // the build tree's cache.
  const r = spawnSync(cmd, [...args, 'compile', '--out', 'build-addon', '--CDVORLIX_TEST_HOOKS=OFF'],
    { cwd: root, stdio: 'inherit' });
  if (r.status !== 0) {
    console.error('vorlix: the source build failed (see above)');
    return 1;
  }
  loadAddon();
  return 0;
}

process.exitCode = main();
