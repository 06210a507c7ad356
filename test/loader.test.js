'use strict';
// Finding the compiled addon (lib/loader.js) and what every build of it may need and export.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { loadAddon, candidates } = require('../lib/loader.js');
const { check } = require('../scripts/check-binary.js');

const localBuild = path.join(__dirname, '..', 'build-addon', 'Release', 'vorlix.node');

test('the files tried: a local build, then the prebuilt binary for the platform and C library', () => {
  const dir = path.join(os.tmpdir(), 'pkg');
  const cases = [
    [{ platform: 'linux', arch: 'x64', libc: () => 'glibc' }, 'linux-x64'],
    [{ platform: 'linux', arch: 'arm64', libc: () => 'glibc' }, 'linux-arm64'],
    [{ platform: 'linux', arch: 'x64', libc: () => 'musl' }, 'linux-x64-musl'],
    [{ platform: 'darwin', arch: 'arm64' }, 'darwin-arm64'],
  ];
  for (const [options, target] of cases) {
    assert.deepEqual(candidates({ dir, env: {}, ...options }), {
      target,
      files: [path.join(dir, 'build-addon', 'Release', 'vorlix.node'),
        path.join(dir, 'prebuilds', target, 'vorlix.node')],
    });
  }
  // VORLIX_ADDON names the one file to load.
  assert.deepEqual(candidates({ dir, env: { VORLIX_ADDON: 'x/a.node' } }),
    { target: 'VORLIX_ADDON', files: [path.resolve('x/a.node')] });
  // This machine runs glibc.
  assert.equal(candidates({ env: {} }).target, `linux-${process.arch}`);
});

test('nothing loads: one Error naming each file, why it failed, and how to build', () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlix-loader-'));
  const options = { dir, env: {}, platform: 'linux', arch: 'x64', libc: () => 'glibc' };
  const local = path.join(dir, 'build-addon', 'Release', 'vorlix.node');
  const prebuilt = path.join(dir, 'prebuilds', 'linux-x64', 'vorlix.node');
  assert.throws(() => loadAddon(options), (err) => {
    assert.equal(err.message.split('\n').slice(0, 3).join('\n'),
      `vorlix: no compiled addon loads for linux-x64. Tried:\n  ${local}: not found\n  ${prebuilt}: not found`);
    assert.match(err.message, /\n {2}cd ".*" && node scripts\/install\.js$/);
    return true;
  });
  // A file that is there but is no loadable library: the system's reason is given.
  fs.mkdirSync(path.dirname(prebuilt), { recursive: true });
  fs.writeFileSync(prebuilt, 'not an ELF file');
  assert.throws(() => loadAddon(options), (err) => {
    const line = err.message.split('\n')[2];
    assert.ok(line.startsWith(`  ${prebuilt}: `) && !line.endsWith('not found'), line);
    return true;
  });
  fs.rmSync(dir, { recursive: true });
});

test('VORLIX_ADDON loads the file it names', () => {
  const addon = loadAddon({ env: { VORLIX_ADDON: localBuild } });
  assert.equal(typeof addon.parse, 'function');
  assert.throws(() => loadAddon({ env: { VORLIX_ADDON: `${localBuild}.missing` } }),
    /Tried:\n {2}.*vorlix\.node\.missing: not found\n/);
});

test('every build links its C++ runtime and libraries in and exports the registration symbols alone', () => {
  const { needed, exported, hooks, problems } = check(localBuild);
  assert.ok(needed.includes('libc.so.6'), needed.join(' '));
  // Source builds bind to the building machine's glibc and may carry the test hooks; prebuilt
  // binaries are checked for 2.28 and for no hooks.
  assert.deepEqual(problems.filter((p) => !/^(references GLIBC_|carries the test hook )/.test(p)), []);
  assert.deepEqual(exported.sort(), ['napi_register_module_v1', 'node_api_module_get_api_version_v1']);
  // The check finds exactly the hooks the build exports, whether it has them or not.
  const jsHooks = Object.keys(loadAddon({ env: { VORLIX_ADDON: localBuild } })).filter((n) => n.startsWith('__'));
  assert.deepEqual(hooks.sort(), jsHooks.sort());
});

const prebuilt = candidates({ env: {} }).files[1];
test('a prebuilt binary exports no test hooks', {
  skip: !fs.existsSync(prebuilt) && 'no prebuilt binary for this platform (scripts/build-prebuilt.sh)',
}, () => {
  const names = Object.keys(loadAddon({ env: { VORLIX_ADDON: prebuilt } }));
  assert.ok(names.includes('parse'), names.join(' '));
  assert.deepEqual(names.filter((n) => n.startsWith('__')), []);
  assert.deepEqual(check(prebuilt).hooks, []);
});
