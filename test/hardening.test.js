'use strict';
// The binding under hostile callers and hosts: descriptions of wrong arguments stay bounded and
// keep their code, a C++ allocation failure becomes a thrown Error instead of an abort, the
// addon carries its own hidden libcrypto, and user builds do not turn warnings into errors.
const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { parse, parseBytes } = require('..');

const root = path.join(__dirname, '..');

function describedAs(arg) {
  try {
    parse(arg);
  } catch (err) {
    assert.equal(err.code, 'StringExpected');
    const m = /^Failed to convert JavaScript value `(.*)` into type `String`$/s.exec(err.message);
    assert.ok(m, err.message.slice(0, 300));
    return m[1];
  }
  assert.fail('parse did not throw');
}

test('a value whose text cannot be had is described by its kind word alone', () => {
  const cyclic = { a: 1 };
  cyclic.self = cyclic;
  const namedThrows = function f() {};
  Object.defineProperty(namedThrows, 'name', { get() { throw new Error('no name'); } });
  const cases = [
    ['a cyclic object', cyclic, 'Object'],
    ['a BigInt inside an object', { n: 1n }, 'Object'],
    ['a throwing toJSON', { toJSON() { throw new RangeError('mine'); } }, 'Object'],
    ['a toJSON that returns nothing', { toJSON() {} }, 'Object'],
    ['a function whose name getter throws', namedThrows, 'Function'],
    ['a function whose name is not a string', Object.defineProperty(() => {}, 'name', { value: 7 }), 'Function'],
  ];
  for (const [name, arg, d] of cases) {
    assert.equal(describedAs(arg), d, name);
    // No exception is left pending behind the thrown error.
    assert.equal(parseBytes(Buffer.alloc(0)).file.size_bytes, 0, name);
  }
});

test('long descriptions are cut after 256 bytes of the value text, at a character boundary', () => {
  const cases = [
    ['a long string member', { s: 'x'.repeat(1000) }, `Object {"s":"${'x'.repeat(250)}...`],
    ['two-byte characters', { s: 'é'.repeat(300) }, `Object {"s":"${'é'.repeat(125)}...`],
    ['a large BigInt', 10n ** 400n, `BigInt 1${'0'.repeat(255)}... `],
    ['a long function name', Object.defineProperty(() => {}, 'name', { value: 'f'.repeat(300) }),
      `function ${'f'.repeat(256)}...(..) `],
    ['exactly 256 bytes are kept whole', { s: 'y'.repeat(248) }, `Object {"s":"${'y'.repeat(248)}"}`],
    ['a 257-byte text is cut', { s: 'y'.repeat(249) }, `Object {"s":"${'y'.repeat(249)}"...`],
    ['a small typed array keeps its JSON form', new Int16Array([1, 2]), 'Object {"0":1,"1":2}'],
  ];
  for (const [name, arg, d] of cases) assert.equal(describedAs(arg), d, name);
});

test('a 20 MB typed array is described by its first elements', () => {
  // Not a Uint8Array: those are paths.
  const big = new Int8Array(20 * 1024 * 1024).fill(7);
  const text = JSON.stringify(big.subarray(0, 200));
  assert.equal(describedAs(big), `Object ${text.slice(0, 256)}...`);
  const floats = new Float64Array(3_000_000).fill(0.5);
  assert.equal(describedAs(floats), `Object ${JSON.stringify(floats.subarray(0, 100)).slice(0, 256)}...`);
});

test('running out of memory while reading the path throws GenericFailure, not an abort', () => {
  // A child process limited in address space: it builds a 256 MiB path string, then parse has
  // to copy it. The limit is what the child uses once the string exists, plus half the copy.
  const size = 256 * 1024 * 1024;
  const script = `
    const { parse } = require(${JSON.stringify(root)});
    const s = 'a'.repeat(${size});
    /b/.test(s); // flattens the string once, before the measurement
    globalThis.gc();
    globalThis.gc();
    if (process.argv[1] === 'measure') {
      const status = require('fs').readFileSync('/proc/self/status', 'utf8');
      console.log(/VmSize:\\s+(\\d+) kB/.exec(status)[1]);
    } else {
      try {
        parse(s);
        console.log(JSON.stringify({ returned: true }));
      } catch (e) {
        console.log(JSON.stringify({ code: e.code, message: e.message }));
      }
    }
  `;
  // One malloc arena keeps the address space of the two runs alike.
  const env = { ...process.env, MALLOC_ARENA_MAX: '1' };
  const run = (limitKiB, mode) => spawnSync('bash', ['-c',
    `${limitKiB ? `ulimit -v ${limitKiB}; ` : ''}exec "$0" --expose-gc -e "$1" "$2"`,
    process.execPath, script, mode], { encoding: 'utf8', env });
  const measured = run(0, 'measure');
  assert.equal(measured.status, 0, measured.stderr);
  const limit = Number(measured.stdout.trim()) + size / 2 / 1024;
  const r = run(limit, 'parse');
  assert.equal(r.signal, null, `child died of ${r.signal}: ${r.stderr.slice(0, 500)}`);
  assert.equal(r.status, 0, r.stderr.slice(0, 500));
  assert.deepEqual(JSON.parse(r.stdout), { code: 'GenericFailure', message: 'out of memory' });
});

test('the addon carries its own libcrypto and exports none of it', () => {
  const addon = require.resolve('../build-addon/Release/vorlix.node');
  const dynamic = spawnSync('readelf', ['-d', addon], { encoding: 'utf8' });
  assert.equal(dynamic.status, 0, dynamic.stderr);
  const needed = [...dynamic.stdout.matchAll(/\(NEEDED\)\s+Shared library: \[(.+)\]/g)].map((m) => m[1]);
  assert.ok(needed.length > 0, 'readelf listed no libraries');
  assert.deepEqual(needed.filter((lib) => /libcrypto|libssl/.test(lib)), []);
  const symbols = spawnSync('nm', ['-D', '--defined-only', addon], { encoding: 'utf8' });
  assert.equal(symbols.status, 0, symbols.stderr);
  const exported = symbols.stdout.split('\n').map((l) => l.split(' ').pop());
  assert.ok(exported.includes('napi_register_module_v1'), 'nm listed no module entry point');
  assert.deepEqual(exported.filter((s) => /^(EVP_|OPENSSL_|CRYPTO_|ERR_|OSSL_|SHA\d)/.test(s)), []);
  // ... and the digest it computes with that copy is right.
  const bytes = Buffer.from('vorlix hashes with its own libcrypto');
  assert.equal(parseBytes(bytes).file.sha256, crypto.createHash('sha256').update(bytes).digest('hex'));
});

test('warnings are errors only when asked for or in developer builds', () => {
  const configure = (...flags) => {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlix-werror-'));
    try {
      const r = spawnSync('cmake', ['-S', root, '-B', dir, '-DCMAKE_EXPORT_COMPILE_COMMANDS=ON', ...flags],
        { encoding: 'utf8' });
      assert.equal(r.status, 0, r.stderr);
      const commands = JSON.parse(fs.readFileSync(path.join(dir, 'compile_commands.json'), 'utf8'));
      const ours = commands.filter((c) => c.file.includes(`${path.sep}core${path.sep}src${path.sep}`));
      assert.ok(ours.length > 0);
      return ours.map((c) => c.command.split(/\s+/).includes('-Werror'));
    } finally {
      fs.rmSync(dir, { recursive: true, force: true });
    }
  };
  const user = configure();
  assert.ok(user.every((w) => !w), 'a default build must not use -Werror');
  const strict = configure('-DVORLIX_WERROR=ON');
  assert.ok(strict.every((w) => w), 'VORLIX_WERROR=ON must add -Werror everywhere');
});
