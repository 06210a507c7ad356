'use strict';
// GIF reports of small files made by ImageMagick, checked against what ImageMagick and file(1)
// report about them.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { parseBytes } = require('..');
const { fixture, parseBoth: parseIn } = require('../test-support/formats');

const parseBoth = (name) => parseIn('images', name);

test('animated GIF from ImageMagick with a loop count', () => {
  // convert -delay 10 -loop 3 -size 16x12 xc:red xc:lime xc:blue
  // identify: 3 frames of 16x12, "Iterations: 3"; file: GIF image data, version 89a.
  // The NETSCAPE field counts repeats after the first play, so ImageMagick stores 3 - 1.
  const r = parseBoth('gif_anim_loop3.gif');
  assert.deepEqual(Object.keys(r.gif), [
    'animated', 'color_resolution_bits', 'frames', 'global_color_table', 'global_color_table_size',
    'height', 'loop_count', 'version', 'width',
  ]);
  assert.equal(r.gif.version, '89a');
  assert.equal(r.gif.width, 16);
  assert.equal(r.gif.height, 12);
  assert.equal(r.gif.frames, 3);
  assert.equal(r.gif.animated, true);
  assert.equal(r.gif.loop_count, 2);
  assert.equal(r.gif.global_color_table, true);
  assert.equal(r.gif.global_color_table_size, 2);
  assert.equal(r.file.mime_detected, 'image/gif');
  for (const other of ['bmp', 'riff', 'jpeg', 'png']) assert.equal(r[other], undefined, other);
});

test('still GIF from ImageMagick', () => {
  // convert -size 7x5 xc:white -fill black -draw "point 1,1"
  // identify: 1 frame of 7x5, "Colormap entries: 2", no Iterations.
  const r = parseBoth('gif_still.gif');
  assert.equal(r.gif.width, 7);
  assert.equal(r.gif.height, 5);
  assert.equal(r.gif.frames, 1);
  assert.equal(r.gif.animated, false);
  assert.equal(r.gif.global_color_table_size, 2);
  assert.equal('loop_count' in r.gif, false);
});

test('a truncated GIF keeps the tolerant result or names the short header', () => {
  const gif = fs.readFileSync(fixture('images', 'gif_anim_loop3.gif'));
  assert.deepEqual(parseBytes(gif.subarray(0, 12)).errors, [
    { extractor: 'gif', message: 'malformed gif: header too short' },
  ]);
  const cut = parseBytes(gif.subarray(0, gif.length - 20));
  assert.equal(cut.gif.frames, 3);
  assert.equal(cut.errors, undefined);
});
