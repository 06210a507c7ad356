'use strict';
// PNG reports of small files made by ImageMagick, checked against what ImageMagick's
// `identify -verbose` reports about the same files (excerpts stored in jpegpng.identify.txt).
const test = require('node:test');
const assert = require('node:assert/strict');
const {
  parseBoth: parseIn, loadIdentify, assertPrefixesKeepDirectory,
} = require('../test-support/formats');

const parseBoth = (name) => parseIn('images', name);
const identify = loadIdentify();

// IHDR colour type numbers as identify prints them, and our names for them.
const colourNames = { 0: 'grayscale', 2: 'RGB', 3: 'palette', 4: 'grayscale+alpha', 6: 'RGBA' };

test('PNG header fields match identify', () => {
  for (const name of ['png_text_phys.png', 'png_gray_alpha_interlaced.png', 'png_palette.png']) {
    const info = identify[name];
    const r = parseBoth(name);
    const [w, h] = info['png:IHDR.width,height'].split(', ').map(Number);
    assert.equal(r.png.width, w, name);
    assert.equal(r.png.height, h, name);
    assert.equal(r.png.bit_depth, Number(info['png:IHDR.bit_depth']), name);
    assert.equal(r.png.color_type, colourNames[parseInt(info['png:IHDR.color_type'], 10)], name);
    assert.equal(r.png.interlaced, info['png:IHDR.interlace_method'].startsWith('1 '), name);
    assert.equal(r.png.gamma, Number(/gamma=([\d.]+)/.exec(info['png:gAMA'])[1]), name);
    assert.equal(r.png.last_modified, info['png:tIME'], name);
    assert.equal(r.file.mime_detected, 'image/png');
    assert.equal(r.png.chunks[0].type, 'IHDR');
    assert.equal(r.png.chunks[0].offset, 8);
    assert.equal(r.png.chunks[r.png.chunks.length - 1].type, 'IEND');
    for (const other of ['jpeg', 'gif', 'bmp', 'riff']) assert.equal(r[other], undefined, other);
  }
});

test('PNG text chunks and resolution', () => {
  const info = identify['png_text_phys.png'];
  const r = parseBoth('png_text_phys.png');
  const [, xRes, units] = /x_res=(\d+), y_res=\d+, units=(\d)/.exec(info['png:pHYs']);
  assert.equal(units, '1');
  assert.equal(r.png.dpi, Math.round(Number(xRes) * 0.0254));
  assert.equal(r.png.dpi, 72);
  assert.equal(Object.keys(r.png.text).length, parseInt(info['png:text'], 10));
  assert.deepEqual(r.png.text, { Title: info.Title, comment: info.comment });
  // The other two files carry neither tEXt nor pHYs.
  for (const name of ['png_gray_alpha_interlaced.png', 'png_palette.png']) {
    const other = parseBoth(name);
    assert.equal(other.png.text, undefined, name);
    assert.equal(other.png.dpi, undefined, name);
  }
});

test('every truncation of a real PNG keeps a tolerant result', () => {
  assertPrefixesKeepDirectory('png_text_phys.png', 'png', 'chunks');
});
