'use strict';
// JPEG reports of small files made by ImageMagick, checked against what ImageMagick's
// `identify -verbose` reports about the same files (excerpts stored in jpegpng.identify.txt).
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const {
  fixture, parseBoth: parseIn, loadIdentify, geometry, assertPrefixesKeepDirectory,
} = require('../test-support/formats');

const parseBoth = (name) => parseIn('images', name);
const identify = loadIdentify();

test('JPEG quality estimate matches the quality ImageMagick wrote', () => {
  for (const q of [10, 50, 75, 90, 100]) {
    const name = `jpeg_q${q}.jpg`;
    const info = identify[name];
    const r = parseBoth(name);
    assert.equal(Number(info.Quality), q, name);
    assert.equal(r.jpeg.quality_estimate, q, name);
    assert.equal(r.jpeg.width, geometry(info).width, name);
    assert.equal(r.jpeg.height, geometry(info).height, name);
    assert.equal(r.jpeg.bit_depth, parseInt(info.Depth, 10), name);
    // jpeg:colorspace 2 is YCbCr: three components.
    assert.equal(info['jpeg:colorspace'], '2');
    assert.equal(r.jpeg.components, 3, name);
    assert.equal(r.jpeg.color_space_guess, 'YCbCr/RGB', name);
    assert.equal(r.jpeg.progressive, info.Interlace !== 'None', name);
    assert.equal(r.file.mime_detected, 'image/jpeg');
    for (const other of ['png', 'gif', 'bmp', 'riff']) assert.equal(r[other], undefined, other);
  }
});

test('JPEG segment directory of an ImageMagick file', () => {
  const bytes = fs.readFileSync(fixture('images', 'jpeg_q75.jpg'));
  const r = parseBoth('jpeg_q75.jpg');
  const segs = r.jpeg.segments;
  assert.equal(segs[0].marker, 'FFE0');
  assert.equal(segs[0].offset, 2);
  assert.match(segs[0].jfif_version, /^1\.\d\d$/);
  assert.equal(typeof segs[0].density, 'string');
  const sos = segs[segs.length - 1];
  assert.equal(sos.name, 'SOS (scan start)');
  assert.equal(r.jpeg.scan_data_offset, sos.offset + 2 + sos.length);
  for (const s of segs) {
    // Every record points at a marker of the file with the length stored after it.
    assert.equal(bytes[s.offset], 0xff);
    assert.equal(s.marker, 'FF' + bytes[s.offset + 1].toString(16).toUpperCase().padStart(2, '0'));
    assert.equal(s.length, bytes.readUInt16BE(s.offset + 2));
  }
  const names = segs.map((s) => s.name);
  assert.ok(names.includes('DQT (quantization)'));
  assert.ok(names.includes('SOF0 (baseline)'));
  assert.ok(names.includes('DHT (huffman)'));
});

test('progressive greyscale JPEG with a comment', () => {
  const info = identify['jpeg_gray_progressive.jpg'];
  const r = parseBoth('jpeg_gray_progressive.jpg');
  assert.equal(info.Interlace, 'JPEG');
  assert.equal(r.jpeg.progressive, true);
  assert.equal(info.Colorspace, 'Gray');
  assert.equal(r.jpeg.components, 1);
  assert.equal(r.jpeg.color_space_guess, 'grayscale');
  assert.equal(r.jpeg.quality_estimate, Number(info.Quality));
  assert.deepEqual({ width: r.jpeg.width, height: r.jpeg.height }, geometry(info));
  const comments = r.jpeg.segments.filter((s) => 'comment' in s).map((s) => s.comment);
  assert.deepEqual(comments, [info.comment]);
  assert.ok(r.jpeg.segments.some((s) => s.name === 'SOF2 (progressive)'));
});

test('every truncation of a real JPEG keeps a tolerant result', () => {
  assertPrefixesKeepDirectory('jpeg_gray_progressive.jpg', 'jpeg', 'segments');
});
