'use strict';
// PDF reports of small files made by Ghostscript and qpdf, checked against what pdfinfo and
// qpdf report about them.
const test = require('node:test');
const assert = require('node:assert/strict');
const { parseBoth: parseIn } = require('../test-support/formats');

const parseBoth = (name) => parseIn('documents', name);

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
