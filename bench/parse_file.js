#!/usr/bin/env node
'use strict';
// End-to-end throughput of parse(path) against one `openssl dgst -sha256` pass and one SHA-256
// pass with Node's crypto over the same file, measured side by side in one run.
// Usage: node bench/parse_file.js [size-in-MiB, default 1024] [runs, default 3]
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

{
  // Bring the file into the page cache so both sides read from memory.
  execFileSync('cat', [file], { stdio: ['ignore', 'ignore', 'inherit'] });
}
// What a Node program does without us: read the file in 1 MiB pieces into crypto's SHA-256.
function cryptoSha256(p) {
  const fd = fs.openSync(p, 'r');
  const buf = Buffer.allocUnsafe(1024 * 1024);
  const h = crypto.createHash('sha256');
  try {
    for (let n; (n = fs.readSync(fd, buf, 0, buf.length, null)) > 0; ) h.update(buf.subarray(0, n));
  } finally {
    fs.closeSync(fd);
  }
  return h.digest('hex');
}
const sides = {
  parse: () => parse(file),
  openssl: () => execFileSync('openssl', ['dgst', '-sha256', file], { stdio: 'ignore' }),
  crypto: () => cryptoSha256(file),
};
// CPU seconds of this process (all its threads) and of its waited-for children, so a side that
// uses a second thread or another process is charged for it.
function cpuSeconds() {
  const { user, system } = process.cpuUsage();
  const stat = fs.readFileSync('/proc/self/stat', 'utf8');
  const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
  const ticks = Number(fields[13]) + Number(fields[14]); // cutime + cstime
  return (user + system) / 1e6 + ticks / 100;
}
// Best of `runs` in wall time and in CPU time, the sides interleaved round by round so load on
// the machine hits all alike.
const wall = { parse: Infinity, openssl: Infinity, crypto: Infinity };
const cpu = { parse: Infinity, openssl: Infinity, crypto: Infinity };
for (let i = 0; i < runs; i++) {
  for (const [name, fn] of Object.entries(sides)) {
    const c0 = cpuSeconds();
    const t0 = process.hrtime.bigint();
    fn();
    wall[name] = Math.min(wall[name], Number(process.hrtime.bigint() - t0) / 1e9);
    cpu[name] = Math.min(cpu[name], cpuSeconds() - c0);
  }
}
const gbps = (t) => ((mib / 1024) / t).toFixed(2);
console.log(`file: ${mib} MiB, best of ${runs}; CPU time counts every thread and child process`);
console.log('side                  wall s   GiB/s   CPU s');
for (const [name, label] of [['parse', 'parse(path)'], ['openssl', 'openssl dgst -sha256'], ['crypto', 'crypto sha256']]) {
  console.log(`${label.padEnd(21)} ${wall[name].toFixed(3).padStart(6)}  ${gbps(wall[name]).padStart(6)}  ${cpu[name].toFixed(2).padStart(6)}`);
}
console.log(`ratio parse/openssl:  wall ${(wall.parse / wall.openssl).toFixed(2)}, CPU ${(cpu.parse / cpu.openssl).toFixed(2)}`);
console.log(`ratio parse/crypto:   wall ${(wall.parse / wall.crypto).toFixed(2)}, CPU ${(cpu.parse / cpu.crypto).toFixed(2)}`);
