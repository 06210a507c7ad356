'use strict';
// parseStream: the report parseBytes gives for the same bytes, read once, in bounded memory,
// with a private spill file removed on every outcome.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const { Readable } = require('node:stream');
const v8 = require('node:v8');
const vm = require('node:vm');
const { parse, parseBytes, parseStream } = require('..');
const { samples, virtualFile, withoutPathFacts, mp4WithMoovLast, pngWithLargeIdat, webpWithLargeImage } = require('./helpers/sources');

const MiB = 1 << 20;

// Spill files go to os.tmpdir(): a directory of this test's own, so listing it sees only ours.
const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlix-streams-'));
process.env.TMPDIR = tmp;
test.after(() => fs.rmSync(tmp, { recursive: true, force: true }));
const spillFiles = () => fs.readdirSync(tmp);

function pieces(bytes, step) {
  const out = [];
  for (let at = 0; at < bytes.length; at += step) out.push(bytes.subarray(at, at + step));
  return out;
}

// The three kinds of input parseStream takes.
const INPUTS = [
  ['async iterable, 1-byte chunks', 1, (chunks) => (async function* () { yield* chunks; })()],
  ['Readable, 7-byte chunks', 7, (chunks) => Readable.from(chunks)],
  ['ReadableStream, 64 KiB chunks', 65536, (chunks) => ReadableStream.from(chunks)],
];

test('every sample as a stream equals parseBytes, in every kind of input and chunking', async () => {
  for (const file of [...samples(), null]) {
    const bytes = file ? fs.readFileSync(file) : Buffer.alloc(0);
    const expected = parseBytes(bytes);
    for (const [label, step, make] of INPUTS) {
      const report = await parseStream(make(pieces(bytes, step)));
      assert.deepEqual(report, expected, `${file} (${label})`);
      assert.deepEqual(Object.keys(report.file), Object.keys(expected.file));
    }
  }
  const bytes = fs.readFileSync(samples()[0]);
  const options = { hashes: false, extractors: ['file', 'exif'] };
  assert.deepEqual(await parseStream(Readable.from(pieces(bytes, 100)), options), parseBytes(bytes, options));
});

// `file`'s bytes in 64 KiB chunks; `during(at)` runs before each chunk. The chunks take turns in
// a ring of buffers, so the stream leaves no garbage that would blur the measure of what
// parseStream holds: Readables over this read at most one chunk ahead.
const ring = Array.from({ length: 8 }, () => Buffer.alloc(65536));
function* generated(file, during) {
  for (let at = 0, i = 0; at < file.size; at += 65536, i += 1) {
    during?.(at);
    yield file.fillAt(at, ring[i % ring.length].subarray(0, Math.min(65536, file.size - at)));
  }
}
const readable = (chunks) => Readable.from(chunks, { highWaterMark: 1 });

// The bytes held in ArrayBuffers once garbage is collected.
v8.setFlagsFromString('--expose-gc');
const gc = vm.runInNewContext('gc');
function heldBytes() {
  gc();
  return process.memoryUsage().arrayBuffers;
}

test('a stream beyond the memory bound spills to a private file, removed after the parse', async (t) => {
  // testsrc.mp4's moov after a 96 MiB mdat: the walk looks back past what memory holds.
  const file = mp4WithMoovLast(96 * MiB);
  const base = heldBytes();
  let peak = 0;
  const seen = new Set();
  const report = await parseStream(readable(generated(file, (at) => {
    if (at % (8 * MiB) === 0) peak = Math.max(peak, heldBytes() - base);
    if (at === 32 * MiB) {
      for (const name of spillFiles()) seen.add(`${name} ${(fs.statSync(path.join(tmp, name)).mode & 0o777).toString(8)}`);
    }
  })));
  assert.equal(seen.size, 1);
  assert.match([...seen][0], /^vorlix-stream-[0-9a-f]+ 600$/);
  assert.deepEqual(spillFiles(), []);
  assert.ok(peak < 20 * MiB, `${peak} bytes held`);

  const dir = fs.mkdtempSync(path.join(tmp, 'sparse-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  assert.deepEqual(report, withoutPathFacts(parse(file.writeSparse(dir))));
});

test('a failing stream rejects with its error, an abort leaves the stream to the caller, and the spill file goes after each', async () => {
  const file = virtualFile(40 * MiB, []);
  const failure = new Error('upload reset');
  const failing = readable(generated(file, (at) => {
    if (at === 24 * MiB) throw failure;
  }));
  await assert.rejects(parseStream(failing), (err) => err === failure);
  assert.deepEqual(spillFiles(), []);

  // An extractor that fails: a ZIP signature and no end record.
  const broken = virtualFile(20 * MiB, [[0, Buffer.from('PK\x03\x04', 'latin1')]]);
  const report = await parseStream(readable(generated(broken)), { hashes: false });
  assert.deepEqual(report.errors, [{ extractor: 'zip', message: 'malformed zip: no end-of-central-directory record' }]);
  assert.deepEqual(spillFiles(), []);

  const ac = new AbortController();
  const stream = readable(generated(file, (at) => {
    if (at === 24 * MiB) ac.abort();
  }));
  await assert.rejects(parseStream(stream, { signal: ac.signal }), { name: 'AbortError' });
  assert.equal(stream.destroyed, false);
  assert.deepEqual(spillFiles(), []);
  stream.destroy();

  // A stream that never ends, aborted while it waits.
  const stalled = new Readable({ read() {} });
  const timeout = new AbortController();
  setTimeout(() => timeout.abort(), 20);
  const waiting = parseStream(stalled, { signal: timeout.signal });
  await assert.rejects(waiting, { name: 'AbortError' });
  assert.equal(stalled.destroyed, false);
});

test('inputs that are not byte streams are TypeErrors', async () => {
  await assert.rejects(parseStream('bytes'), TypeError);
  await assert.rejects(parseStream(Buffer.from('x')), TypeError);
  await assert.rejects(parseStream(Readable.from(['text'], { objectMode: true })), /chunks must be Uint8Array, got string/);
  await assert.rejects(parseStream(Readable.from([]), { hashes: 'no' }), TypeError);
});

test('a stream of known length whose formats read front to back is parsed as it arrives, without a spill', async (t) => {
  const dir = fs.mkdtempSync(path.join(tmp, 'sparse-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const jpeg = virtualFile(40 * MiB, [[0, fs.readFileSync(samples().find((f) => f.endsWith('gps_example.jpg')))]]);
  // [label, file, options, whether it spills]
  const cases = [
    ['camera JPEG', jpeg, {}, false],
    ['camera JPEG, no hashes', jpeg, { hashes: false }, false],
    ['MP4, moov after a 48 MiB mdat', mp4WithMoovLast(48 * MiB), {}, false],
    // The EXIF reader's walk of the chunks is followed as the bytes pass: whatever it ends on.
    ['PNG', pngWithLargeIdat(40 * MiB), {}, false],
    ['PNG, eXIf before the image data', pngWithLargeIdat(40 * MiB, { exif: 'before' }), {}, false],
    ['PNG, eXIf after the image data', pngWithLargeIdat(40 * MiB, { exif: 'after' }), { hashes: false }, false],
    ['PNG cut in its image data', pngWithLargeIdat(40 * MiB, { size: 30 * MiB }), {}, false],
    ['PNG cut in its eXIf chunk', pngWithLargeIdat(40 * MiB, { exif: 'after', size: 40 * MiB + 180 }), {}, false],
    ['WebP', webpWithLargeImage(40 * MiB), {}, false],
    ['WebP, EXIF after the image data', webpWithLargeImage(40 * MiB, { exif: true }), {}, false],
    ['WebP whose RIFF size ends inside a chunk', webpWithLargeImage(40 * MiB, { exif: true, riffSize: 40 * MiB + 30 }), {}, false],
    ['WebP whose RIFF size is too small', webpWithLargeImage(40 * MiB, { riffSize: 3 }), {}, false],
    // Its EXIF block larger than memory may hold: spilled.
    ['PNG, 8 MiB eXIf', virtualFile(40 * MiB, [[0, pngWithLargeIdat(0).bytesAt(0, 151)], [151, Buffer.from('00800000655849660000', 'hex')]]), {}, true],
  ];
  for (const [label, file, options, spills] of cases) {
    const base = heldBytes();
    let peak = 0;
    let spilled = false;
    const report = await parseStream(readable(generated(file, (at) => {
      if (at % (4 * MiB) === 0) peak = Math.max(peak, heldBytes() - base);
      if (spillFiles().some((name) => name.startsWith('vorlix-stream-'))) spilled = true;
    })), { ...options, size: file.size });
    assert.equal(spilled, spills, label);
    assert.ok(peak < 20 * MiB, `${label}: ${peak} bytes held`);
    assert.deepEqual(report, withoutPathFacts(parse(file.writeSparse(dir), options)), label);
  }

  // Getters a host put on Object.prototype do not reach a report put together after the stream.
  const png = pngWithLargeIdat(40 * MiB);
  for (const key of ['errors', 'exif']) {
    Object.defineProperty(Object.prototype, key, { configurable: true, get: () => [{ extractor: 'host', message: key }] });
  }
  try {
    const report = await parseStream(readable(generated(png)), { size: png.size });
    assert.deepEqual(Object.keys(report), ['file', 'png']);
  } finally {
    delete Object.prototype.errors;
    delete Object.prototype.exif;
  }

  // An upload states its length in Content-Length.
  const json = (report) => JSON.parse(JSON.stringify(report, (k, v) => (typeof v === 'bigint' ? String(v) : v)));
  let uploadSpilled = false;
  const server = http.createServer(async (req, res) => {
    const report = await parseStream(req);
    res.end(JSON.stringify(json(report)));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  t.after(() => server.close());
  const answer = await new Promise((resolve, reject) => {
    const req = http.request({ port: server.address().port, host: '127.0.0.1', method: 'POST',
      headers: { 'content-length': jpeg.size } }, (res) => {
      let text = '';
      res.setEncoding('utf8').on('data', (c) => { text += c; }).on('end', () => resolve(JSON.parse(text)));
    });
    req.on('error', reject);
    Readable.from(generated(jpeg, () => {
      if (spillFiles().some((name) => name.startsWith('vorlix-stream-'))) uploadSpilled = true;
    })).pipe(req);
  });
  assert.equal(uploadSpilled, false);
  assert.deepEqual(answer, json(withoutPathFacts(parse(jpeg.writeSparse(dir)))));

  // A stated length the stream does not keep: rejected, whichever path the stream took.
  for (const size of [jpeg.size + 1, jpeg.size - 1, 1000]) {
    await assert.rejects(parseStream(readable(generated(jpeg)), { size }),
      new RegExp(`the stream gave \\d+ bytes, not the ${size} its size states`));
  }
  // A stream that fails, or is aborted, while the parse reads it.
  const failure = new Error('upload reset');
  const failing = readable(generated(jpeg, (at) => {
    if (at === 24 * MiB) throw failure;
  }));
  await assert.rejects(parseStream(failing, { size: jpeg.size }), (err) => err === failure);
  const ac = new AbortController();
  const stream = readable(generated(jpeg, (at) => {
    if (at === 24 * MiB) ac.abort();
  }));
  await assert.rejects(parseStream(stream, { size: jpeg.size, signal: ac.signal }), { name: 'AbortError' });
  assert.equal(stream.destroyed, false);
  stream.destroy();
  assert.deepEqual(spillFiles().filter((name) => name.startsWith('vorlix-stream-')), []);
  await assert.rejects(parseStream(readable([]), { size: -1 }), TypeError);
});
