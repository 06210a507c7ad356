'use strict';
// ID3, MP4 and ELF reports of small files made by common tools, checked against what those
// tools report about the files they wrote.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { parse, parseBytes } = require('..');

const fixture = (name) => path.join(__dirname, 'fixtures', 'media', name);

// Both entry points must agree on everything but the path facts of "file".
function parseBoth(name) {
  const byPath = parse(fixture(name));
  const byBytes = parseBytes(fs.readFileSync(fixture(name)));
  for (const ns of ['id3', 'mp4', 'elf']) assert.deepEqual(byPath[ns], byBytes[ns], ns);
  assert.equal(byPath.errors, undefined, JSON.stringify(byPath.errors));
  return byPath;
}

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

test('ID3v2.3 tag written by id3v2 (ISO-8859-1 text)', () => {
  // id3v2 -l: TIT2 Test Title, TPE1 Test Artist, TALB Test Album, TYER 2024, TRCK 3/12,
  // TCON Other (12), stored as "(12)".
  const r = parseBoth('id3v2_v23.mp3');
  assert.deepEqual(r.id3, {
    extended_header: false,
    frames: {
      album: 'Test Album',
      artist: 'Test Artist',
      genre: '(12)',
      title: 'Test Title',
      track: '3/12',
      year: '2024',
    },
    tag_size: 1750,
    unsynchronisation: false,
    version: '2.3.0',
  });
  assert.equal(r.file.mime_detected, 'audio/mpeg');
});

test('ID3v2.4 tag written by eyeD3 (UTF-8 text)', () => {
  // eyeD3: title Grüße aus Köln, artist Zoë Ärtist, album Ålbum, album artist Various Ärtists,
  // composer Jörg Composer, recording date 2021-05-04, track 7/9, genre Jazz.
  const r = parseBoth('eyed3_v24.mp3');
  assert.equal(r.id3.version, '2.4.0');
  assert.deepEqual(r.id3.frames, {
    album: 'Ålbum',
    album_artist: 'Various Ärtists',
    artist: 'Zoë Ärtist',
    composer: 'Jörg Composer',
    genre: 'Jazz',
    title: 'Grüße aus Köln',
    track: '07/09',
    year: '2021-05-04',
  });
});

test('ID3v2.3 tag written by eyeD3 (UTF-16 with byte-order marks)', () => {
  // eyeD3: title Ünïcode Tïtle ♫, artist Bjørk 😀 (a surrogate pair), album Albüm.
  const r = parseBoth('eyed3_v23_utf16.mp3');
  assert.equal(r.id3.version, '2.3.0');
  assert.deepEqual(r.id3.frames, {
    album: 'Albüm',
    artist: 'Bjørk 😀',
    title: 'Ünïcode Tïtle ♫',
  });
});

test('ELF executable and object file from gcc', () => {
  // readelf -h: ELF64, little endian, UNIX - System V, DYN (Position-Independent Executable
  // file), Advanced Micro Devices X86-64.
  const exe = parseBoth('hello-pie');
  assert.deepEqual(exe.elf, {
    abi: 'System V',
    class: '64-bit',
    endianness: 'little',
    machine: 'x86-64',
    type: 'shared object',
  });
  // readelf -h: ELF64, little endian, UNIX - System V, REL (Relocatable file), X86-64.
  const obj = parseBoth('hello.o');
  assert.equal(obj.elf.type, 'relocatable');
  assert.equal(obj.elf.machine, 'x86-64');
  assert.equal(obj.elf.class, '64-bit');
});

test('a truncated ELF header is an I/O error of "elf" alone', () => {
  const head = fs.readFileSync(fixture('hello.o')).subarray(0, 19);
  const r = parseBytes(head);
  assert.equal(r.elf, undefined);
  assert.deepEqual(r.errors, [
    { extractor: 'elf', message: 'I/O error: failed to fill whole buffer' },
  ]);
});

test('an ID3 header shorter than 10 bytes is malformed', () => {
  const r = parseBytes(Buffer.from('ID3\x03\x00\x00\x00\x00\x00', 'latin1'));
  assert.equal(r.id3, undefined);
  assert.deepEqual(r.errors, [{ extractor: 'id3', message: 'malformed id3: header too short' }]);
});
