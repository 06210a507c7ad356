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

// ---- text of hostile size -------------------------------------------------------------------
const MiB = 1024 * 1024;
const be32 = (v) => { const b = Buffer.alloc(4); b.writeUInt32BE(v); return b; };
const pngChunk = (type, data) => Buffer.concat([be32(data.length), Buffer.from(type, 'latin1'), data, be32(0)]);
// A PNG of one tEXt chunk per [keyword, text] pair of Buffers.
const pngTexts = (pairs) => Buffer.concat([
  Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
  pngChunk('IHDR', Buffer.concat([be32(1), be32(1), Buffer.from([8, 0, 0, 0, 0])])),
  ...pairs.map(([k, v]) => pngChunk('tEXt', Buffer.concat([k, Buffer.from([0]), v]))),
  pngChunk('IEND', Buffer.alloc(0)),
]);
// An ID3v2.3 tag of one TIT2 frame: the encoding byte, then `text`.
const synchsafe = (n) => Buffer.from([(n >> 21) & 0x7f, (n >> 14) & 0x7f, (n >> 7) & 0x7f, n & 0x7f]);
const id3Title = (encoding, text) => {
  const body = Buffer.concat([Buffer.from([encoding]), text]);
  return Buffer.concat([Buffer.from('ID3\x03\x00\x00', 'latin1'), synchsafe(10 + body.length),
    Buffer.from('TIT2', 'latin1'), be32(body.length), Buffer.from([0, 0]), body]);
};

test('a text past 1 MiB is cut there and ends with "...", a shorter one is whole', () => {
  const ascii = (n) => 'x'.repeat(n);
  // 'a' then two-byte characters: byte 1 MiB falls inside one, so the cut comes before it.
  const straddling = `a${'\u00e9'.repeat(MiB / 2)}`;
  const utf16 = (s, bom = true) => Buffer.concat([Buffer.from(bom ? [0xff, 0xfe] : []), Buffer.from(s, 'utf16le')]);
  const cases = [
    // [what, input, where the text is in the report, text expected]
    ['png text of 1 MiB', pngTexts([[Buffer.from('k'), Buffer.from(ascii(MiB))]]), (r) => r.png.text.k, ascii(MiB)],
    ['png text of 1 MiB + 1', pngTexts([[Buffer.from('k'), Buffer.from(ascii(MiB + 1))]]), (r) => r.png.text.k, `${ascii(MiB)}...`],
    ['png text of 0xFF bytes', pngTexts([[Buffer.from('k'), Buffer.alloc(MiB, 0xff)]]), (r) => r.png.text.k,
      `${'\ufffd'.repeat(Math.floor(MiB / 3))}...`],
    ['png text split inside a character', pngTexts([[Buffer.from('k'), Buffer.from(straddling)]]), (r) => r.png.text.k,
      `a${'\u00e9'.repeat(MiB / 2 - 1)}...`],
    ['png keyword of 1 MiB + 1', pngTexts([[Buffer.from(ascii(MiB + 1)), Buffer.from('v')]]),
      (r) => Object.keys(r.png.text)[0], `${ascii(MiB)}...`],
    ['id3 Latin-1 of 1 MiB of 0xFF', id3Title(0, Buffer.alloc(MiB, 0xff)), (r) => r.id3.frames.title,
      `${'\u00ff'.repeat(MiB / 2)}...`],
    ['id3 Latin-1 of 1 MiB, trailing NULs', id3Title(0, Buffer.concat([Buffer.from(ascii(MiB)), Buffer.alloc(3 * MiB)])),
      (r) => r.id3.frames.title, ascii(MiB)],
    ['id3 UTF-8 of 1 MiB + 1', id3Title(3, Buffer.from(ascii(MiB + 1))), (r) => r.id3.frames.title, `${ascii(MiB)}...`],
    ['id3 UTF-16, marks and NULs around 1 MiB', id3Title(1, utf16(`\ufeff\ufeff${ascii(MiB)}\0\0`)),
      (r) => r.id3.frames.title, ascii(MiB)],
    ['id3 UTF-16 big-endian of 1 MiB + 1', id3Title(1, Buffer.from(utf16(ascii(MiB + 1), false).swap16().toString('latin1')
      .replace(/^/, '\xfe\xff'), 'latin1')), (r) => r.id3.frames.title, `${ascii(MiB)}...`],
  ];
  for (const [what, input, at, expected] of cases) {
    const got = at(parseBytes(input));
    assert.equal(got.length, expected.length, what);
    assert.ok(got === expected, what);
  }
});

test('a PNG keeps 65,536 distinct text keywords; later chunks still replace their texts', () => {
  const pairs = Array.from({ length: 65536 + 3 }, (_, i) => [Buffer.from(i.toString(16)), Buffer.from('v')]);
  const kept = parseBytes(pngTexts(pairs.slice(0, 65536))).png;
  assert.equal(Object.keys(kept.text).length, 65536);
  assert.equal(kept.text_truncated, undefined);
  const cut = parseBytes(pngTexts([...pairs, [Buffer.from('5'), Buffer.from('late')]])).png;
  assert.equal(Object.keys(cut.text).length, 65536);
  assert.equal(cut.text_truncated, true);
  assert.equal(cut.text['5'], 'late');
  assert.equal(cut.text[(65536).toString(16)], undefined);
});

// A little-endian TIFF whose one IFD is its own next IFD (so IFDs 0 to 7 repeat it) and names
// one value of `len` 'A's under `tags` ASCII tags from 270 on, then points at itself as its GPS IFD
// and, with `all`, as its Exif IFD and (from there) Interoperability IFD.
const exifLoop = (tags, len, all) => {
  const pointers = all ? [0x8769, 0x8825, 0xa005] : [0x8825];
  const count = pointers.length + tags;
  const ifd = Buffer.alloc(2 + 12 * count + 4);
  ifd.writeUInt16LE(count, 0);
  const entry = (i, tag, type, n, value) => {
    ifd.writeUInt16LE(tag, 2 + 12 * i);
    ifd.writeUInt16LE(type, 4 + 12 * i);
    ifd.writeUInt32LE(n, 6 + 12 * i);
    ifd.writeUInt32LE(value, 10 + 12 * i);
  };
  for (let i = 0; i < tags; i++) entry(i, 270 + i, 2, len, 8 + ifd.length);
  pointers.forEach((tag, i) => entry(tags + i, tag, 4, 1, 8));
  ifd.writeUInt32LE(8, ifd.length - 4);
  return Buffer.concat([Buffer.from([0x49, 0x49, 42, 0, 8, 0, 0, 0]), ifd, Buffer.alloc(len, 'A')]);
};

test('a looping EXIF chain shows its 1 MiB value whole in every IFD and its GPS IFD', () => {
  const { exif } = parseBytes(exifLoop(1, MiB, false));
  const whole = `"${'A'.repeat(MiB - 1)}...`;
  const groups = ['primary', 'thumbnail', 'ifd2', 'ifd3', 'ifd4', 'ifd5', 'ifd6', 'ifd7'];
  assert.deepEqual(Object.keys(exif).sort(), [...groups].sort());
  for (const g of groups) {
    assert.ok(exif[g].ImageDescription === whole, g);
    assert.ok(exif[g]['Tag(Gps, 270)'] === whole, g);
    assert.equal(exif[g]['Tag(Gps, 34853)'], '8', g);
  }
});

test('text-heavy inputs stay within 64 MiB + 4x their size of extra memory', () => {
  // Each in a child process: the growth of its peak RSS over one parseBytes, report included
  // (the peak is reset to the current RSS first, so reading the input does not hide it).
  const size = 32 * MiB;
  const script = `
    const fs = require('node:fs');
    const { parseBytes } = require(${JSON.stringify(root)});
    const input = fs.readFileSync(0);
    const kib = (field) => parseInt(fs.readFileSync('/proc/self/status', 'utf8').split('\\n')
      .find((l) => l.startsWith(field + ':')).slice(field.length + 1), 10);
    fs.writeFileSync('/proc/self/clear_refs', '5');
    const before = kib('VmRSS');
    const report = parseBytes(input);
    console.log(JSON.stringify({ grew: (kib('VmHWM') - before) * 1024, keys: Object.keys(report) }));
  `;
  const texts = (n, byte) => Array.from({ length: n }, (_, i) => [Buffer.from(`k${i}`), Buffer.alloc(MiB, byte)]);
  const cases = [
    ['png, 32 texts of 1 MiB of 0x01', pngTexts(texts(32, 1))],
    ['png, 32 texts of 1 MiB of 0xFF', pngTexts(texts(32, 0xff))],
    ['png, 1,200,000 empty texts', pngTexts(Array.from({ length: 1200000 }, (_, i) => [Buffer.from(i.toString(16)), Buffer.alloc(0)]))],
    ['id3 Latin-1 of 32 MiB of 0x01', id3Title(0, Buffer.alloc(size, 1))],
    ['id3 UTF-16 of unpaired surrogates', id3Title(1, Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.alloc(size, 0xd8)]))],
    ['exif loop naming 1 MiB under 16 fields', exifLoop(1, MiB, false)],
    ['exif loop naming 1 MiB under 256 fields', exifLoop(8, MiB, true)],
  ];
  for (const [what, input] of cases) {
    const r = spawnSync(process.execPath, ['-e', script], { input, encoding: 'utf8', maxBuffer: 1 << 20 });
    assert.equal(r.status, 0, `${what}: ${r.stderr.slice(0, 500)}`);
    const { grew, keys } = JSON.parse(r.stdout);
    assert.ok(!keys.includes('errors'), `${what}: ${keys}`);
    assert.ok(grew <= 64 * MiB + 4 * input.length, `${what}: ${(grew / MiB).toFixed(1)} MiB for ${(input.length / MiB).toFixed(1)} MiB`);
  }
});
