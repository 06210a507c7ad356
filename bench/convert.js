'use strict';
// Cost of turning a large report into JS: parseBytes on an in-memory ZIP whose central directory
// lists N entries (default 262,144, the most a report lists), side by side in one run with
//   - parseBytes on a ZIP of the same byte size listing one entry (the core's hashing and walk),
//   - JSON.parse of the same report as JSON text (V8 building the same objects from text),
//   - one SHA-256 pass over the buffer.
// The addon's internal timing hook also splits one parseBytes into the core's part and the
// conversion's, for this ZIP (modified times cycle through 60 values, as entries added together
// share times) and for one where every entry's time is its own (no text repeats).
// Usage: node bench/convert.js [entries=262144] [runs=5]
const crypto = require('node:crypto');
const { parseBytes } = require('..');
const { bestMs } = require('./timing');
const addon = require('../lib/loader.js').loadAddon();
if (!addon.__timeConversion) {
  console.error('bench/convert.js needs the test hooks: build with scripts/build.sh (VORLIX_TEST_HOOKS=ON)');
  process.exit(1);
}

const entries = Number(process.argv[2] ?? 262144);
const runs = Number(process.argv[3] ?? 5);

// A stored, empty local file record, N central-directory records, then the end record.
function zip(count, pad = 0, distinctTimes = false) {
  const names = [];
  for (let i = 0; i < count; i++) names.push(`dir${i % 97}/file${String(i).padStart(7, '0')}.txt`);
  const local = Buffer.alloc(30 + pad);
  local.writeUInt32LE(0x04034b50, 0);
  const dirSize = names.reduce((n, s) => n + 46 + s.length, 0);
  const dir = Buffer.alloc(dirSize);
  let pos = 0;
  for (const [i, name] of names.entries()) {
    dir.writeUInt32LE(0x02014b50, pos);
    dir.writeUInt16LE(i % 2 ? 8 : 0, pos + 10); // method
    // DOS time and date: two-second steps through a day, then the next day
    const t = distinctTimes ? i % 43200 : i % 60;
    dir.writeUInt16LE((12 + Math.floor(t / 1800)) % 24 << 11 | Math.floor(t / 30) % 60 << 5 | t % 30, pos + 12);
    dir.writeUInt16LE(0x5821 + (distinctTimes ? Math.floor(i / 43200) : 0), pos + 14);
    dir.writeUInt32LE(100 + i, pos + 20); // compressed
    dir.writeUInt32LE(300 + i, pos + 24); // uncompressed
    dir.writeUInt16LE(name.length, pos + 28);
    dir.write(name, pos + 46, 'latin1');
    pos += 46 + name.length;
  }
  const end = Buffer.alloc(22);
  end.writeUInt32LE(0x06054b50, 0);
  end.writeUInt16LE(Math.min(count, 0xffff), 8);
  end.writeUInt16LE(Math.min(count, 0xffff), 10);
  end.writeUInt32LE(dirSize, 12);
  end.writeUInt32LE(local.length, 16);
  return Buffer.concat([local, dir, end]);
}

const best = (fn) => ({ ms: bestMs(runs, fn) });

const big = zip(entries);
const one = zip(1);
const same = zip(1, big.length - one.length);
const json = (() => {
  const check = parseBytes(big);
  if (check.zip?.entries?.length !== entries) {
    throw new Error(`expected ${entries} entries, got ${check.zip?.entries?.length}`);
  }
  return JSON.stringify(check, (k, v) => (typeof v === 'bigint' ? Number(v) : v));
})();

const full = best(() => parseBytes(big));
const core = best(() => parseBytes(same));
const parsed = best(() => JSON.parse(json));
const sha = best(() => crypto.createHash('sha256').update(big).digest());

const [coreMs, convertMs] = addon.__timeConversion(big, runs);
const [, distinctMs] = addon.__timeConversion(zip(entries, 0, true), runs);

const mib = (big.length / 1048576).toFixed(1);
const convert = full.ms - core.ms;
console.log(`ZIP of ${entries} entries, ${mib} MiB, best of ${runs}`);
console.log(`parseBytes (big report)        ${full.ms.toFixed(1)} ms`);
console.log(`parseBytes (1 entry, same size) ${core.ms.toFixed(1)} ms`);
console.log(`  difference (the big report)  ${convert.toFixed(1)} ms`);
console.log(`  split by the addon: core ${coreMs.toFixed(1)} ms, conversion ${convertMs.toFixed(1)} ms`);
console.log(`  conversion when every time differs ${distinctMs.toFixed(1)} ms`);
console.log(`JSON.parse of the report's JSON ${parsed.ms.toFixed(1)} ms (${(json.length / 1048576).toFixed(1)} MiB)`);
console.log(`sha256 of the buffer            ${sha.ms.toFixed(1)} ms`);
console.log(`ratio parseBytes / JSON.parse   ${(full.ms / parsed.ms).toFixed(2)}`);
console.log(`ratio parseBytes / sha256       ${(full.ms / sha.ms).toFixed(2)}`);
console.log(`ratio conversion / JSON.parse   ${(convertMs / parsed.ms).toFixed(2)}`);
console.log(`  every time differing           ${(distinctMs / parsed.ms).toFixed(2)}`);
