'use strict';
// JPEG and PNG reports of small files made by ImageMagick, checked against what ImageMagick's
// `identify -verbose` reports about the same files (excerpts stored in jpegpng.identify.txt).
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { parse, parseBytes } = require('..');

const fixture = (name) => path.join(__dirname, 'fixtures', 'images', name);

// name -> { property: value } from the "== name" blocks of the identify excerpts.
function loadIdentify() {
  const out = {};
  let current = null;
  for (const line of fs.readFileSync(fixture('jpegpng.identify.txt'), 'utf8').split('\n')) {
    if (line.startsWith('#') || line.trim() === '') continue;
    if (line.startsWith('== ')) {
      current = out[line.slice(3)] = {};
      continue;
    }
    const colon = line.indexOf(': ');
    current[line.slice(0, colon)] = line.slice(colon + 2);
  }
  return out;
}
const identify = loadIdentify();

function geometry(info) {
  const [, w, h] = /^(\d+)x(\d+)\+/.exec(info.Geometry);
  return { width: Number(w), height: Number(h) };
}

// Both entry points must agree, and no extractor may fail on a well-formed file.
function parseBoth(name) {
  const byPath = parse(fixture(name));
  const byBytes = parseBytes(fs.readFileSync(fixture(name)));
  for (const ns of ['jpeg', 'png']) assert.deepEqual(byPath[ns], byBytes[ns], ns);
  assert.equal(byPath.errors, undefined, JSON.stringify(byPath.errors));
  return byPath;
}

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
  const bytes = fs.readFileSync(fixture('jpeg_q75.jpg'));
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

test('every truncation of the real files keeps a tolerant result', () => {
  for (const name of ['jpeg_gray_progressive.jpg', 'png_text_phys.png']) {
    const bytes = fs.readFileSync(fixture(name));
    const ns = name.startsWith('jpeg') ? 'jpeg' : 'png';
    const full = parseBytes(bytes)[ns];
    const list = ns === 'jpeg' ? 'segments' : 'chunks';
    for (let n = 0; n <= bytes.length; n++) {
      const r = parseBytes(bytes.subarray(0, n));
      for (const e of r.errors ?? []) assert.notEqual(e.extractor, ns, `${name} cut at ${n}`);
      if (!r[ns]) continue;  // too short for the format's signature
      // The directory of a prefix is a prefix of the directory (records cut short keep their
      // stored length but lose what their payload would have said).
      const got = r[ns][list];
      assert.ok(got.length <= full[list].length, `${name} cut at ${n}`);
      got.forEach((rec, i) => {
        assert.equal(rec.offset, full[list][i].offset);
        assert.equal(rec.length, full[list][i].length);
      });
    }
  }
});
