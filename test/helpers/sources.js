'use strict';
// Shared by the source and stream tests: the sample files, large virtual files, and reports
// without the facts that only a path gives.
const fs = require('node:fs');
const path = require('node:path');
const zlib = require('node:zlib');

const fixture = (...p) => path.join(__dirname, '..', 'fixtures', ...p);

// Every sample file under test/fixtures plus the bundled example.
function samples() {
  const out = [path.join(__dirname, '..', '..', 'examples', 'sample.jpg')];
  const walk = (dir) => {
    for (const e of fs.readdirSync(dir, { withFileTypes: true })) {
      const p = path.join(dir, e.name);
      if (e.isDirectory()) walk(p);
      else out.push(p);
    }
  };
  walk(path.join(__dirname, '..', 'fixtures'));
  return out.sort();
}

// `size` bytes, zeros except `parts` ([offset, bytes], in order, not overlapping). Nothing of
// that size is ever allocated: reads are put together from the parts.
function virtualFile(size, parts) {
  // `out` filled with the bytes from `offset`.
  function fillAt(offset, out) {
    const length = out.length;
    out.fill(0);
    for (const [at, bytes] of parts) {
      const from = Math.max(at, offset);
      const to = Math.min(at + bytes.length, offset + length);
      if (from < to) out.set(bytes.subarray(from - at, to - at), from - offset);
    }
    return out;
  }
  const bytesAt = (offset, length) => fillAt(offset, new Uint8Array(length));
  return {
    size,
    bytesAt,
    fillAt,
    // A source counting its reads and the bytes they fetched; `log` holds [offset, length].
    source(extra = {}) {
      const s = {
        size,
        reads: 0,
        fetched: 0,
        log: [],
        ...extra,
        async read(offset, length) {
          s.reads += 1;
          s.fetched += length;
          s.log.push([offset, length]);
          return bytesAt(offset, length);
        },
      };
      return s;
    },
    // The same bytes as a sparse file in `dir`; its path.
    writeSparse(dir) {
      const file = path.join(dir, `virtual-${size}-${parts.length}.bin`);
      const fd = fs.openSync(file, 'w');
      try {
        for (const [at, bytes] of parts) fs.writeSync(fd, bytes, 0, bytes.length, at);
        fs.ftruncateSync(fd, size);
      } finally {
        fs.closeSync(fd);
      }
      return file;
    },
  };
}

const PATH_FACTS = ['name', 'extension_claimed', 'modified_unix', 'created_unix'];

// parse(path)'s report as parseBytes would give it for the same bytes.
function withoutPathFacts(report) {
  if (report.file) {
    report.file = Object.fromEntries(
      Object.entries(report.file).filter(([k]) => !PATH_FACTS.includes(k)),
    );
  }
  return report;
}

// Large files whose metadata sits in a few places, zeros elsewhere: synthesised by read(), never
// allocated. The same bytes on disk (sparse) give parse's report to compare with.

// The CRC-32 of `size` zeros, computed piece by piece.
function zerosCrc(size) {
  const zeros = Buffer.alloc(Math.min(size, 1 << 20));
  let crc = 0;
  for (let left = size; left > 0; left -= zeros.length) {
    crc = zlib.crc32(zeros.subarray(0, Math.min(left, zeros.length)), crc);
  }
  return crc;
}

// A ZIP of stored entries, each { name, data } or { name, size } (that many zeros, not allocated).
function zipFile(entries) {
  const parts = [];
  const dir = [];
  let at = 0;
  for (const { name: text, data, size = data.length } of entries) {
    const name = Buffer.from(text);
    const crc = data ? zlib.crc32(data) : zerosCrc(size);
    const fields = (header, sig, shift) => {
      header.writeUInt32LE(sig, 0);
      header.writeUInt16LE(10, 4 + shift); // version needed
      header.writeUInt32LE(crc, 14 + shift);
      header.writeUInt32LE(size, 18 + shift); // compressed
      header.writeUInt32LE(size, 22 + shift); // uncompressed
      header.writeUInt16LE(name.length, 26 + shift);
      return header;
    };
    parts.push([at, Buffer.concat([fields(Buffer.alloc(30), 0x04034b50, 0), name])]);
    if (data) parts.push([at + 30 + name.length, data]);
    const central = fields(Buffer.alloc(46), 0x02014b50, 2);
    central.writeUInt32LE(at, 42); // local header offset
    dir.push(central, name);
    at += 30 + name.length + size;
  }
  const directory = Buffer.concat(dir);
  const end = Buffer.alloc(22);
  end.writeUInt32LE(0x06054b50, 0);
  end.writeUInt16LE(entries.length, 8); // entries on this disk
  end.writeUInt16LE(entries.length, 10); // entries
  end.writeUInt32LE(directory.length, 12);
  end.writeUInt32LE(at, 16); // directory offset
  parts.push([at, Buffer.concat([directory, end])]);
  return virtualFile(at + directory.length + 22, parts);
}

// testsrc.mp4's ftyp, an mdat of `mdatSize` bytes, then its moov.
function mp4WithMoovLast(mdatSize) {
  const b = fs.readFileSync(fixture('media', 'testsrc.mp4'));
  const ftyp = b.subarray(0, 32);
  const moov = b.subarray(1166, 1166 + 875);
  const mdat = Buffer.alloc(8);
  mdat.writeUInt32BE(mdatSize, 0);
  mdat.write('mdat', 4, 'latin1');
  return virtualFile(32 + mdatSize + moov.length, [[0, ftyp], [32, mdat], [32 + mdatSize, moov]]);
}

// png_text_phys.png with its IDAT grown to `idatSize` bytes: one large chunk, as encoders that
// write the image data in one piece make it.
// A TIFF block of one field, Make "abc".
const exifTiff = Buffer.from('49492a000800000001000f010200040000006162630000000000', 'hex');

// A PNG whose image data is one IDAT chunk of `idatSize` bytes; with `exif`, an eXIf chunk
// (exifTiff) 'before' or 'after' it; `size` cuts the file.
function pngWithLargeIdat(idatSize, { exif, size } = {}) {
  const b = fs.readFileSync(fixture('images', 'png_text_phys.png'));
  const tiff = exifTiff;
  const chunkHead = (length, type) => {
    const h = Buffer.alloc(8);
    h.writeUInt32BE(length, 0);
    h.write(type, 4, 'latin1');
    return h;
  };
  const exifChunk = Buffer.concat([chunkHead(tiff.length, 'eXIf'), tiff, Buffer.alloc(4)]);
  const parts = [[0, b.subarray(0, 151)]];
  let at = 151;
  const put = (bytes) => {
    parts.push([at, bytes]);
    at += bytes.length;
  };
  if (exif === 'before') put(exifChunk);
  put(chunkHead(idatSize, 'IDAT'));
  at += idatSize + 4;
  if (exif === 'after') put(exifChunk);
  put(b.subarray(187));
  return virtualFile(size ?? at, parts);
}

// A lossless WebP whose image data is `imageSize` bytes, with an EXIF chunk (exifTiff) after it
// when asked; `riffSize` overrides the size its header states.
function webpWithLargeImage(imageSize, { exif, riffSize } = {}) {
  const b = fs.readFileSync(fixture('images', 'webp_lossless.webp'));
  const length = Buffer.alloc(4);
  length.writeUInt32LE(exifTiff.length);
  const exifChunk = exif ? Buffer.concat([Buffer.from('EXIF'), length, exifTiff]) : Buffer.alloc(0);
  const image = 12 + 8 + imageSize + (imageSize % 2);
  const size = image + exifChunk.length;
  const head = Buffer.from(b.subarray(0, 12 + 8 + 91));
  head.writeUInt32LE(riffSize ?? size - 8, 4);
  head.writeUInt32LE(imageSize, 16);
  return virtualFile(size, [[0, head], [image, exifChunk]]);
}

const padded = (file, size) => virtualFile(size, [[0, fs.readFileSync(fixture(...file))]]);
const MiB = 1 << 20;

// [label, the namespace it must give, virtual file] for large files of each format whose
// metadata a walk finds in a few reads.
const largeFiles = () => [
  ['camera JPEG', 'jpeg', padded(['exif', 'sample.jpg'], 12 * MiB)],
  ['PNG', 'png', pngWithLargeIdat(8 * MiB)],
  ['TIFF', 'exif', padded(['exif', 'exif.tif'], 8 * MiB)],
  ['HEIF', 'exif', padded(['exif', 'exif.heic'], 8 * MiB)],
  ['MP3', 'id3', padded(['media', 'id3v2_v23.mp3'], 8 * MiB)],
  ['ZIP', 'zip', zipFile([{ name: 'big.bin', size: 8 * MiB }])],
  ['MP4, moov after a 1 GiB mdat', 'mp4', mp4WithMoovLast(1024 * MiB)],
];

module.exports = { samples, virtualFile, withoutPathFacts, largeFiles, mp4WithMoovLast, pngWithLargeIdat, webpWithLargeImage, zipFile };

