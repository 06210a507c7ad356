'use strict';
// ID3v2 tags written by id3v2 and eyeD3, checked against what those tools list.
const test = require('node:test');
const assert = require('node:assert/strict');
const { parseBytes } = require('..');
const { parseBoth: parseIn } = require('../test-support/formats');

const parseBoth = (name) => parseIn('media', name);

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

test('an ID3 header shorter than 10 bytes is malformed', () => {
  const r = parseBytes(Buffer.from('ID3\x03\x00\x00\x00\x00\x00', 'latin1'));
  assert.equal(r.id3, undefined);
  assert.deepEqual(r.errors, [{ extractor: 'id3', message: 'malformed id3: header too short' }]);
});
