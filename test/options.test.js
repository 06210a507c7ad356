'use strict';
// The options of all four functions: validation (TypeErrors naming the option or value),
// extractor selection and hashes off.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { parse, parseBytes, parseAsync, parseBytesAsync, extractors } = require('..');

const sample = path.join(__dirname, '..', 'examples', 'sample.jpg');
const sampleBytes = fs.readFileSync(sample);
const png = path.join(__dirname, 'fixtures', 'images', 'png_text_phys.png');

// Each function called the same way: (options) => report or Promise of one.
const callers = [
  ['parse', (o) => parse(sample, o)],
  ['parseBytes', (o) => parseBytes(sampleBytes, o)],
  ['parseAsync', (o) => parseAsync(sample, o)],
  ['parseBytesAsync', (o) => parseBytesAsync(sampleBytes, o)],
];

async function outcome(call) {
  try {
    return { value: await call() };
  } catch (error) {
    return { error };
  }
}

function bytesRead() {
  return Number(/^rchar: (\d+)$/m.exec(fs.readFileSync('/proc/self/io', 'utf8'))[1]);
}

test('bad options are TypeErrors that name the option or value, from every function', async () => {
  const cases = [
    [null, 'options must be an object, got null'],
    [7, 'options must be an object, got 7'],
    ['file', 'options must be an object, got "file"'],
    [['file'], 'options must be an object, got an array'],
    [{ hash: false }, 'unknown option "hash"'],
    [{ extractors: 'jpeg' }, 'options.extractors must be an array of extractor names, got "jpeg"'],
    [{ extractors: ['jpeg', 3] }, 'options.extractors[1] must be a string, got 3'],
    [{ extractors: ['JPEG'] }, `unknown extractor "JPEG" in options.extractors (known: ${extractors.join(', ')})`],
    [{ hashes: 0 }, 'options.hashes must be a boolean, got 0'],
    [{ hashes: 'false' }, 'options.hashes must be a boolean, got "false"'],
  ];
  for (const [name, call] of callers) {
    for (const [options, message] of cases) {
      const { error } = await outcome(() => call(options));
      assert.ok(error instanceof TypeError, `${name}(${JSON.stringify(options)}) fails with a TypeError`);
      assert.equal(error.message, `${name}: ${message}`);
    }
  }
  // The signal: an AbortSignal, and only where a call can be aborted.
  for (const [name, call] of callers) {
    const async = name.endsWith('Async');
    const { error } = await outcome(() => call({ signal: new AbortController().signal }));
    assert.equal(error?.message, async ? undefined : `${name}: options.signal is accepted only by parseAsync and parseBytesAsync`);
    if (async) {
      const bad = await outcome(() => call({ signal: { aborted: false } }));
      assert.equal(bad.error.message, `${name}: options.signal must be an AbortSignal, got an object`);
    }
  }
});

test('no options, undefined and {} all give the full report', async () => {
  for (const [name, call] of callers) {
    const full = await call();
    assert.ok(full.file.sha256 && full.jpeg && full.exif, name);
    assert.deepEqual(await call(undefined), full, name);
    assert.deepEqual(await call({}), full, name);
    assert.deepEqual(await call({ hashes: true, extractors: [...extractors] }), full, name);
  }
});

test('only the chosen extractors run; sniffing and path facts follow "file"', async () => {
  const full = parse(sample);
  const pathFacts = ['created_unix', 'extension_claimed', 'modified_unix', 'name'];
  const cases = [
    [[], []],
    [['file'], ['file']],
    [['jpeg'], ['jpeg']],
    [['exif'], ['exif']],  // claimed through the sniffed type, so sniffing still ran
    [['png', 'zip', 'pdf'], []],
    [['jpeg', 'file', 'jpeg'], ['file', 'jpeg']],
  ];
  for (const [name, call] of callers) {
    for (const [chosen, namespaces] of cases) {
      const r = await call({ extractors: chosen });
      assert.deepEqual(Object.keys(r), namespaces, `${name} ${chosen}`);
      for (const ns of namespaces) {
        if (ns !== 'file') assert.deepEqual(r[ns], full[ns], `${name} ${chosen} ${ns}`);
      }
      if (r.file) {
        const hasPathFacts = name === 'parse' || name === 'parseAsync';
        for (const key of pathFacts.filter((k) => k in full.file)) {
          assert.equal(key in r.file, hasPathFacts, `${name}: file.${key}`);
        }
        assert.equal(r.file.mime_detected, 'image/jpeg');
      }
    }
  }
  // An extractor that would fail still reports its error when chosen, and nothing when not.
  const gz = Buffer.from([0x1f, 0x8b, 8]);
  assert.deepEqual(parseBytes(gz, { extractors: ['gzip'] }).errors, [
    { extractor: 'gzip', message: 'malformed gzip: header too short' },
  ]);
  assert.deepEqual(parseBytes(gz, { extractors: ['file'] }).errors, undefined);
});

test('hashes: false keeps the file facts but drops digests and entropy', async () => {
  for (const [name, call] of callers) {
    const full = await call();
    const r = await call({ hashes: false });
    const expected = { ...full.file };
    delete expected.sha256;
    delete expected.crc32;
    delete expected.entropy_bits_per_byte;
    assert.deepEqual(r.file, expected, name);
    assert.deepEqual(Object.keys(r.file), Object.keys(expected), name);
    assert.deepEqual(r.jpeg, full.jpeg, name);
    assert.deepEqual(r.exif, full.exif, name);
  }
  const pngReport = parse(png, { hashes: false, extractors: ['file', 'png'] });
  assert.equal(pngReport.file.mime_detected, 'image/png');
  assert.deepEqual(pngReport.png, parse(png).png);
});

test('hashes: false skips the content pass of a large file', async (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlix-options-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const file = path.join(dir, 'sparse.bin');
  fs.closeSync(fs.openSync(file, 'w'));
  fs.truncateSync(file, 2 * 1024 ** 3);
  for (const run of [() => parse(file, { hashes: false }), () => parseAsync(file, { hashes: false })]) {
    const before = bytesRead();
    const r = await run();
    assert.equal(r.file.size_bytes, 2 * 1024 ** 3);
    assert.equal(r.file.sha256, undefined);
    // The header alone.
    assert.ok(bytesRead() - before <= 65536, `read ${bytesRead() - before} bytes`);
  }
});
