'use strict';
// GIF, BMP and RIFF (WebP, WAVE) reports of small files made by ImageMagick, cwebp/gif2webp and
// sox, checked against what those tools report about the files they wrote.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { parse, parseBytes } = require('..');

const fixture = (name) => path.join(__dirname, 'fixtures', 'images', name);

// Both entry points must agree on the format namespaces, and nothing may fail.
function parseBoth(name) {
  const byPath = parse(fixture(name));
  const byBytes = parseBytes(fs.readFileSync(fixture(name)));
  for (const ns of ['gif', 'bmp', 'riff']) assert.deepEqual(byPath[ns], byBytes[ns], ns);
  assert.equal(byPath.errors, undefined, JSON.stringify(byPath.errors));
  return byPath;
}

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

test('truncated inputs keep the tolerant result or name the short header', () => {
  const gif = fs.readFileSync(fixture('gif_anim_loop3.gif'));
  assert.deepEqual(parseBytes(gif.subarray(0, 12)).errors, [
    { extractor: 'gif', message: 'malformed gif: header too short' },
  ]);
  const cut = parseBytes(gif.subarray(0, gif.length - 20));
  assert.equal(cut.gif.frames, 3);
  assert.equal(cut.errors, undefined);

  const bmp = fs.readFileSync(fixture('bmp_bottomup_24.bmp'));
  assert.deepEqual(parseBytes(bmp.subarray(0, 29)).errors, [
    { extractor: 'bmp', message: 'malformed bmp: header too short' },
  ]);
  assert.deepEqual(parseBytes(bmp.subarray(0, 53)).bmp, { dib_header_size: 40, file_size_header: 102 });

  const wav = fs.readFileSync(fixture('wav_s16_stereo.wav'));
  assert.deepEqual(parseBytes(wav.subarray(0, 11)).errors, [
    { extractor: 'riff', message: 'malformed riff: header too short' },
  ]);
  assert.deepEqual(parseBytes(wav.subarray(0, 30)).riff, { form_type: 'WAVE', media_kind: 'audio (WAV)' });
});
