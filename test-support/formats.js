'use strict';
// What the per-format tests under test/ share: fixture paths, a parse by path and by bytes that
// must agree, the ImageMagick identify excerpts, and the check that a cut file keeps a prefix of
// its record directory. It lives outside test/, where `node --test test/` would run it as a test.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { parse, parseBytes } = require('..');

/** The path of test/fixtures/DIR/NAME. */
function fixture(dir, name) {
  return path.join(__dirname, '..', 'test', 'fixtures', dir, name);
}

/**
 * The report of a fixture read by path. Read from its bytes, every namespace but the path facts
 * of "file" must be the same, and no extractor may fail on these well-formed files.
 */
function parseBoth(dir, name) {
  const byPath = parse(fixture(dir, name));
  const byBytes = parseBytes(fs.readFileSync(fixture(dir, name)));
  const formats = (r) => Object.keys(r).filter((ns) => ns !== 'file');
  assert.deepEqual(formats(byPath), formats(byBytes), name);
  for (const ns of formats(byPath)) assert.deepEqual(byPath[ns], byBytes[ns], `${name}: ${ns}`);
  assert.equal(byPath.errors, undefined, JSON.stringify(byPath.errors));
  return byPath;
}

/** name -> { property: value } from the "== name" blocks of the images' identify excerpts. */
function loadIdentify() {
  const out = {};
  let current = null;
  const text = fs.readFileSync(fixture('images', 'jpegpng.identify.txt'), 'utf8');
  for (const line of text.split('\n')) {
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

/** { width, height } of an identify block's Geometry. */
function geometry(info) {
  const [, w, h] = /^(\d+)x(\d+)\+/.exec(info.Geometry);
  return { width: Number(w), height: Number(h) };
}

/**
 * Every truncation of an image fixture keeps a tolerant result: namespace `ns` never fails, and
 * the directory `list` of a prefix is a prefix of the directory (records cut short keep their
 * stored length but lose what their payload would have said).
 */
function assertPrefixesKeepDirectory(name, ns, list) {
  const bytes = fs.readFileSync(fixture('images', name));
  const full = parseBytes(bytes)[ns];
  for (let n = 0; n <= bytes.length; n++) {
    const r = parseBytes(bytes.subarray(0, n));
    for (const e of r.errors ?? []) assert.notEqual(e.extractor, ns, `${name} cut at ${n}`);
    if (!r[ns]) continue;  // too short for the format's signature
    const got = r[ns][list];
    assert.ok(got.length <= full[list].length, `${name} cut at ${n}`);
    got.forEach((rec, i) => {
      assert.equal(rec.offset, full[list][i].offset);
      assert.equal(rec.length, full[list][i].length);
    });
  }
}

module.exports = { fixture, parseBoth, loadIdentify, geometry, assertPrefixesKeepDirectory };
