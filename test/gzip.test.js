'use strict';
// gzip member headers, checked against what gzip -lv reports about the file.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { parseBytes } = require('..');
const { fixture, parseBoth: parseIn } = require('../test-support/formats');

const parseBoth = (name) => parseIn('documents', name);

test('gzip -N member header', () => {
  // gzip -lv: method defla, date Nov 14 22:13 (UTC), uncompressed_name field-notes.txt.
  const r = parseBoth('field-notes.txt.gz');
  assert.deepEqual(r.gzip, {
    compression_method: 'deflate',
    modification_time_unix: 1700000000,
    original_filename: 'field-notes.txt',
    os: 'Unix',
  });
  assert.deepEqual(Object.keys(r.gzip), [
    'compression_method', 'modification_time_unix', 'original_filename', 'os',
  ]);
  assert.equal(r.pdf, undefined);
  assert.equal(r.zip, undefined);
});

test('a truncated gzip header is reported as an error, not thrown', () => {
  const gz = parseBytes(fs.readFileSync(fixture('documents', 'field-notes.txt.gz')).subarray(0, 9));
  assert.deepEqual(gz.errors, [{ extractor: 'gzip', message: 'malformed gzip: header too short' }]);
});
