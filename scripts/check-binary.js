#!/usr/bin/env node
'use strict';
// Checks that prebuilt addons load on any glibc Linux that Node 20 runs on and cannot clash
// with other code in the process: it reads each binary's dynamic section, version needs and
// dynamic symbols (readelf) and fails on a needed library outside the C library's own, a glibc
// symbol version above 2.28, or an export other than the Node-API registration symbols. It also
// fails on a binary that carries the developers' test hooks (built with VORLIX_TEST_HOOKS).
// Usage: node scripts/check-binary.js FILE.node...
const { execFileSync } = require('node:child_process');

const allowedLibraries = new Set([
  'libc.so.6', 'libm.so.6', 'libpthread.so.0', 'libdl.so.2',
  'ld-linux-x86-64.so.2', 'ld-linux-aarch64.so.1',
]);
const glibcFloor = [2, 28];
const allowedExports = new Set(['napi_register_module_v1', 'node_api_module_get_api_version_v1']);

function readelf(args, file) {
  return execFileSync('readelf', ['-W', ...args, file], { encoding: 'utf8' });
}

function newer(version, floor) {
  for (let i = 0; i < Math.max(version.length, floor.length); ++i) {
    const a = version[i] ?? 0;
    const b = floor[i] ?? 0;
    if (a !== b) return a > b;
  }
  return false;
}

// The test hooks' JS names start with "__" and sit in .rodata as the string literals they are
// registered under; readelf reads them from a binary of any architecture, which no loader can.
function hookNames(file) {
  return [...readelf(['-p', '.rodata'], file).matchAll(/^\s*\[\s*[0-9a-f]+\]\s+(__[a-z][A-Za-z]*)$/gm)]
    .map((m) => m[1]);
}

/** The problems of one binary, as lines; empty when it passes. */
function check(file) {
  const problems = [];
  const needed = [...readelf(['-d'], file).matchAll(/\(NEEDED\)\s+Shared library: \[([^\]]+)\]/g)]
    .map((m) => m[1]);
  for (const lib of needed) {
    if (!allowedLibraries.has(lib)) problems.push(`needs ${lib}`);
  }
  const versions = new Set(
    [...readelf(['-V', '--dyn-syms'], file).matchAll(/GLIBC_([0-9.]+)/g)].map((m) => m[1]));
  for (const v of versions) {
    if (newer(v.split('.').map(Number), glibcFloor)) {
      problems.push(`references GLIBC_${v} (above ${glibcFloor.join('.')})`);
    }
  }
  const exported = [];
  for (const line of readelf(['--dyn-syms'], file).split('\n')) {
    // Num: Value Size Type Bind Vis Ndx Name
    const f = line.trim().split(/\s+/);
    if (f.length < 8 || !/^\d+:$/.test(f[0]) || f[6] === 'UND' || f[4] === 'LOCAL') continue;
    const name = f[7].replace(/@.*/, '');
    exported.push(name);
    if (!allowedExports.has(name)) problems.push(`exports ${f[7]}`);
  }
  const hooks = hookNames(file);
  for (const name of hooks) problems.push(`carries the test hook ${name}`);
  return { needed, versions: [...versions], exported, hooks, problems };
}

if (require.main === module) {
  const files = process.argv.slice(2);
  if (files.length === 0) {
    console.error('usage: node scripts/check-binary.js FILE.node...');
    process.exit(2);
  }
  let failed = false;
  for (const file of files) {
    const { needed, versions, exported, problems } = check(file);
    const max = versions.map((v) => v.split('.').map(Number))
      .sort((a, b) => (newer(a, b) ? 1 : newer(b, a) ? -1 : 0)).pop();
    console.log(`${file}: needs ${needed.join(' ')}; newest GLIBC_${max ? max.join('.') : '-'}; ` +
      `exports ${exported.join(' ')}`);
    for (const p of problems) console.error(`  FAIL ${p}`);
    failed ||= problems.length > 0;
  }
  process.exit(failed ? 1 : 0);
}

module.exports = { check };
