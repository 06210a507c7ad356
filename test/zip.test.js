'use strict';
// ZIP reports of small archives, checked against what unzip -Z reports about them.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { parseBytes } = require('..');
const { fixture, parseBoth: parseIn } = require('../test-support/formats');

const parseBoth = (name) => parseIn('documents', name);

test('zip with a directory, a deflated and a stored entry', () => {
  // unzip -Z -T: 3 entries, stor/defN/stor, 0/920/300 bytes uncompressed, 334 compressed in
  // all, every entry 20240309.070502.
  const r = parseBoth('mixed.zip');
  assert.equal(r.zip.entry_count, 3);
  assert.equal(r.zip.container_kind, 'plain zip');
  assert.equal(r.zip.compression_ratio, 0.274);  // 334 / 1220
  assert.deepEqual(r.zip.entries, [
    { compressed: 0, method: 'stored', modified: '2024-03-09T07:05:02', name: 'docs/',
      uncompressed: 0 },
    { compressed: 34, method: 'deflate', modified: '2024-03-09T07:05:02',
      name: 'docs/readme.txt', uncompressed: 920 },
    { compressed: 300, method: 'stored', modified: '2024-03-09T07:05:02',
      name: 'docs/noise.bin', uncompressed: 300 },
  ]);
  assert.deepEqual(Object.keys(r.zip), ['compression_ratio', 'container_kind', 'entries',
    'entry_count']);
  assert.deepEqual(Object.keys(r.zip.entries[0]), ['compressed', 'method', 'modified', 'name',
    'uncompressed']);
});

test('zip laid out like an OpenDocument file', () => {
  // unzip -Z -T: mimetype stored (39 bytes), content.xml defX 51 of 141; 90 of 180 in all.
  const r = parseBoth('odf-like.zip');
  assert.equal(r.zip.container_kind, 'EPUB/OpenDocument');
  assert.equal(r.zip.entry_count, 2);
  assert.equal(r.zip.compression_ratio, 0.5);
  assert.deepEqual(r.zip.entries.map((e) => [e.name, e.method, e.compressed, e.uncompressed]), [
    ['mimetype', 'stored', 39, 39],
    ['content.xml', 'deflate', 51, 141],
  ]);
});

test('a truncated zip is reported as an error, not thrown', () => {
  const zip = fs.readFileSync(fixture('documents', 'mixed.zip'));
  const cut = parseBytes(zip.subarray(0, zip.length - 10));
  assert.equal(cut.zip, undefined);
  assert.deepEqual(cut.errors, [
    { extractor: 'zip', message: 'malformed zip: truncated end-of-central-directory record' },
  ]);
});
