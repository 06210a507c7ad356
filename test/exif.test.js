'use strict';
// The "exif" namespace of small JPEGs: two with known reports, and one made by ImageMagick and
// tagged by exiv2, checked against the raw values exiv2 reports (exiv2_tagged.exiv2.txt).
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { parse, parseBytes } = require('..');

const fixture = (name) => path.join(__dirname, 'fixtures', 'exif', name);

test('EXIF groups and GPS position match the stored reports', () => {
  for (const name of ['gps_example.jpg', 'sample.jpg']) {
    const expected = JSON.parse(fs.readFileSync(fixture(`${name}.expected.json`), 'utf8'));
    const r = parseBytes(fs.readFileSync(fixture(name)));
    assert.deepEqual(r.exif, expected, name);
    // Keys arrive in byte order.
    assert.deepEqual(Object.keys(r.exif), Object.keys(r.exif).sort(), name);
    assert.equal(r.errors, undefined, name);
    assert.deepEqual(parse(fixture(name)).exif, r.exif, name);
  }
});

test('signed decimal degrees: south is negative, east positive', () => {
  const r = parseBytes(fs.readFileSync(fixture('gps_example.jpg')));
  assert.equal(r.exif.gps_decimal.latitude, -48.85816666666667);
  assert.equal(r.exif.gps_decimal.longitude, 2.35);
  assert.equal(typeof r.exif.primary.GPSLatitude, 'string');
});

// tag number -> { name, type, count, raw } from exiv2's "-pv" listing.
function loadExiv2() {
  const out = {};
  for (const line of fs.readFileSync(fixture('exiv2_tagged.exiv2.txt'), 'utf8').split('\n')) {
    if (line.startsWith('#') || line.trim() === '') continue;
    const m = /^(0x[0-9a-f]{4}) +\S+ +(\S+) +(\S+) +(\d+) +(.*)$/.exec(line);
    out[m[1]] = { name: m[2], type: m[3], count: Number(m[4]), raw: m[5] };
  }
  return out;
}

const ratio = (text) => {
  const [n, d] = text.split('/').map(Number);
  return n / d;
};

test('a file tagged by exiv2 reads back as exiv2 reports it', () => {
  const tags = loadExiv2();
  const r = parseBytes(fs.readFileSync(fixture('exiv2_tagged.jpg')));
  assert.equal(r.errors, undefined, JSON.stringify(r.errors));
  assert.equal(r.file.mime_detected, 'image/jpeg');
  const p = r.exif.primary;

  assert.equal(p.Make, `"${tags['0x010f'].raw}"`);
  assert.equal(p.Model, `"${tags['0x0110'].raw}"`);
  // Orientation 6, which exiv2 words as "right, top".
  assert.equal(tags['0x0112'].raw, '6');
  assert.equal(p.Orientation, 'row 0 at right and column 0 at top');
  assert.equal(p.ExposureTime, `${tags['0x829a'].raw} s`);
  assert.equal(p.FNumber, `f/${ratio(tags['0x829d'].raw)}`);
  // exiv2 calls 0x8827 ISOSpeedRatings; its current name is PhotographicSensitivity.
  assert.equal(p.PhotographicSensitivity, tags['0x8827'].raw);
  assert.equal(p.DateTimeOriginal, tags['0x9003'].raw.replace(/^(\d+):(\d+):/, '$1-$2-'));

  const dms = (tag) => tags[tag].raw.split(' ').map(ratio);
  const [latD, latM, latS] = dms('0x0002');
  const [lonD, lonM, lonS] = dms('0x0004');
  assert.equal(p.GPSLatitudeRef, tags['0x0001'].raw);
  assert.equal(p.GPSLatitude, `${latD} deg ${latM} min ${latS} sec ${tags['0x0001'].raw}`);
  assert.equal(p.GPSLongitude, `${lonD} deg ${lonM} min ${lonS} sec ${tags['0x0003'].raw}`);
  assert.equal(tags['0x0005'].raw, '0');
  assert.equal(p.GPSAltitudeRef, 'above sea level');
  assert.equal(p.GPSAltitude, `${ratio(tags['0x0006'].raw)} meters above sea level`);

  // Every tag exiv2 lists is reported, except the two pointers to the Exif and GPS IFDs.
  const pointers = ['0x8769', '0x8825'];
  assert.equal(Object.keys(p).length, Object.keys(tags).length - pointers.length);
  for (const tag of pointers) assert.ok(tags[tag], tag);
  assert.equal(r.exif.thumbnail, undefined);

  const sign = { S: -1, N: 1, E: 1, W: -1 };
  assert.equal(r.exif.gps_decimal.latitude,
    ((latD + latM / 60) + latS / 3600) * sign[tags['0x0001'].raw]);
  assert.equal(r.exif.gps_decimal.longitude,
    ((lonD + lonM / 60) + lonS / 3600) * sign[tags['0x0003'].raw]);
});
