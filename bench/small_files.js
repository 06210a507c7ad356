#!/usr/bin/env node
'use strict';
// Per-call cost of parseBytes on small real files (the bundled sample photo and every test
// fixture), side by side with a crypto SHA-256 of the same bytes, which any metadata tool pays
// at least. Usage: node bench/small_files.js [milliseconds per file, default 300]
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

// Mean CPU time per call in microseconds (user + system of this process, so other work on a
// busy machine does not count): warm up, then repeat until the budget is spent.
function perCall(fn) {
  for (let i = 0; i < 200; i++) fn();
  const cpu = () => {
    const u = process.cpuUsage();
    return u.user + u.system;
  };
  let calls = 0;
  const c0 = cpu();
  const end = process.hrtime.bigint() + BigInt(budgetMs) * 1000000n;
  while (process.hrtime.bigint() < end) {
    for (let i = 0; i < 100; i++) fn();
    calls += 100;
  }
  return (cpu() - c0) / calls;
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
console.log(`CPU time per call, ${budgetMs} ms per side and file`);
console.log(`${'file'.padEnd(w)}  ${'bytes'.padStart(8)}  parseBytes µs  sha256 µs  ratio`);
for (const r of rows) {
  console.log(
    `${r.name.padEnd(w)}  ${String(r.size).padStart(8)}  ${r.tParse.toFixed(2).padStart(13)}  ` +
      `${r.tSha.toFixed(2).padStart(9)}  ${(r.tParse / r.tSha).toFixed(2).padStart(5)}`,
  );
}
const geo = (xs) => Math.exp(xs.reduce((a, x) => a + Math.log(x), 0) / xs.length);
console.log(`geometric mean ratio parseBytes/sha256: ${geo(rows.map((r) => r.tParse / r.tSha)).toFixed(2)}`);
