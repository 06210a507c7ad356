'use strict';
// parseSource over JS random-access sources: the same reports as parseBytes, few and small
// reads, read failures as report errors, cancellation.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { parse, parseBytes, parseSource } = require('..');
const { samples, virtualFile, withoutPathFacts, largeFiles, mp4WithMoovLast, zipFile } = require('./helpers/sources');

const fixture = (...p) => path.join(__dirname, 'fixtures', ...p);

// An in-memory source that counts its reads.
function memorySource(bytes) {
  const source = {
    size: bytes.length,
    reads: 0,
    read(offset, length) {
      source.reads += 1;
      return bytes.subarray(offset, offset + length);
    },
  };
  return source;
}

test('every sample through parseSource equals parseBytes, in one read each', async () => {
  const files = samples();
  const sources = files.map((f) => memorySource(fs.readFileSync(f)));
  const reports = await Promise.all(sources.map((s) => parseSource(s)));
  files.forEach((f, i) => {
    assert.deepEqual(reports[i], parseBytes(fs.readFileSync(f)), f);
    // Every sample is smaller than one window.
    assert.equal(sources[i].reads, 1, f);
  });
});

const MiB = 1 << 20;
const LARGE = largeFiles();

test('large files take at most 4 reads and 256 KiB without hashes, and match parse', async (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlix-sources-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  for (const [label, namespace, file] of LARGE) {
    const source = file.source();
    const report = await parseSource(source, { hashes: false });
    assert.ok(report[namespace], `${label}: ${JSON.stringify(report)}`);
    assert.deepEqual(report, withoutPathFacts(parse(file.writeSparse(dir), { hashes: false })), label);
    assert.ok(source.reads <= 4, `${label}: ${source.reads} reads`);
    assert.ok(source.fetched <= 256 * 1024, `${label}: ${source.fetched} bytes fetched`);
  }
  // A ZIP directory larger than the read windows still comes in one read.
  const names = Array.from({ length: 5000 }, (_, i) => ({ name: `photos/2026/${String(i).padStart(6, '0')}-original.jpg`, size: 1000 }));
  const source = zipFile(names).source();
  const report = await parseSource(source, { hashes: false });
  assert.equal(report.zip.entries.length, 5000);
  assert.ok(source.reads <= 3, `${source.reads} reads`);
});

test('hashing reads everything once, in large reads, and blockSize sets the smallest read', async () => {
  const [[, , file]] = LARGE; // the camera JPEG
  const source = file.source();
  const report = await parseSource(source);
  // Everything once, and the windows the walks after the hashing need again.
  assert.ok(source.fetched >= 12 * MiB && source.fetched <= 12 * MiB + 128 * 1024, `${source.fetched}`);
  assert.ok(source.reads <= 24, `${source.reads} reads`);
  assert.match(report.file.sha256, /^[0-9a-f]{64}$/);

  const blocky = file.source({ blockSize: 1 << 20 });
  await parseSource(blocky, { hashes: false });
  assert.deepEqual(blocky.log, [[0, 1 << 20]]);
});

test('a read that fails or gives the wrong bytes is the reading extractor\'s I/O error', async () => {
  const bytes = fs.readFileSync(fixture('media', 'id3v2_v23.mp3'));
  // The file extractor reads first (hashing); the walks after it find the window cached, so a
  // failure of the first read after the header shows in the file namespace alone.
  const cases = [
    ['rejects', () => Promise.reject(new Error('connection reset')), /read\(0, \d+\) failed: connection reset/],
    ['throws', () => { throw new Error('no such key'); }, /failed: no such key/],
    ['short', (o, l) => bytes.subarray(o, o + l - 1), /read returned \d+ bytes where \d+ were asked/],
    ['long', (o, l) => Buffer.alloc(l + 1), /read returned \d+ bytes where \d+ were asked/],
    ['not bytes', () => 'abc', /did not give a Uint8Array/],
  ];
  for (const [label, failing, text] of cases) {
    const report = await parseSource({ size: bytes.length, read: failing });
    assert.equal(report.errors.length, 1, label);
    assert.equal(report.errors[0].extractor, 'file', label);
    assert.match(report.errors[0].message, /^I\/O error: /, label);
    assert.match(report.errors[0].message, text, label);
  }
  // A failure past the header: the extractor reading there fails, the others still report.
  const big = mp4WithMoovLast(64 * MiB).source();
  const read = big.read;
  big.read = (o, l) => (o > 0 ? Promise.reject(new Error('gone')) : read(o, l));
  const report = await parseSource(big, { hashes: false });
  assert.deepEqual(report.errors.map((e) => e.extractor), ['mp4']);
  assert.equal(report.file.mime_detected, 'video/mp4');
});

test('sizes as BigInt, and bad sources are TypeErrors', async () => {
  const bytes = fs.readFileSync(fixture('images', 'gif_still.gif'));
  const source = memorySource(bytes);
  assert.deepEqual(await parseSource({ ...source, size: BigInt(bytes.length) }), parseBytes(bytes));
  for (const bad of [null, {}, { size: -1, read() {} }, { size: 1.5, read() {} }, { size: 1 },
    { size: 1, read() {}, blockSize: 0 }]) {
    await assert.rejects(parseSource(bad), TypeError);
  }
  await assert.rejects(parseSource(source, { hashes: 1 }), TypeError);
});

test('an abort ends a parse waiting on a read, and later reads are never asked for', async () => {
  let reads = 0;
  const source = { size: 1 << 20, read() { reads += 1; return new Promise(() => {}); } };
  const ac = new AbortController();
  const parsing = parseSource(source, { signal: ac.signal });
  await new Promise((r) => setTimeout(r, 20));
  ac.abort();
  await assert.rejects(parsing, { name: 'AbortError' });
  assert.equal(reads, 1);
  const aborted = AbortSignal.abort();
  await assert.rejects(parseSource(source, { signal: aborted }), { name: 'AbortError' });
  assert.equal(reads, 1);
});

test('httpSource: reports over Range requests equal parseBytes, in few requests', async (t) => {
  const { httpSource } = require('..');
  const { rangeServer } = require('./helpers/http');
  const jpeg = fs.readFileSync(fixture('exif', 'sample.jpg'));
  const small = await rangeServer(virtualFile(jpeg.length, [[0, jpeg]]));
  t.after(small.close);
  const source = await httpSource(small.url, { headers: { authorization: 'Bearer x' } });
  assert.equal(source.size, jpeg.length);
  assert.deepEqual(await parseSource(source), parseBytes(jpeg));
  // The first ranged GET gave the size and the bytes the parse asked for.
  assert.equal(small.stats.requests, 1);

  const [, , mp4] = LARGE.find(([label]) => label.startsWith('MP4'));
  const large = await rangeServer(mp4);
  t.after(large.close);
  const report = await parseSource(await httpSource(new URL(large.url)), { hashes: false });
  assert.equal(report.mp4.top_level_boxes.at(-1).type, 'moov');
  assert.ok(large.stats.requests <= 4 && large.stats.sent <= 256 * 1024, JSON.stringify(large.stats));
});

test('httpSource fails clearly where the server ignores Range, without downloading', async (t) => {
  const { httpSource } = require('..');
  const { rangeServer } = require('./helpers/http');
  const server = await rangeServer(virtualFile(256 * MiB, []), { ranges: false });
  t.after(server.close);
  // The message names the object but not the query, which may hold a signature.
  await assert.rejects(httpSource(`${server.url}?X-Amz-Signature=secret`), (err) => (
    /ignored the Range header/.test(err.message) && err.message.includes(server.url)
    && !err.message.includes('secret')));
  assert.ok(server.stats.sent < 16 * MiB, `${server.stats.sent} bytes sent`);

  // A server that answers with the rest of the object instead of the range asked for.
  const file = virtualFile(256 * MiB, []);
  const greedy = await rangeServer(file, {
    behaviour(req, res, range) {
      res.writeHead(206, { 'content-range': `bytes ${range[0]}-${file.size - 1}/${file.size}` });
      res.write(file.bytesAt(0, 65536));
      return true;
    },
  });
  t.after(greedy.close);
  await assert.rejects(httpSource(greedy.url), /answered bytes 0-131071 with Content-Range "bytes 0-268435455/);
});

test('httpSource: a read failing midway is an I/O error; a slow read is aborted', async (t) => {
  const { httpSource } = require('..');
  const { rangeServer } = require('./helpers/http');
  const file = mp4WithMoovLast(64 * MiB);
  // Past the first request, each response stops halfway through its body.
  const broken = await rangeServer(file, {
    behaviour(req, res, range) {
      if (!range || range[0] === 0) return false;
      const length = range[1] - range[0] + 1;
      res.writeHead(206, { 'content-length': length, 'content-range': `bytes ${range[0]}-${range[1]}/${file.size}` });
      res.write(file.bytesAt(range[0], length >> 1), () => res.destroy());
      return true;
    },
  });
  t.after(broken.close);
  const report = await parseSource(await httpSource(broken.url), { hashes: false });
  assert.deepEqual(report.errors.map((e) => e.extractor), ['mp4']);
  assert.match(report.errors[0].message, /^I\/O error: read\(\d+, \d+\) failed: /);

  // Past the first request, responses never come.
  const stalled = [];
  const slow = await rangeServer(file, {
    behaviour(req, res, range) {
      if (!range || range[0] === 0) return false;
      stalled.push(res);
      return true;
    },
  });
  t.after(slow.close);
  const ac = new AbortController();
  const parsing = parseSource(await httpSource(slow.url, { signal: ac.signal }), { signal: ac.signal, hashes: false });
  while (stalled.length === 0) await new Promise((r) => setTimeout(r, 5));
  ac.abort();
  await assert.rejects(parsing, { name: 'AbortError' });
  // The request in flight is dropped too.
  await new Promise((resolve) => (stalled[0].destroyed ? resolve() : stalled[0].once('close', resolve)));
});

test('sources waiting on reads leave the libuv pool to others; past 64, parses wait in line', async () => {
  // Reads that never settle: the parses all wait at once. readFile needs the pool, which
  // parses holding its threads would starve (4 threads by default).
  const pending = [];
  const controllers = Array.from({ length: 66 }, () => new AbortController());
  const parses = controllers.map((ac) => parseSource(
    { size: 1 << 20, read: () => new Promise((r) => pending.push(r)) },
    { signal: ac.signal },
  ).catch((e) => e.name));
  const reads = async (n) => {
    while (pending.length < n) await new Promise((r) => setImmediate(r));
  };
  await reads(64);
  const read = await Promise.all(Array.from({ length: 8 }, () => fs.promises.readFile(__filename)));
  assert.equal(read.length, 8);
  assert.equal(pending.length, 64);
  // One parse ends: the first in line starts and asks for its first read.
  controllers[0].abort();
  await reads(65);
  for (const ac of controllers) ac.abort();
  assert.deepEqual(new Set(await Promise.all(parses)), new Set(['AbortError']));
  assert.equal(pending.length, 65);
});

test('a worker that ends while its parses wait on reads leaves no thread behind', async () => {
  const { Worker } = require('node:worker_threads');
  const threads = () => fs.readdirSync('/proc/self/task').length;
  const before = threads();
  const worker = new Worker(`
    const { parentPort } = require('node:worker_threads');
    const { parseSource } = require(${JSON.stringify(path.join(__dirname, '..'))});
    let asked = 0;
    for (let i = 0; i < 8; i++) {
      parseSource({ size: 1 << 20, read: () => {
        if (++asked === 8) parentPort.postMessage('waiting');
        return new Promise(() => {});
      } });
    }`, { eval: true });
  await new Promise((resolve) => worker.once('message', resolve));
  assert.ok(threads() >= before + 8);
  await worker.terminate();
  // The parse threads wake when the worker's environment ends, and its pool lets them go.
  for (let i = 0; i < 500 && threads() > before; i++) await new Promise((r) => setTimeout(r, 10));
  assert.equal(threads(), before);
});
