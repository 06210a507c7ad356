#!/usr/bin/env node
'use strict';
// End-to-end throughput of parse(path) against one `openssl dgst -sha256` pass over the same
// file. Usage: node bench/parse_file.js [size-in-MiB, default 1024] [runs, default 3]
// The file is random data (nothing but "file" claims it) written to the OS temp directory.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const crypto = require('node:crypto');
const { execFileSync } = require('node:child_process');
const { parse } = require('..');

const mib = Number(process.argv[2] || 1024);
const runs = Number(process.argv[3] || 3);
const file = path.join(os.tmpdir(), `vorlix-bench-${mib}.bin`);

if (!fs.existsSync(file) || fs.statSync(file).size !== mib * 1024 * 1024) {
  const fd = fs.openSync(file, 'w');
  const chunk = crypto.randomBytes(1024 * 1024);
  for (let i = 0; i < mib; i++) fs.writeSync(fd, chunk);
  fs.closeSync(fd);
}

function best(fn) {
  let min = Infinity;
  for (let i = 0; i < runs; i++) {
    const t0 = process.hrtime.bigint();
    fn();
    min = Math.min(min, Number(process.hrtime.bigint() - t0) / 1e9);
  }
  return min;
}

{
  // Bring the file into the page cache so both sides read from memory.
  execFileSync('cat', [file], { stdio: ['ignore', 'ignore', 'inherit'] });
}
const tParse = best(() => parse(file));
const tOpenssl = best(() => execFileSync('openssl', ['dgst', '-sha256', file], { stdio: 'ignore' }));
const gbps = (t) => ((mib / 1024) / t).toFixed(2);
console.log(`file: ${mib} MiB, best of ${runs}`);
console.log(`parse(path):          ${tParse.toFixed(3)} s  (${gbps(tParse)} GiB/s)`);
console.log(`openssl dgst -sha256: ${tOpenssl.toFixed(3)} s  (${gbps(tOpenssl)} GiB/s)`);
console.log(`ratio parse/openssl:  ${(tParse / tOpenssl).toFixed(2)}`);
