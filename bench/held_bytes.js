#!/usr/bin/env node
'use strict';
// What parseBytesAsync pays to keep the caller's bytes safe while a pool thread reads them:
// a plain Buffer is read in place where the runtime can pin its memory, and copied where it
// cannot (resizable and shared memory always; every ArrayBuffer on runtimes that can detach a
// pinned one). Each kind runs in a process of its own, so peak memory is its alone.
// Usage: node bench/held_bytes.js [MiB, default 512] [runs, default 3]
const { execFileSync } = require('node:child_process');

const mib = Number(process.argv[2] || 512);
const runs = Number(process.argv[3] || 3);

if (process.argv[4] === 'child') {
  const { parseBytesAsync } = require('..');
  const size = mib * 1024 * 1024;
  const makers = {
    'plain Buffer': () => Buffer.allocUnsafeSlow(size),
    resizable: () => new Uint8Array(new ArrayBuffer(size, { maxByteLength: size })),
    shared: () => new Uint8Array(new SharedArrayBuffer(size)),
  };
  const bytes = makers[process.argv[5]]();
  for (let at = 0; at < size; at += 4096) bytes[at] = at & 0xff; // touch every page
  (async () => {
    const times = [];
    const before = process.memoryUsage().rss;
    for (let i = 0; i < runs; i++) {
      const start = process.hrtime.bigint();
      await parseBytesAsync(bytes, { extractors: ['file'] });
      times.push(Number(process.hrtime.bigint() - start) / 1e6);
    }
    const peak = process.resourceUsage().maxRSS * 1024;
    console.log(JSON.stringify({ best: Math.min(...times), extra: peak - before }));
  })();
} else {
  console.log(`parseBytesAsync of ${mib} MiB, best of ${runs}, file extractor only`);
  let base;
  for (const kind of ['plain Buffer', 'resizable', 'shared']) {
    const out = execFileSync(process.execPath, [__filename, mib, runs, 'child', kind], {
      encoding: 'utf8',
    });
    const { best, extra } = JSON.parse(out);
    base ??= best;
    console.log(
      `${kind.padEnd(13)} ${best.toFixed(0).padStart(6)} ms  ${(best / base).toFixed(2)}x  ` +
        `extra peak RSS ${(extra / 1048576).toFixed(0)} MiB`,
    );
  }
}
