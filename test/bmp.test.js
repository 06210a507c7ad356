'use strict';
// BMP reports of small files made by ImageMagick, checked against what ImageMagick and file(1)
// report about them.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { parseBytes } = require('..');
const { fixture, parseBoth: parseIn } = require('../test-support/formats');

const parseBoth = (name) => parseIn('images', name);

test('bottom-up 24-bit BMP3 from ImageMagick', () => {
  // convert -size 5x3 gradient:red-blue -type TrueColor BMP3:
  // file: PC bitmap, Windows 3.x format, 5 x 3 x 24, cbSize 102.
  const r = parseBoth('bmp_bottomup_24.bmp');
  assert.deepEqual(r.bmp, {
    bit_depth: 24,
    compression: 'none (BI_RGB)',
    dib_header_size: 40,
    file_size_header: 102,
    height: 3,
    top_down: false,
    width: 5,
  });
  assert.equal(r.file.size_bytes, 102);
  assert.equal(r.file.mime_detected, 'image/bmp');
});

test('top-down copy of the same BMP', () => {
  // Rows reversed and the height stored as -3. identify reads 5x3 and compare -metric AE
  // finds 0 differing pixels against the bottom-up file; file: 5 x -3 x 24.
  const r = parseBoth('bmp_topdown_24.bmp');
  const bottomUp = parseBoth('bmp_bottomup_24.bmp');
  assert.deepEqual(r.bmp, { ...bottomUp.bmp, top_down: true });
});

test('32-bit BMP with a V5 header from ImageMagick', () => {
  // convert -size 6x4 gradient:white-black -alpha set ... BMP:
  // file: PC bitmap, Windows 98/2000 and newer format, 6 x 4 x 32, cbSize 234, bits offset 138.
  const r = parseBoth('bmp_v5_alpha.bmp');
  assert.equal(r.bmp.dib_header_size, 124);
  assert.equal(r.bmp.file_size_header, 234);
  assert.equal(r.bmp.width, 6);
  assert.equal(r.bmp.height, 4);
  assert.equal(r.bmp.bit_depth, 32);
  assert.equal(r.bmp.compression, 'bitfields');
  assert.equal(r.bmp.top_down, false);
});

test('a truncated BMP keeps the tolerant result or names the short header', () => {
  const bmp = fs.readFileSync(fixture('images', 'bmp_bottomup_24.bmp'));
  assert.deepEqual(parseBytes(bmp.subarray(0, 29)).errors, [
    { extractor: 'bmp', message: 'malformed bmp: header too short' },
  ]);
  assert.deepEqual(parseBytes(bmp.subarray(0, 53)).bmp, { dib_header_size: 40, file_size_header: 102 });
});
