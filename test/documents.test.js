'use strict';
// PDF, gzip and ZIP reports of small files made by common tools, checked against what those
// tools report about the files they wrote.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { parse, parseBytes } = require('..');

const fixture = (name) => path.join(__dirname, 'fixtures', 'documents', name);

// Both entry points must agree on everything but the path facts of "file".
function parseBoth(name) {
  const byPath = parse(fixture(name));
  const byBytes = parseBytes(fs.readFileSync(fixture(name)));
  for (const ns of ['pdf', 'gzip', 'zip']) assert.deepEqual(byPath[ns], byBytes[ns], ns);
  assert.equal(byPath.errors, undefined, JSON.stringify(byPath.errors));
  return byPath;
}

test('gzip -N member header', () => {
  // gzip -lv: method defla, date Nov 14 22:13 (UTC), uncompressed_name field-notes.txt.
  const r = parseBoth('field-notes.txt.gz');
  assert.deepEqual(r.gzip, {
    compression_method: 'deflate',
    modification_time_unix: 1700000000,
    original_filename: 'field-notes.txt',
    os: 'Unix',
  });
  assert.deepEqual(Object.keys(r.gzip), [
    'compression_method', 'modification_time_unix', 'original_filename', 'os',
  ]);
  assert.equal(r.pdf, undefined);
  assert.equal(r.zip, undefined);
});

test('zip with a directory, a deflated and a stored entry', () => {
  // unzip -Z -T: 3 entries, stor/defN/stor, 0/920/300 bytes uncompressed, 334 compressed in
  // all, every entry 20240309.070502.
  const r = parseBoth('mixed.zip');
  assert.equal(r.zip.entry_count, 3);
  assert.equal(r.zip.container_kind, 'plain zip');
  assert.equal(r.zip.compression_ratio, 0.274);  // 334 / 1220
  assert.deepEqual(r.zip.entries, [
    { compressed: 0, method: 'stored', modified: '2024-03-09T07:05:02', name: 'docs/',
      uncompressed: 0 },
    { compressed: 34, method: 'deflate', modified: '2024-03-09T07:05:02',
      name: 'docs/readme.txt', uncompressed: 920 },
    { compressed: 300, method: 'stored', modified: '2024-03-09T07:05:02',
      name: 'docs/noise.bin', uncompressed: 300 },
  ]);
  assert.deepEqual(Object.keys(r.zip), ['compression_ratio', 'container_kind', 'entries',
    'entry_count']);
  assert.deepEqual(Object.keys(r.zip.entries[0]), ['compressed', 'method', 'modified', 'name',
    'uncompressed']);
});

test('zip laid out like an OpenDocument file', () => {
  // unzip -Z -T: mimetype stored (39 bytes), content.xml defX 51 of 141; 90 of 180 in all.
  const r = parseBoth('odf-like.zip');
  assert.equal(r.zip.container_kind, 'EPUB/OpenDocument');
  assert.equal(r.zip.entry_count, 2);
  assert.equal(r.zip.compression_ratio, 0.5);
  assert.deepEqual(r.zip.entries.map((e) => [e.name, e.method, e.compressed, e.uncompressed]), [
    ['mimetype', 'stored', 39, 39],
    ['content.xml', 'deflate', 51, 141],
  ]);
});

test('pdf written by a PDF writer, with document information', () => {
  // pdfinfo: PDF version 1.4, Pages 2, Encrypted no, Optimized no; Title "Quarterly (draft)
  // notes", Author "Docs Team", Subject "Fixture", Keywords "tiny, test", Producer "GPL
  // Ghostscript 10.00.0", CreationDate Tue Dec 8 01:28:24 2026 UTC.
  // qpdf --show-xref lists 10 objects.
  const r = parseBoth('gs-tiny.pdf');
  assert.deepEqual(r.pdf, {
    encrypted: false,
    info: {
      author: 'Docs Team',
      creation_date: "D:20261208012824Z00'00'",
      keywords: 'tiny, test',
      modification_date: "D:20261208012824Z00'00'",
      producer: 'GPL Ghostscript 10.00.0',
      subject: 'Fixture',
      title: 'Quarterly (draft) notes',
    },
    linearized: false,
    object_count: 10,
    page_count: 2,
    version: '1.4',
  });
});

test('linearized pdf', () => {
  // qpdf --linearize of the file above; pdfinfo: Optimized yes, Pages 2, PDF version 1.4.
  const r = parseBoth('gs-linear.pdf');
  assert.equal(r.pdf.linearized, true);
  assert.equal(r.pdf.encrypted, false);
  assert.equal(r.pdf.page_count, 2);
  assert.equal(r.pdf.version, '1.4');
  assert.equal(r.pdf.info.title, 'Quarterly (draft) notes');
});

test('encrypted pdf keeps its strings out of reach', () => {
  // qpdf --encrypt "" owner 256; pdfinfo: Encrypted yes (AES-256), PDF version 1.7, Pages 2.
  // The encrypted information strings are hexadecimal, so no entry is read from them.
  const r = parseBoth('gs-encrypted.pdf');
  assert.equal(r.pdf.encrypted, true);
  assert.equal(r.pdf.version, '1.7');
  assert.equal(r.pdf.page_count, 2);
  assert.equal(r.pdf.info, undefined);
});

test('truncated archives are reported as errors, not thrown', () => {
  const zip = fs.readFileSync(fixture('mixed.zip'));
  const cut = parseBytes(zip.subarray(0, zip.length - 10));
  assert.equal(cut.zip, undefined);
  assert.deepEqual(cut.errors, [
    { extractor: 'zip', message: 'malformed zip: truncated end-of-central-directory record' },
  ]);

  const gz = parseBytes(fs.readFileSync(fixture('field-notes.txt.gz')).subarray(0, 9));
  assert.deepEqual(gz.errors, [{ extractor: 'gzip', message: 'malformed gzip: header too short' }]);
});
