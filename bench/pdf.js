#!/usr/bin/env node
'use strict';
// PDF throughput: parseBytes on PDF-like buffers (random stream data, as compressed streams are,
// with an object and a page every 4 KiB, an info dictionary and a trailer), side by side in one
// run with
//   - parseBytes on random bytes of the same size (the file pass alone: digests and entropy),
//   - one crypto SHA-256 pass over the same buffer, the floor for anything that hashes.
// Usage: node bench/pdf.js [MiB=64] [runs=5]
const crypto = require('node:crypto');
const { parseBytes } = require('..');
const { bestMs } = require('./timing');

const mib = Number(process.argv[2] || 64);
const runs = Number(process.argv[3] || 5);
const size = mib * 1048576;

function pdfLike(n) {
  const out = crypto.randomBytes(n);
  const head = Buffer.from('%PDF-1.7\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n' +
    '3 0 obj\n<< /Title (Bench) /Author (Nobody) /CreationDate (D:20240101120000Z) >>\nendobj\n', 'latin1');
  head.copy(out, 0);
  let id = 10;
  for (let off = 4096; off + 200 < n; off += 4096) {
    const obj = Buffer.from(`\nendstream\nendobj\n${id} 0 obj\n<< /Type /Page /Parent 2 0 R /Contents ${id + 1} 0 R >>\nendobj\n` +
      `${id + 1} 0 obj\n<< /Length 4000 /Filter /FlateDecode >>\nstream\n`, 'latin1');
    obj.copy(out, off);
    id += 2;
  }
  Buffer.from('\nendstream\nendobj\ntrailer\n<< /Root 1 0 R /Info 3 0 R >>\n%%EOF\n', 'latin1').copy(out, n - 60);
  return out;
}

const pdf = pdfLike(size);
const random = crypto.randomBytes(size);
const report = parseBytes(pdf);
if (!report.pdf || report.pdf.page_count < 1) throw new Error('the PDF-like buffer was not read as a PDF');

// Interleaved, so load on the machine affects every side alike.
const sides = {
  'parseBytes (PDF)': () => parseBytes(pdf),
  'parseBytes (random, file pass only)': () => parseBytes(random),
  'crypto SHA-256 (PDF)': () => crypto.createHash('sha256').update(pdf).digest(),
};
const t = {};
for (const name of Object.keys(sides)) t[name] = Infinity;
for (let r = 0; r < 3; r++) {
  for (const [name, fn] of Object.entries(sides)) t[name] = Math.min(t[name], bestMs(runs, fn));
}
const base = t['parseBytes (PDF)'];
console.log(`PDF-like buffer of ${mib} MiB (${report.pdf.page_count} pages, ${report.pdf.object_count} objects), best of ${3 * runs}`);
for (const [name, ms] of Object.entries(t)) {
  console.log(`${name.padEnd(38)} ${(size / 1048576 / (ms / 1000)).toFixed(0).padStart(6)} MiB/s   PDF parse / this ${(base / ms).toFixed(2)}`);
}
