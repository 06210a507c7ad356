'use strict';
// The JS API: argument errors, path facts, value mapping, property order and digests.
const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { pathToFileURL } = require('node:url');
const { parse, parseBytes, parseAsync } = require('..');

const sample = path.join(__dirname, '..', 'examples', 'sample.jpg');

function tmpdir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'vorlix-api-'));
}

// Bitwise CRC-32 (reflected 0xEDB88320), independent of the addon's library.
function crc32(buf) {
  let c = 0xffffffff;
  for (const b of buf) {
    c ^= b;
    for (let k = 0; k < 8; k++) c = (c >>> 1) ^ (0xedb88320 & -(c & 1));
  }
  return ((c ^ 0xffffffff) >>> 0).toString(16).padStart(8, '0');
}

// Every object at every level lists its keys in byte order.
function assertKeysSorted(value, where = 'report') {
  if (Array.isArray(value)) {
    value.forEach((v, i) => assertKeysSorted(v, `${where}[${i}]`));
  } else if (value !== null && typeof value === 'object') {
    const keys = Object.keys(value);
    const sorted = [...keys].sort((a, b) => Buffer.compare(Buffer.from(a), Buffer.from(b)));
    assert.deepEqual(keys, sorted, `keys of ${where}`);
    for (const k of keys) assertKeysSorted(value[k], `${where}.${k}`);
  }
}

test('parse rejects non-string arguments with StringExpected and a description', () => {
  const cases = [
    [[], 'Undefined'],
    [[undefined], 'Undefined'],
    [[null], 'Null'],
    [[{ a: 1 }], 'Object {"a":1}'],
    [[[1, 'x']], 'Object [1,"x"]'],
    [[42], 'Number 42 '],
    [[1.5], 'Number 1.5 '],
    [[true], 'Boolean true '],
    [[10n], 'BigInt 10 '],
    [[Symbol('s')], 'Symbol'],
    [[function named() {}], 'function named(..) '],
    [[Object.defineProperty(() => {}, 'name', { value: '' })], 'function anonymous(..) '],
    // Byte paths are Uint8Arrays only, and URLs only URL objects.
    [[new Uint16Array([1])], 'Object {"0":1}'],
    [[{ href: 'file:///x', protocol: 'file:' }], 'Object {"href":"file:///x","protocol":"file:"}'],
  ];
  for (const [args, d] of cases) {
    assert.throws(() => parse(...args), (err) => {
      assert.ok(err instanceof Error);
      assert.equal(err.code, 'StringExpected');
      assert.equal(err.message, `Failed to convert JavaScript value \`${d}\` into type \`String\``);
      return true;
    }, d);
  }
});

test('an exception thrown while describing the argument gives way to StringExpected', () => {
  const cyclic = {};
  cyclic.self = cyclic;
  const plain = { code: 'StringExpected', message: 'Failed to convert JavaScript value `Object` into type `String`' };
  assert.throws(() => parse(cyclic), plain);
  assert.throws(() => parse({ toJSON() { throw new RangeError('mine'); } }), plain);
});

test('parse throws GenericFailure for paths that cannot be opened', () => {
  const missing = path.join(tmpdir(), 'missing.jpg');
  assert.throws(() => parse(missing), {
    code: 'GenericFailure',
    message: `${missing}: No such file or directory (os error 2)`,
  });
  assert.throws(() => parse('a\0b'), {
    code: 'GenericFailure',
    message: 'a\0b: file name contained an unexpected NUL byte',
  });
});

test('paths as name bytes and file: URLs; names that are not UTF-8 follow the lossy-text rule', async () => {
  const dir = tmpdir();
  const bytes = fs.readFileSync(sample);
  // "caf", 0xE9, ".jp", a cut 3-byte sequence, "g": two ill-formed subparts, one U+FFFD each.
  const name = Buffer.from('caf\xe9.jp\xe2\x82g', 'latin1');
  const file = Buffer.concat([Buffer.from(`${dir}/`), name]);
  fs.writeFileSync(file, bytes);
  const url = `${pathToFileURL(dir).href}/caf%E9.jp%e2%82g`;
  const inputs = [file, new Uint8Array(file), new URL(url), new URL(url.replace('file://', 'file://localhost'))];
  for (const input of inputs) {
    for (const report of [parse(input), await parseAsync(input)]) {
      assert.equal(report.errors, undefined);
      assert.equal(report.file.name, 'caf\ufffd.jp\ufffdg');
      assert.equal(report.file.extension_claimed, 'jp\ufffdg');
      assert.equal(report.file.sha256, crypto.createHash('sha256').update(bytes).digest('hex'));
    }
  }
  // Percent-encoded characters of a URL are the name's characters.
  const odd = path.join(dir, 'a b#%.jpg');
  fs.writeFileSync(odd, bytes);
  assert.equal(parse(pathToFileURL(odd)).file.name, 'a b#%.jpg');

  const missing = `${dir}/nope\ufffd: No such file or directory (os error 2)`;
  for (const input of [Buffer.concat([Buffer.from(`${dir}/nope`), Buffer.from([0xff])]), new URL(`file://${dir}/nope%FF`)]) {
    assert.throws(() => parse(input), { code: 'GenericFailure', message: missing });
  }
  for (const input of [Buffer.from('a\0b'), new URL('file:///a%00b')]) {
    assert.throws(() => parse(input), { code: 'GenericFailure', message: /^\/?a\0b: file name contained an unexpected NUL byte$/ });
  }
  // URLs that name no local file are refused as Node's fs refuses them.
  for (const [href, code] of [
    ['http://example.com/a.jpg', 'ERR_INVALID_URL_SCHEME'],
    ['file://server/a.jpg', 'ERR_INVALID_FILE_URL_HOST'],
    [`file://${dir}/a%2fb`, 'ERR_INVALID_FILE_URL_PATH'],
  ]) {
    assert.throws(() => parse(new URL(href)), (err) => err instanceof TypeError && err.code === code, href);
  }
});

test('a content longer than its stated size is reported, as a /proc file states 0 bytes', () => {
  for (const hashes of [true, false]) {
    const report = parse('/proc/self/status', { hashes });
    assert.deepEqual(report.errors, [
      { extractor: 'file', message: 'content changed during the read: expected 0 bytes, found more' },
    ]);
    assert.equal(report.file.size_bytes, 0);
    assert.equal(report.file.name, 'status');
    // The digests cover the stated bytes, none.
    if (hashes) assert.equal(report.file.sha256, crypto.createHash('sha256').digest('hex'));
  }
});

test('parse refuses endless sources instead of blocking', () => {
  const dir = tmpdir();
  const fifo = path.join(dir, 'pipe');
  execFileSync('mkfifo', [fifo]);
  assert.throws(() => parse(fifo), {
    code: 'GenericFailure',
    message: `${fifo}: not a regular file or directory`,
  });
  assert.throws(() => parse('/dev/zero'), { code: 'GenericFailure' });
});

test('a directory yields a file error and the path facts', () => {
  const dir = tmpdir();
  const report = parse(dir);
  assert.deepEqual(Object.keys(report), ['errors', 'file']);
  assert.equal(report.errors.length, 1);
  assert.equal(report.errors[0].extractor, 'file');
  assert.match(report.errors[0].message, /^I\/O error: /);
  assert.deepEqual(Object.keys(report.errors[0]), ['extractor', 'message']);
  assert.equal(report.file.name, path.basename(dir));
  assert.equal(typeof report.file.modified_unix, 'number');
  assert.equal(report.file.size_bytes, undefined);
});

test('name and extension_claimed follow the last path component', () => {
  const dir = tmpdir();
  const jpeg = fs.readFileSync(sample);
  const cases = [
    ['photo.JPG', 'photo.JPG', 'JPG'],
    ['.bashrc', '.bashrc', undefined],
    ['archive.tar.gz', 'archive.tar.gz', 'gz'],
    ['a.', 'a.', ''],
    ['noext', 'noext', undefined],
    ['..hidden', '..hidden', 'hidden'],
  ];
  for (const [file, name, ext] of cases) {
    const p = path.join(dir, file);
    fs.writeFileSync(p, jpeg);
    const f = parse(p).file;
    assert.equal(f.name, name, file);
    assert.equal(f.extension_claimed, ext, file);
    assert.equal(f.extension_canonical, 'jpg', file);
  }
  // Trailing "/." and doubled slashes are not components; a final ".." or the root has no name.
  fs.mkdirSync(path.join(dir, 'sub.d'));
  assert.equal(parse(path.join(dir, 'sub.d') + '//.').file.name, 'sub.d');
  assert.equal(parse(`${dir}/sub.d/..`).file.name, '');
  assert.equal(parse('/').file.name, '');
});

test('relative paths resolve against the working directory and keep their spelling', () => {
  const dir = tmpdir();
  fs.writeFileSync(path.join(dir, 'x.bin'), 'abc');
  const cwd = process.cwd();
  try {
    process.chdir(dir);
    const f = parse('./x.bin').file;
    assert.equal(f.name, 'x.bin');
    assert.equal(f.size_bytes, 3);
  } finally {
    process.chdir(cwd);
  }
});

test('timestamps are whole seconds from the file metadata', () => {
  const dir = tmpdir();
  const p = path.join(dir, 't.txt');
  fs.writeFileSync(p, 'x');
  fs.utimesSync(p, 1000.9, 1700000000.75);
  const f = parse(p).file;
  assert.equal(f.modified_unix, 1700000000);
  const st = fs.statSync(p);
  if (st.birthtimeMs > 0) assert.equal(f.created_unix, Math.floor(st.birthtimeMs / 1000));
  // Node's own utimes maps negative times to now, so set a pre-1970 time with touch.
  execFileSync('touch', ['-m', '-d', '@-5', p]);
  assert.equal(parse(p).file.modified_unix, undefined, 'times before 1970 are left out');
});

test('the file namespace matches independent digests of real files', () => {
  for (const p of [sample, __filename, path.join(__dirname, '..', 'package.json')]) {
    const bytes = fs.readFileSync(p);
    const f = parse(p).file;
    assert.equal(f.size_bytes, bytes.length);
    assert.equal(f.sha256, crypto.createHash('sha256').update(bytes).digest('hex'));
    assert.equal(f.crc32, crc32(bytes));
    assert.deepEqual(parseBytes(bytes).file.sha256, f.sha256);
  }
});

test('parseBytes: empty input, typed arrays, and no path facts', () => {
  const r = parseBytes(Buffer.alloc(0));
  assert.deepEqual(Object.keys(r), ['file']);
  assert.equal(r.file.size_bytes, 0);
  assert.equal(r.file.crc32, '00000000');
  assert.equal(r.file.name, undefined);
  assert.equal(r.file.entropy_bits_per_byte, undefined);

  const bytes = new Uint8Array([1, 2, 3, 4]);
  assert.equal(parseBytes(bytes).file.crc32, crc32(bytes));
  // A view into a larger buffer covers only its own bytes.
  const big = Buffer.from('xxhelloxx');
  assert.equal(parseBytes(big.subarray(2, 7)).file.crc32, crc32(Buffer.from('hello')));
});

test('parseBytes rejects what is not a Buffer', () => {
  assert.throws(() => parseBytes({}), { code: 'InvalidArg', message: 'Failed to get Buffer pointer and length' });
  assert.throws(() => parseBytes([1, 2]), { message: 'Failed to get Buffer pointer and length' });
  for (const v of ['str', 7, undefined, null]) {
    assert.throws(() => parseBytes(v), {
      message: /^Failed to (create reference from Buffer|get Buffer pointer and length)$/,
    });
  }
});

test('entropy: negative zero survives for single-valued input, 8 bits for all byte values', () => {
  const same = parseBytes(Buffer.alloc(100, 0x41)).file.entropy_bits_per_byte;
  assert.ok(Object.is(same, -0));
  const all = Buffer.from(Array.from({ length: 256 }, (_, i) => i));
  assert.equal(parseBytes(all).file.entropy_bits_per_byte, 8);
});

test('reports have no errors key when nothing failed, and keys in byte order', () => {
  const r = parse(sample);
  assert.equal('errors' in r, false);
  assertKeysSorted(r);
  assert.deepEqual(Object.keys(r.file), [...Object.keys(r.file)].sort());
});

test('calls are independent and arguments after the options are ignored', () => {
  const a = parseBytes(Buffer.from('one'), undefined, 'extra', 3);
  const b = parseBytes(Buffer.from('two'));
  assert.notEqual(a.file.sha256, b.file.sha256);
  assert.deepEqual(parseBytes(Buffer.from('one')), a);
});

test('sniffed types and digests of the sample files', () => {
  const dir = path.join(__dirname, '..', 'core', 'tests', 'fixtures', 'content-types');
  const rows = fs.readFileSync(path.join(dir, 'EXPECTED.tsv'), 'utf8').trim().split('\n').slice(1);
  assert.ok(rows.length >= 50);
  for (const row of rows) {
    const [file, mime, ext] = row.split('\t');
    const bytes = fs.readFileSync(path.join(dir, file));
    const f = parse(path.join(dir, file)).file;
    assert.equal(f.mime_detected, mime, file);
    assert.equal(f.extension_canonical, ext, file);
    assert.equal(f.sha256, crypto.createHash('sha256').update(bytes).digest('hex'), file);
    assert.equal(f.crc32, crc32(bytes), file);
  }
});
