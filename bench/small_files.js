#!/usr/bin/env node
'use strict';
// Per-call cost of parseBytes on small real files (the bundled sample photo and every test
// fixture), side by side with a crypto SHA-256 of the same bytes, which any metadata tool pays
// at least. Then, when the peers are installed (`cd bench && npm install`), one pass over every
// small file of the repository (the core's fixtures too, a few hundred) against the JS libraries
// a Node program would combine for the same facts.
// Usage: node bench/small_files.js [milliseconds per file, default 300]
const fs = require('node:fs');
const path = require('node:path');
const crypto = require('node:crypto');
const { parseBytes } = require('..');

const budgetMs = Number(process.argv[2] || 300);
const root = path.join(__dirname, '..');

function filesUnder(dir) {
  return fs.readdirSync(dir, { withFileTypes: true }).flatMap((e) => {
    const p = path.join(dir, e.name);
    return e.isDirectory() ? filesUnder(p) : [p];
  });
}

// Time per call in microseconds, the best of five rounds (each a fifth of the budget, after a
// warm-up): CPU time of this process (user + system, so other work on a busy machine does not
// count, though the engine's own helper threads do) and wall time.
function perCall(fn) {
  for (let i = 0; i < 200; i++) fn();
  const cpu = () => {
    const u = process.cpuUsage();
    return u.user + u.system;
  };
  const best = { cpu: Infinity, wall: Infinity };
  for (let round = 0; round < 5; round++) {
    let calls = 0;
    const c0 = cpu();
    const t0 = process.hrtime.bigint();
    const end = t0 + BigInt(Math.ceil(budgetMs / 5)) * 1000000n;
    let now = t0;
    while (now < end) {
      for (let i = 0; i < 100; i++) fn();
      calls += 100;
      now = process.hrtime.bigint();
    }
    best.cpu = Math.min(best.cpu, (cpu() - c0) / calls);
    best.wall = Math.min(best.wall, Number(now - t0) / 1000 / calls);
  }
  return best;
}

const files = [path.join(root, 'examples', 'sample.jpg'), ...filesUnder(path.join(root, 'test', 'fixtures'))];
const rows = [];
for (const file of files) {
  const bytes = fs.readFileSync(file);
  const tParse = perCall(() => parseBytes(bytes));
  const tSha = perCall(() => crypto.createHash('sha256').update(bytes).digest());
  rows.push({ name: path.relative(root, file), size: bytes.length, tParse, tSha });
}
const w = Math.max(...rows.map((r) => r.name.length));
console.log(`time per call, best of 5 rounds, ${budgetMs} ms per side and file (CPU; wall in brackets)`);
console.log(`${'file'.padEnd(w)}  ${'bytes'.padStart(8)}  ${'parseBytes µs'.padStart(19)}  ${'sha256 µs'.padStart(17)}  ratio`);
const cell = (t) => `${t.cpu.toFixed(2)} (${t.wall.toFixed(2)})`;
for (const r of rows) {
  console.log(
    `${r.name.padEnd(w)}  ${String(r.size).padStart(8)}  ${cell(r.tParse).padStart(19)}  ` +
      `${cell(r.tSha).padStart(17)}  ${(r.tParse.cpu / r.tSha.cpu).toFixed(2).padStart(5)}`,
  );
}
const geo = (xs) => Math.exp(xs.reduce((a, x) => a + Math.log(x), 0) / xs.length);
console.log(`geometric mean ratio parseBytes/sha256 (CPU): ${geo(rows.map((r) => r.tParse.cpu / r.tSha.cpu)).toFixed(2)}`);

// Every file under 64 KiB in the repository's fixtures, read once.
const corpus = [path.join(root, 'examples', 'sample.jpg'), ...filesUnder(path.join(root, 'test', 'fixtures')),
  ...filesUnder(path.join(root, 'core', 'tests', 'fixtures'))]
  .filter((f) => fs.statSync(f).size < 65536)
  .map((f) => ({ ext: path.extname(f).slice(1).toLowerCase(), bytes: fs.readFileSync(f) }));

function histogram(buf) {
  const counts = new Uint32Array(256);
  for (let i = 0; i < buf.length; i++) counts[buf[i]]++;
  return counts;
}

async function peers() {
  let fileType, exifr, mm;
  try {
    ({ fileTypeFromBuffer: fileType } = await import('file-type'));
    exifr = (await import('exifr')).default;
    mm = await import('music-metadata');
  } catch {
    console.log('\n(peers not installed: cd bench && npm install)');
    return;
  }
  const zlib = require('node:zlib');
  const sides = {
    'vorlix parseBytes': async () => {
      for (const { bytes } of corpus) parseBytes(bytes);
    },
    'sha256 only': async () => {
      for (const { bytes } of corpus) crypto.createHash('sha256').update(bytes).digest();
    },
    'peers + sha256 + crc32 + histogram': async () => {
      // exifr reports odd files on the console; that output is not part of the work.
      const { log, warn } = console;
      console.log = console.warn = () => {};
      try {
        await peerPass();
      } finally {
        Object.assign(console, { log, warn });
      }
    },
  };
  async function peerPass() {
    for (const { ext, bytes } of corpus) {
      const type = await fileType(bytes);
      if (['jpg', 'jpeg', 'tif', 'tiff', 'heic', 'png', 'webp'].includes(ext)) {
        await exifr.parse(bytes, true).catch(() => {});
      }
      if (type && /^(audio|video)\//.test(type.mime)) {
        await mm.parseBuffer(bytes, type.mime, { duration: false, skipCovers: true }).catch(() => {});
      }
      crypto.createHash('sha256').update(bytes).digest();
      zlib.crc32(bytes);
      histogram(bytes);
    }
  }
  const cpu = () => {
    const u = process.cpuUsage();
    return u.user + u.system;
  };
  const best = {};
  for (let round = 0; round < 5; round++) {
    for (const [name, fn] of Object.entries(sides)) {
      const c0 = cpu();
      for (let i = 0; i < 20; i++) await fn();
      best[name] = Math.min(best[name] ?? Infinity, (cpu() - c0) / 20 / corpus.length);
    }
  }
  console.log(`\n${corpus.length} small files (under 64 KiB), CPU time per file, best of 5 rounds`);
  const base = best['vorlix parseBytes'];
  for (const [name, t] of Object.entries(best)) {
    console.log(`${name.padEnd(36)} ${t.toFixed(2).padStart(8)} µs   this/vorlix ${(t / base).toFixed(2)}`);
  }
}
peers();
