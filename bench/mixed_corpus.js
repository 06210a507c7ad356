#!/usr/bin/env node
'use strict';
// A mixed corpus of realistically sized files (JPEG with EXIF, PNG, MP3, MP4, PDF, ZIP), parsed
// one file at a time, measured side by side in one run:
//   - vorlix parse(path), synchronous;
//   - a SHA-256-only pass (read the file, crypto SHA-256), the floor for anything that hashes;
//   - the JS libraries a Node program would otherwise combine for the same facts: file-type,
//     exifr (JPEG), music-metadata (MP3, MP4), crypto SHA-256, zlib CRC-32 and a byte histogram
//     for the entropy, both as the plain loop one would write and as the fastest JS loop we
//     found. These libraries only offer promise APIs; each call is awaited before the next.
//   - where `exiftool` is on the PATH: one exiftool process reading every file (-json), which
//     neither hashes nor measures entropy, alone and followed by the SHA-256 pass.
// The peers are pinned in bench/package.json: `cd bench && npm install` first.
// Usage: node bench/mixed_corpus.js [total MiB, default 200] [runs, default 3]
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const zlib = require('node:zlib');
const { spawnSync } = require('node:child_process');
const crypto = require('node:crypto');
const { parse } = require('..');

const totalMiB = Number(process.argv[2] || 200);
const runs = Number(process.argv[3] || 3);
const root = path.join(__dirname, '..');

// Deterministic filler (a small xorshift), so every run builds the same corpus.
function filler(n, seed) {
  const out = Buffer.allocUnsafe(n);
  let x = seed >>> 0 || 1;
  for (let i = 0; i < n; i++) {
    x ^= x << 13;
    x ^= x >>> 17;
    x ^= x << 5;
    out[i] = x & 0xff;
  }
  return out;
}
const noMarkers = (b) => {
  for (let i = 0; i < b.length; i++) if (b[i] === 0xff) b[i] = 0xfe;
  return b;
};
const u32be = (v) => {
  const b = Buffer.alloc(4);
  b.writeUInt32BE(v >>> 0);
  return b;
};
const box = (type, ...parts) => {
  const body = Buffer.concat(parts);
  return Buffer.concat([u32be(8 + body.length), Buffer.from(type, 'latin1'), body]);
};
const pngChunk = (type, data) => {
  const td = Buffer.concat([Buffer.from(type, 'latin1'), data]);
  return Buffer.concat([u32be(data.length), td, u32be(zlib.crc32(td))]);
};

const sample = fs.readFileSync(path.join(root, 'examples', 'sample.jpg'));
const makers = {
  // The sample photo's headers (EXIF included), then entropy-coded-looking data, then EOI.
  jpg: (n, s) => Buffer.concat([sample.subarray(0, sample.length - 2), noMarkers(filler(n, s)), Buffer.from([0xff, 0xd9])]),
  png: (n, s) => {
    const ihdr = Buffer.alloc(13);
    ihdr.writeUInt32BE(1920, 0);
    ihdr.writeUInt32BE(1080, 4);
    ihdr.set([8, 2, 0, 0, 0], 8);
    const idat = [];
    for (let off = 0; off < n; off += 65536) idat.push(pngChunk('IDAT', filler(Math.min(65536, n - off), s + off)));
    return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), pngChunk('IHDR', ihdr), ...idat, pngChunk('IEND', Buffer.alloc(0))]);
  },
  mp3: (n, s) => {
    const text = (id, t) => {
      const body = Buffer.concat([Buffer.from([3]), Buffer.from(t, 'utf8')]);
      const h = Buffer.alloc(10);
      h.write(id, 0, 'latin1');
      h.writeUInt32BE(body.length, 4);
      return Buffer.concat([h, body]);
    };
    const frames = Buffer.concat([text('TIT2', 'Benchmark tone'), text('TPE1', 'Nobody'), text('TALB', 'Corpus')]);
    const syncsafe = Buffer.from([(frames.length >> 21) & 127, (frames.length >> 14) & 127, (frames.length >> 7) & 127, frames.length & 127]);
    const header = Buffer.concat([Buffer.from('ID3\x04\x00\x00', 'latin1'), syncsafe]);
    // MPEG-1 layer III, 128 kbit/s, 44.1 kHz: 417-byte frames.
    const audio = noMarkers(filler(n, s));
    for (let off = 0; off + 417 <= audio.length; off += 417) audio.set([0xff, 0xfb, 0x90, 0x64], off);
    return Buffer.concat([header, frames, audio]);
  },
  mp4: (n, s) => {
    const mvhd = Buffer.alloc(100);
    mvhd.writeUInt32BE(1000, 12); // timescale
    mvhd.writeUInt32BE(60000, 16); // duration
    mvhd.writeUInt32BE(0x00010000, 20);
    mvhd.writeUInt16BE(0x0100, 24);
    return Buffer.concat([box('ftyp', Buffer.from('isom\0\0\x02\0isomiso2mp41', 'latin1')), box('moov', box('mvhd', mvhd)), box('mdat', filler(n, s))]);
  },
  pdf: (n, s) => {
    const parts = ['%PDF-1.7\n', '1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n', '2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n', '3 0 obj\n<< /Title (Corpus) /Author (Nobody) /Producer (bench) >>\nendobj\n'];
    const stream = filler(n, s).toString('base64').slice(0, n);
    return Buffer.from(parts.join('') + `4 0 obj\n<< /Length ${stream.length} >>\nstream\n${stream}\nendstream\nendobj\ntrailer\n<< /Root 1 0 R /Info 3 0 R >>\n%%EOF\n`, 'latin1');
  },
  zip: (n, s) => {
    const locals = [];
    const central = [];
    let offset = 0;
    for (let i = 0, left = n; left > 0; i++) {
      const data = filler(Math.min(left, 262144), s + i);
      left -= data.length;
      const name = Buffer.from(`file${i}.bin`);
      const crc = zlib.crc32(data);
      const lh = Buffer.alloc(30);
      lh.writeUInt32LE(0x04034b50, 0);
      lh.writeUInt16LE(20, 4);
      lh.writeUInt32LE(crc, 14);
      lh.writeUInt32LE(data.length, 18);
      lh.writeUInt32LE(data.length, 22);
      lh.writeUInt16LE(name.length, 26);
      const ch = Buffer.alloc(46);
      ch.writeUInt32LE(0x02014b50, 0);
      ch.writeUInt16LE(20, 4);
      ch.writeUInt16LE(20, 6);
      ch.writeUInt32LE(crc, 16);
      ch.writeUInt32LE(data.length, 20);
      ch.writeUInt32LE(data.length, 24);
      ch.writeUInt16LE(name.length, 28);
      ch.writeUInt32LE(offset, 42);
      locals.push(lh, name, data);
      central.push(ch, name);
      offset += 30 + name.length + data.length;
    }
    const cd = Buffer.concat(central);
    const eocd = Buffer.alloc(22);
    eocd.writeUInt32LE(0x06054b50, 0);
    eocd.writeUInt16LE(central.length / 2, 8);
    eocd.writeUInt16LE(central.length / 2, 10);
    eocd.writeUInt32LE(cd.length, 12);
    eocd.writeUInt32LE(offset, 16);
    return Buffer.concat([...locals, cd, eocd]);
  },
};
// Typical sizes: phone photos, web images and thumbnails, screenshots and icons, songs, a short
// clip, documents, archives. 18 files, 2.1 MiB on average: about the 1,460 files in 3 GB of a
// real photo, media and upload folder.
const KiB = 1 << 10;
const MiB = 1 << 20;
const mix = [
  ['jpg', 3 * MiB], ['png', 600 * KiB], ['mp3', 5 * MiB], ['pdf', 400 * KiB], ['jpg', 2 * MiB],
  ['zip', 4 * MiB], ['png', 150 * KiB], ['jpg', 250 * KiB], ['mp4', 12 * MiB], ['pdf', 60 * KiB],
  ['jpg', 4 * MiB], ['png', 40 * KiB], ['mp3', 3.5 * MiB], ['jpg', 80 * KiB], ['pdf', 1.2 * MiB],
  ['zip', 300 * KiB], ['jpg', 1.5 * MiB], ['png', 10 * KiB],
].map(([ext, size]) => [ext, Math.round(size)]);

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlix-corpus-'));
const files = [];
let bytes = 0;
for (let i = 0; bytes < totalMiB * 1048576; i++) {
  const [ext, size] = mix[i % mix.length];
  const data = makers[ext](size, i + 1);
  const file = path.join(dir, `f${i}.${ext}`);
  fs.writeFileSync(file, data);
  files.push({ file, ext });
  bytes += data.length;
}

// The byte histogram as one would write it.
function plainHistogram(buf) {
  const counts = new Uint32Array(256);
  for (let i = 0; i < buf.length; i++) counts[buf[i]]++;
  return counts;
}

// The fastest plain-JS byte histogram we found: four tables, so runs of one value do not wait on
// their own stores.
function histogram(buf) {
  const a = new Uint32Array(256);
  const b = new Uint32Array(256);
  const c = new Uint32Array(256);
  const d = new Uint32Array(256);
  const n = buf.length & ~3;
  for (let i = 0; i < n; i += 4) {
    a[buf[i]]++;
    b[buf[i + 1]]++;
    c[buf[i + 2]]++;
    d[buf[i + 3]]++;
  }
  for (let i = n; i < buf.length; i++) a[buf[i]]++;
  for (let k = 0; k < 256; k++) a[k] += b[k] + c[k] + d[k];
  return a;
}

async function main() {
  const { fileTypeFromBuffer } = await import('file-type');
  const exifr = (await import('exifr')).default;
  const { parseBuffer } = await import('music-metadata');
  const peers = async (countBytes) => {
    for (const { file, ext } of files) {
      const buf = fs.readFileSync(file);
      await fileTypeFromBuffer(buf);
      if (ext === 'jpg') await exifr.parse(buf, true);
      if (ext === 'mp3' || ext === 'mp4') await parseBuffer(buf, undefined, { duration: false, skipCovers: true });
      crypto.createHash('sha256').update(buf).digest();
      zlib.crc32(buf);
      if (countBytes) countBytes(buf);
    }
  };
  const sides = {
    'vorlix parse (sync)': async () => {
      for (const { file } of files) parse(file);
    },
    'sha256 only': async () => {
      for (const { file } of files) crypto.createHash('sha256').update(fs.readFileSync(file)).digest();
    },
    'peers + sha256 + crc32': () => peers(null),
    'peers + sha256 + crc32 + histogram': () => peers(plainHistogram),
    'same, fastest JS histogram': () => peers(histogram),
  };
  if (spawnSync('exiftool', ['-ver'], { encoding: 'utf8' }).status === 0) {
    const argfile = path.join(dir, 'exiftool.args');
    fs.writeFileSync(argfile, files.map((f) => f.file).join('\n'));
    const exiftool = () => {
      const r = spawnSync('exiftool', ['-json', '-q', '-@', argfile], { maxBuffer: 1 << 30 });
      if (r.status !== 0 || JSON.parse(r.stdout).length !== files.length) throw new Error('exiftool failed');
    };
    sides['exiftool -json (one process)'] = async () => exiftool();
    sides['same, then sha256 in Node'] = async () => {
      exiftool();
      await sides['sha256 only']();
    };
  }
  const best = {};
  for (const name of Object.keys(sides)) best[name] = Infinity;
  // Interleaved rounds, so load on the machine affects every side alike.
  for (let r = 0; r < runs; r++) {
    for (const [name, fn] of Object.entries(sides)) {
      const t0 = process.hrtime.bigint();
      await fn();
      best[name] = Math.min(best[name], Number(process.hrtime.bigint() - t0) / 1e9);
    }
  }
  const base = best['vorlix parse (sync)'];
  const mib = bytes / 1048576;
  console.log(`corpus: ${files.length} files, ${mib.toFixed(0)} MiB; best of ${runs}`);
  for (const [name, t] of Object.entries(best)) {
    console.log(`${name.padEnd(36)} ${(mib / t).toFixed(0).padStart(6)} MiB/s   vorlix/this ${(base / t).toFixed(2)}`);
  }
  fs.rmSync(dir, { recursive: true, force: true });
}

main().catch((e) => {
  fs.rmSync(dir, { recursive: true, force: true });
  console.error(e);
  process.exitCode = 1;
});
