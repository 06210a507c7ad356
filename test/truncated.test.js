'use strict';
// Record lists cut at their cap say so with a "<list>_truncated" key; whole lists have no such
// key. The inputs are built here: crafted files with more records than any real one.
const test = require('node:test');
const assert = require('node:assert/strict');
const { parseBytes } = require('..');
const { addon, skipWithoutHooks: skip } = require('../test-support/hooks.js');

// The caps come from the addon's hook, so that they are written once, in the core.
const caps = addon.__listCaps ?? {};

// MP4 top-level boxes, JPEG segments and PNG chunks have a lower cap than the other lists: real
// files list a handful.
const CAP = caps.listedRecords;

function be32(v) {
  const b = Buffer.alloc(4);
  b.writeUInt32BE(v);
  return b;
}

// A local header (so the file is claimed), `count` minimal central records, the end record.
function zipWith(count) {
  const local = Buffer.concat([Buffer.from('PK\x03\x04'), Buffer.alloc(26)]);
  const record = Buffer.concat([Buffer.from('PK\x01\x02'), Buffer.alloc(42)]);
  const end = Buffer.alloc(22);
  end.write('PK\x05\x06', 0, 'latin1');
  end.writeUInt16LE(0xffff, 8); // entries on this disk
  end.writeUInt16LE(0xffff, 10); // total entries
  end.writeUInt32LE(local.length, 16); // directory offset
  return Buffer.concat([local, Buffer.alloc(count * record.length, record), end]);
}

// An ftyp box with `brands` compatible brands, then `boxes` empty "free" boxes.
function mp4With(brands, boxes) {
  const ftyp = Buffer.concat([
    be32(16 + 4 * brands),
    Buffer.from('ftypisom'),
    be32(0),
    Buffer.alloc(4 * brands, 'mp41'),
  ]);
  const free = Buffer.concat([be32(8), Buffer.from('free')]);
  return Buffer.concat([ftyp, Buffer.alloc(boxes * 8, free)]);
}

function jpegWith(segments) {
  const com = Buffer.from([0xff, 0xfe, 0x00, 0x02]); // empty COM segments
  return Buffer.concat([Buffer.from([0xff, 0xd8]), Buffer.alloc(segments * 4, com)]);
}

function pngWith(chunks) {
  const chunk = Buffer.concat([be32(0), Buffer.from('abcd'), be32(0)]); // empty private chunks
  return Buffer.concat([Buffer.from('\x89PNG\r\n\x1a\n', 'latin1'), Buffer.alloc(chunks * 12, chunk)]);
}

const cases = [
  { ns: 'zip', list: 'entries', make: zipWith, cap: CAP },
  { ns: 'mp4', list: 'compatible_brands', make: (n) => mp4With(n, 0), cap: CAP },
  { ns: 'mp4', list: 'top_level_boxes', make: (n) => mp4With(0, n - 1), cap: caps.mp4TopLevelBoxes },
  { ns: 'jpeg', list: 'segments', make: jpegWith, cap: caps.jpegSegments },
  { ns: 'png', list: 'chunks', make: pngWith, cap: caps.pngChunks },
];

for (const c of cases) {
  test(`${c.ns}.${c.list}: flagged only when cut`, { skip }, () => {
    const flag = `${c.list}_truncated`;
    const whole = parseBytes(c.make(c.cap), { extractors: [c.ns] })[c.ns];
    assert.equal(whole[c.list].length, c.cap);
    assert.equal(Object.hasOwn(whole, flag), false);

    const cut = parseBytes(c.make(c.cap + 1), { extractors: [c.ns] })[c.ns];
    assert.equal(cut[c.list].length, c.cap);
    assert.equal(cut[flag], true);
  });
}

test('a 300000-entry archive is reported as cut', { skip }, () => {
  const r = parseBytes(zipWith(300000), { extractors: ['zip'] }).zip;
  assert.equal(r.entries.length, CAP);
  assert.equal(r.entries_truncated, true);
});
