#!/usr/bin/env node
'use strict';
// Remote and slow sources end to end:
//   1. per format, the HTTP requests and body bytes a parse costs through httpSource against a
//      local Range server (hashes off, then on for one file);
//   2. with 64 sources in flight whose reads each take 50 ms, how long fs.promises.readFile of a
//      small file and the event loop wait.
// Usage: node bench/sources.js [seconds of the latency run, default 3] [fetch|latency: one part only]
// The large files are virtual: their bytes are put together on request, nothing is stored.
const fs = require('node:fs');
const path = require('node:path');
const { monitorEventLoopDelay, performance } = require('node:perf_hooks');
const { parseSource, httpSource } = require('..');
const { largeFiles, virtualFile, zipFile } = require('../test/helpers/sources');
const { rangeServer } = require('../test/helpers/http');

const seconds = Number(process.argv[2] || 3);
const part = process.argv[3];
const MiB = 1 << 20;
const fixture = (...p) => path.join(__dirname, '..', 'test', 'fixtures', ...p);

// A PNG as libpng writes it by default: the image data in IDAT chunks of 8 KiB each.
function pngWithSmallIdats(total) {
  const b = fs.readFileSync(fixture('images', 'png_text_phys.png'));
  const parts = [[0, b.subarray(0, 151)]];
  let at = 151;
  while (at < total) {
    const head = Buffer.alloc(8);
    head.writeUInt32BE(8192, 0);
    head.write('IDAT', 4, 'latin1');
    parts.push([at, head]);
    at += 8 + 8192 + 4;
  }
  parts.push([at, b.subarray(187)]);
  return virtualFile(at + b.length - 187, parts);
}

// A PDF whose objects sit between 8 MiB of stream data: the scan reads it all.
function paddedPdf() {
  const b = fs.readFileSync(fixture('documents', 'gs-tiny.pdf'));
  return virtualFile(8 * MiB + b.length, [[0, b.subarray(0, 1024)], [8 * MiB + 1024, b.subarray(1024)]]);
}

// A ZIP of 5000 small entries: the central directory alone is about 300 KiB.
const manyEntryZip = () => zipFile(Array.from({ length: 5000 }, (_, i) => ({
  name: `dir/file-${String(i).padStart(5, '0')}.txt`,
  data: Buffer.from(`entry ${i}\n`),
})));

async function fetchCosts() {
  const rows = [
    ...largeFiles().map(([label, , file]) => [label, file, false]),
    ['camera JPEG, hashes on', largeFiles()[0][2], true],
    ['ZIP of 1 GiB, one entry', zipFile([{ name: 'big.bin', size: 1024 * MiB }]), false],
    ['PNG, 8 KiB IDAT chunks (limit)', pngWithSmallIdats(8 * MiB), false],
    ['ZIP of 5000 entries (limit)', manyEntryZip(), false],
    ['PDF of 8 MiB (scans everything)', paddedPdf(), false],
  ];
  console.log('format                                   size   requests  KiB fetched      ms');
  for (const [label, file, hashes] of rows) {
    const server = await rangeServer(file);
    const started = process.hrtime.bigint();
    await parseSource(await httpSource(server.url), { hashes });
    const ms = Number(process.hrtime.bigint() - started) / 1e6;
    await server.close();
    const size = file.size >= 1024 * MiB ? `${(file.size / 1024 / MiB).toFixed(1)} GiB` : `${(file.size / MiB).toFixed(1)} MiB`;
    console.log(`${label.padEnd(36)} ${size.padStart(9)} ${String(server.stats.requests).padStart(10)} ${(server.stats.sent / 1024).toFixed(0).padStart(12)} ${ms.toFixed(1).padStart(7)}`);
  }
}

// 64 parses at a time, each read answered after 50 ms, restarted as each one ends.
async function latency() {
  const files = largeFiles().map(([, , file]) => file);
  const slow = (file) => ({
    size: file.size,
    read: (offset, length) => new Promise((resolve) => {
      setTimeout(() => resolve(file.bytesAt(offset, length)), 50);
    }),
  });
  let running = true;
  let parses = 0;
  const lane = async (i) => {
    while (running) {
      await parseSource(slow(files[(i + parses) % files.length]), { hashes: false });
      parses += 1;
    }
  };
  const lanes = Array.from({ length: 64 }, (_, i) => lane(i));
  await new Promise((r) => setTimeout(r, 200));
  const loop = monitorEventLoopDelay({ resolution: 5 });
  loop.enable();
  const waits = [];
  const elu = performance.eventLoopUtilization();
  const cpu = process.cpuUsage();
  const until = Date.now() + seconds * 1000;
  while (Date.now() < until) {
    const started = process.hrtime.bigint();
    await fs.promises.readFile(__filename);
    waits.push(Number(process.hrtime.bigint() - started) / 1e6);
    await new Promise((r) => setTimeout(r, 20));
  }
  loop.disable();
  const busy = performance.eventLoopUtilization(elu).utilization;
  const used = process.cpuUsage(cpu);
  running = false;
  await Promise.all(lanes);
  waits.sort((a, b) => a - b);
  const at = (q) => waits[Math.min(waits.length - 1, Math.floor(q * waits.length))].toFixed(2);
  console.log(`\n64 sources in flight, 50 ms per read: ${parses} parses in ${seconds} s`);
  console.log(`readFile of a small file: median ${at(0.5)} ms, p99 ${at(0.99)} ms, max ${at(1)} ms (${waits.length} reads)`);
  console.log(`event loop busy ${(busy * 100).toFixed(0)}% of the time; process CPU ${((used.user + used.system) / 1e4 / seconds).toFixed(0)}% of one core`);
  console.log(`event-loop delay: p99 ${(loop.percentile(99) / 1e6).toFixed(1)} ms, max ${(loop.max / 1e6).toFixed(1)} ms`);
}

(async () => {
  if (part !== 'latency') await fetchCosts();
  if (part !== 'fetch') await latency();
})().catch((err) => {
  console.error(err);
  process.exitCode = 1;
});
