'use strict';
// RIFF reports (WebP, WAVE) of small files made by cwebp/gif2webp and sox, checked against what
// those tools report about the files they wrote.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { parseBytes } = require('..');
const { fixture, parseBoth: parseIn } = require('../test-support/formats');

const parseBoth = (name) => parseIn('images', name);

test('lossy and lossless WebP from cwebp', () => {
  // cwebp -q 75 / cwebp -lossless of a 64x48 PNG.
  // webpinfo: "Chunk VP8  ... Width: 64 Height: 48 Format: Lossy (1)" and
  // "Chunk VP8L ... Width: 64 Height: 48 Format: Lossless (2)".
  const lossy = parseBoth('webp_lossy.webp');
  assert.deepEqual(lossy.riff, {
    form_type: 'WEBP', height: 48, media_kind: 'image (WebP)', webp_format: 'lossy', width: 64,
  });
  const lossless = parseBoth('webp_lossless.webp');
  assert.deepEqual(lossless.riff, {
    form_type: 'WEBP', height: 48, media_kind: 'image (WebP)', webp_format: 'lossless', width: 64,
  });
  assert.equal(lossy.file.mime_detected, 'image/webp');
});

test('extended WebP: alpha from cwebp, animation from gif2webp', () => {
  // webpinfo: "Chunk VP8X ... Alpha: 1 EXIF: 0 Animation: 0 Canvas size 40 x 30".
  const alpha = parseBoth('webp_alpha.webp');
  assert.deepEqual(alpha.riff, {
    form_type: 'WEBP', has_alpha: true, has_animation: false, has_exif: false, height: 30,
    media_kind: 'image (WebP)', webp_format: 'extended', width: 40,
  });
  // gif2webp of the animated GIF; webpinfo: "Alpha: 0 EXIF: 0 Animation: 1 Canvas size 16 x 12".
  const anim = parseBoth('webp_anim.webp');
  assert.equal(anim.riff.webp_format, 'extended');
  assert.equal(anim.riff.has_animation, true);
  assert.equal(anim.riff.has_alpha, false);
  assert.equal(anim.riff.width, 16);
  assert.equal(anim.riff.height, 12);
});

test('WAVE files from sox', () => {
  // soxi: Channels, Sample Rate, Precision; file: "Microsoft PCM" for the first two.
  const cases = [
    ['wav_s16_stereo.wav', { audio_format_tag: 1, channels: 2, sample_rate: 22050, bits_per_sample: 16 }],
    ['wav_u8_mono.wav', { audio_format_tag: 1, channels: 1, sample_rate: 8000, bits_per_sample: 8 }],
    // sox writes 24-bit samples with the extensible format tag (FFFE hex).
    ['wav_s24_mono.wav', { audio_format_tag: 0xfffe, channels: 1, sample_rate: 48000, bits_per_sample: 24 }],
  ];
  for (const [name, audio] of cases) {
    const r = parseBoth(name);
    assert.deepEqual(r.riff, { ...audio, form_type: 'WAVE', media_kind: 'audio (WAV)' }, name);
    assert.equal(r.file.mime_detected, 'audio/x-wav', name);
  }
});

test('a truncated WAVE keeps the tolerant result or names the short header', () => {
  const wav = fs.readFileSync(fixture('images', 'wav_s16_stereo.wav'));
  assert.deepEqual(parseBytes(wav.subarray(0, 11)).errors, [
    { extractor: 'riff', message: 'malformed riff: header too short' },
  ]);
  assert.deepEqual(parseBytes(wav.subarray(0, 30)).riff, { form_type: 'WAVE', media_kind: 'audio (WAV)' });
});
