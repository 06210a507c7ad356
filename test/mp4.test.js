'use strict';
// MP4 reports of small files made by ffmpeg, checked against what ffprobe reports about them.
const test = require('node:test');
const assert = require('node:assert/strict');
const { parseBoth: parseIn } = require('../test-support/formats');

const parseBoth = (name) => parseIn('media', name);

test('MP4 video from ffmpeg (moov after mdat)', () => {
  // ffprobe -show_format: major_brand isom, minor_version 512,
  // compatible_brands isomiso2avc1mp41, duration 1.000000.
  const r = parseBoth('testsrc.mp4');
  assert.equal(r.mp4.major_brand, 'isom');
  assert.equal(r.mp4.minor_version, 512);
  assert.deepEqual(r.mp4.compatible_brands, ['isom', 'iso2', 'avc1', 'mp41']);
  assert.equal(r.mp4.duration_seconds, 1);
  assert.equal(r.mp4.duration_units / r.mp4.timescale, 1);
  assert.deepEqual(r.mp4.top_level_boxes.map((b) => b.type), ['ftyp', 'free', 'mdat', 'moov']);
  const listed = r.mp4.top_level_boxes.reduce((sum, b) => sum + b.size, 0);
  assert.equal(listed, r.file.size_bytes);
  assert.deepEqual(Object.keys(r.mp4.top_level_boxes[0]), ['size', 'type']);
  assert.deepEqual(Object.keys(r.mp4), [
    'compatible_brands', 'duration_seconds', 'duration_units', 'major_brand', 'minor_version',
    'timescale', 'top_level_boxes',
  ]);
  assert.equal(r.id3, undefined);
  assert.equal(r.elf, undefined);
});

test('M4A audio from ffmpeg (faststart: moov first)', () => {
  // ffprobe -show_format: major_brand "M4A ", minor_version 512,
  // compatible_brands "M4A isomiso2", duration 0.500000.
  const r = parseBoth('tone.m4a');
  assert.equal(r.mp4.major_brand, 'M4A ');
  assert.equal(r.mp4.minor_version, 512);
  assert.deepEqual(r.mp4.compatible_brands, ['M4A ', 'isom', 'iso2']);
  assert.equal(r.mp4.duration_seconds, 0.5);
  assert.deepEqual(r.mp4.top_level_boxes.map((b) => b.type), ['ftyp', 'moov', 'free', 'mdat']);
});
