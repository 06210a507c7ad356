#!/usr/bin/env node
'use strict';
// The asynchronous calls end to end, each figure next to its synchronous counterpart:
//   1. the longest event-loop stall of a 5 ms interval while a large file is parsed,
//   2. throughput of a mixed corpus: parse one after another vs Promise.all(parseAsync),
//   3. how soon a parse aborted after 30 ms settles, and what hashes: false costs.
// Usage: node bench/async.js [large-file GiB, default 2] [runs, default 3]
// The large file is sparse (zeros, no disk); the corpus is random data plus the test samples,
// written to the OS temp directory.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const crypto = require('node:crypto');
const { parse, parseAsync } = require('..');

const gib = Number(process.argv[2] || 2);
const runs = Number(process.argv[3] || 3);
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlix-bench-async-'));
process.on('exit', () => fs.rmSync(dir, { recursive: true, force: true }));

const large = path.join(dir, 'large.bin');
fs.closeSync(fs.openSync(large, 'w'));
fs.truncateSync(large, gib * 1024 ** 3);

// Mixed sizes: many small files, some of a few MiB, and every sample file of the tests.
function corpus() {
  const files = [];
  const sizes = [];
  for (let i = 0; i < 48; i++) sizes.push(4096 << (i % 6)); // 4 KiB .. 128 KiB
  for (let i = 0; i < 40; i++) sizes.push((1 + (i % 4)) * 1024 * 1024); // 1 .. 4 MiB
  sizes.forEach((n, i) => {
    const p = path.join(dir, `c${i}.bin`);
    fs.writeFileSync(p, crypto.randomBytes(n));
    files.push(p);
  });
  const walk = (d) => {
    for (const e of fs.readdirSync(d, { withFileTypes: true })) {
      const p = path.join(d, e.name);
      if (e.isDirectory()) walk(p);
      else files.push(p);
    }
  };
  walk(path.join(__dirname, '..', 'test', 'fixtures'));
  files.push(path.join(__dirname, '..', 'examples', 'sample.jpg'));
  return files;
}

function seconds(t0) {
  return Number(process.hrtime.bigint() - t0) / 1e9;
}

// Runs `work` (which may return a promise) while a 5 ms interval notes its longest lateness.
async function withStallMeter(work) {
  let last = process.hrtime.bigint();
  let worst = 0;
  const timer = setInterval(() => {
    const now = process.hrtime.bigint();
    worst = Math.max(worst, Number(now - last) / 1e6 - 5);
    last = now;
  }, 5);
  // Let the interval start ticking before the work begins.
  await new Promise((r) => setTimeout(r, 20));
  last = process.hrtime.bigint();
  const t0 = process.hrtime.bigint();
  await work();
  const elapsed = seconds(t0);
  await new Promise((r) => setTimeout(r, 10));
  clearInterval(timer);
  return { worst, elapsed };
}

async function best(fn) {
  let min = Infinity;
  for (let i = 0; i < runs; i++) min = Math.min(min, await fn());
  return min;
}

async function main() {
  const files = corpus();
  const bytes = files.reduce((n, f) => n + fs.statSync(f).size, 0);
  // Warm the page cache: a first read of the sparse file fills it with zero pages, which would
  // be charged to whichever side ran first.
  const fd = fs.openSync(large, 'r');
  const chunk = Buffer.alloc(8 * 1024 * 1024);
  while (fs.readSync(fd, chunk) > 0);
  fs.closeSync(fd);
  for (const f of files) parse(f);

  const pool = process.env.UV_THREADPOOL_SIZE || '4 (default)';
  console.log(`cores: ${os.availableParallelism()}, UV_THREADPOOL_SIZE: ${pool}, best of ${runs}`);

  const sync = await withStallMeter(() => parse(large));
  const async = await withStallMeter(() => parseAsync(large));
  console.log(`\n1. ${gib} GiB file, longest stall of a 5 ms interval`);
  console.log(`   parse:      ${sync.worst.toFixed(1)} ms stall (${sync.elapsed.toFixed(2)} s)`);
  console.log(`   parseAsync: ${async.worst.toFixed(1)} ms stall (${async.elapsed.toFixed(2)} s)`);
  console.log(`   ratio sync/async stall: ${(sync.worst / Math.max(async.worst, 0.1)).toFixed(0)}x`);

  // Alternating rounds, best of each side: a neighbour busy for a while slows both alike.
  let tSync = Infinity;
  let tAll = Infinity;
  for (let i = 0; i < runs * 3; i++) {
    let t0 = process.hrtime.bigint();
    for (const f of files) parse(f);
    tSync = Math.min(tSync, seconds(t0));
    t0 = process.hrtime.bigint();
    await Promise.all(files.map((f) => parseAsync(f)));
    tAll = Math.min(tAll, seconds(t0));
  }
  const mb = bytes / 1e6;
  console.log(`\n2. corpus of ${files.length} files, ${mb.toFixed(1)} MB`);
  console.log(`   parse, one after another:  ${tSync.toFixed(3)} s  (${(mb / tSync).toFixed(0)} MB/s)`);
  console.log(`   Promise.all(parseAsync):   ${tAll.toFixed(3)} s  (${(mb / tAll).toFixed(0)} MB/s)`);
  console.log(`   ratio async/sync throughput: ${(tSync / tAll).toFixed(2)}x`);

  const tAbort = await best(async () => {
    const c = new AbortController();
    const p = parseAsync(large, { signal: c.signal }).catch((e) => e);
    await new Promise((r) => setTimeout(r, 30));
    const t0 = process.hrtime.bigint();
    c.abort();
    const e = await p;
    if (e.name !== 'AbortError') throw new Error('the parse was not aborted');
    return seconds(t0);
  });
  const tNoHash = await best(async () => {
    const t0 = process.hrtime.bigint();
    await parseAsync(large, { hashes: false });
    return seconds(t0);
  });
  console.log(`\n3. ${gib} GiB file`);
  console.log(`   aborted after 30 ms, settled after a further: ${(tAbort * 1000).toFixed(1)} ms`);
  console.log(`   full parse: ${async.elapsed.toFixed(3)} s   hashes: false: ${(tNoHash * 1000).toFixed(2)} ms` +
    `   ratio: ${(async.elapsed / tNoHash).toFixed(0)}x`);
}

main().catch((e) => {
  console.error(e);
  process.exitCode = 1;
});
