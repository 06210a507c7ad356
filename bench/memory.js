#!/usr/bin/env node
'use strict';
// Peak memory of parse(path) per format: sparse files of 0.5-2 GiB (the metadata before, after
// or far beyond a hole, which costs no disk), the hostile inputs that could cost hundreds of
// times their size, text-heavy inputs (timed against random bytes of the same size), and
// parseBytes over a large Buffer. Each case runs in a child process that
// has loaded the addon; it prints that child's peak RSS growth during the call and the call's
// time, beside the budget the case must stay within.
//
// Usage: node bench/memory.js [filter-substring]   (the addon path can be given in VORLIX_ADDON)
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const MiB = 1024 * 1024;
const GiB = 1024 * MiB;
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlix-mem-'));
const filter = process.argv[2] || '';

// ---- byte builders -------------------------------------------------------------------------
const u8 = (...v) => Buffer.from(v);
const be16 = (v) => { const b = Buffer.alloc(2); b.writeUInt16BE(v); return b; };
const be32 = (v) => { const b = Buffer.alloc(4); b.writeUInt32BE(v); return b; };
const be64 = (v) => { const b = Buffer.alloc(8); b.writeBigUInt64BE(BigInt(v)); return b; };
const le16 = (v) => { const b = Buffer.alloc(2); b.writeUInt16LE(v); return b; };
const le32 = (v) => { const b = Buffer.alloc(4); b.writeUInt32LE(v >>> 0); return b; };
const ascii = (s) => Buffer.from(s, 'latin1');
const cat = (...parts) => Buffer.concat(parts);
const box = (type, ...body) => { const b = cat(...body); return cat(be32(8 + b.length), ascii(type), b); };

// A file made of pieces at offsets; what lies between them is a hole.
function sparse(name, size, pieces) {
  const file = path.join(dir, name);
  const fd = fs.openSync(file, 'w');
  for (const [offset, bytes] of pieces) fs.writeSync(fd, bytes, 0, bytes.length, offset);
  fs.ftruncateSync(fd, size);
  fs.closeSync(fd);
  return file;
}
const whole = (name, bytes) => sparse(name, bytes.length, [[0, bytes]]);

// TIFF, little-endian: IFD entries are [tag, type, count, value-or-offset].
function ifd(entries, next = 0) {
  const parts = [le16(entries.length)];
  for (const [tag, type, count, value] of entries) parts.push(le16(tag), le16(type), le32(count), le32(value));
  parts.push(le32(next));
  return Buffer.concat(parts);
}
const tiffHeader = (first) => cat(ascii('II'), le16(42), le32(first));

const exifApp1 = () => {
  const tiff = cat(tiffHeader(8), ifd([[0x010f, 2, 4, 0x00636261]]));  // Make "abc"
  return cat(u8(0xff, 0xe1), be16(2 + 6 + tiff.length), ascii('Exif\0\0'), tiff);
};
const jpegHead = () => cat(u8(0xff, 0xd8), exifApp1(),
  u8(0xff, 0xc0, 0, 11, 8, 0, 16, 0, 16, 1, 1, 0x11, 0),
  u8(0xff, 0xda, 0, 8, 1, 1, 0, 0, 0x3f, 0));
const pngChunk = (type, data = Buffer.alloc(0)) => cat(be32(data.length), ascii(type), data, be32(0));
const pngSig = u8(0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a);
const ihdr = pngChunk('IHDR', cat(be32(64), be32(64), u8(8, 2, 0, 0, 0)));
const ftyp = box('ftyp', ascii('isom'), be32(512), ascii('isomiso2mp41'));
const moov = box('moov', box('mvhd', u8(0, 0, 0, 0), be32(0), be32(0), be32(1000), be32(600000), Buffer.alloc(80)));
const syncsafe = (n) => u8((n >> 21) & 0x7f, (n >> 14) & 0x7f, (n >> 7) & 0x7f, n & 0x7f);
const id3 = () => {
  const text = cat(u8(3), ascii('A title'));
  const frame = cat(ascii('TIT2'), syncsafe(text.length), u8(0, 0), text);
  return cat(ascii('ID3'), u8(4, 0, 0), syncsafe(frame.length), frame);
};
const zipCentral = (name, size, localOffset) => cat(le32(0x02014b50), le16(20), le16(20), le16(0), le16(0),
  le16(0), le16(0x21), le32(0), le32(size), le32(size), le16(name.length), le16(0), le16(0), le16(0),
  le16(0), le32(0), le32(localOffset), ascii(name));
const zipEnd = (count, cdSize, cdOffset) => cat(le32(0x06054b50), le16(0), le16(0), le16(count & 0xffff),
  le16(count & 0xffff), le32(cdSize), le32(cdOffset), le16(0));
const zipLocal = (name, size) => cat(le32(0x04034b50), le16(20), le16(0), le16(0), le16(0), le16(0x21),
  le32(0), le32(size), le32(size), le16(name.length), le16(0), ascii(name));

// A JPEG start and `n` empty segments of one marker.
function emptySegments(n, marker) {
  const b = Buffer.alloc(2 + 4 * n);
  b[0] = 0xff; b[1] = 0xd8;
  for (let i = 0; i < n; i++) b.set([0xff, marker, 0, 2], 2 + 4 * i);
  return b;
}

// ---- the cases ---------------------------------------------------------------------------------
function bigCases() {
  const cases = [];
  const add = (name, size, build) => cases.push({ name, size, build, budget: 16 * MiB });
  add('mp4 2 GiB, moov after mdat (64-bit size)', 2 * GiB, (n) => {
    const mdatLen = n - ftyp.length - moov.length;
    return sparse('after.mp4', n, [[0, cat(ftyp, be32(1), ascii('mdat'), be64(mdatLen))], [n - moov.length, moov]]);
  });
  add('mp4 2 GiB, moov first', 2 * GiB, (n) => {
    const head = cat(ftyp, moov);
    return sparse('first.mp4', n, [[0, cat(head, be32(1), ascii('mdat'), be64(n - head.length))]]);
  });
  add('zip 2 GiB, directory at the end', 2 * GiB, (n) => {
    const local = zipLocal('big.bin', 0);
    const central = zipCentral('big.bin', n - 200, 0);
    const end = zipEnd(1, central.length, n - central.length - 22);
    return sparse('big.zip', n, [[0, local], [n - central.length - 22, cat(central, end)]]);
  });
  add('pdf 1 GiB, info at the end', GiB, (n) => {
    const tail = ascii('1 0 obj\n<< /Title (Far away) /Author (vorlix) >>\nendobj\ntrailer\n<< /Info 1 0 R >>\n%%EOF\n');
    return sparse('big.pdf', n, [[0, ascii('%PDF-1.7\n2 0 obj\n<< /Type /Page >>\nendobj\n')], [n - tail.length, tail]]);
  });
  add('jpeg 512 MiB, scan data as the hole', 512 * MiB, (n) => sparse('big.jpg', n, [[0, jpegHead()], [n - 2, u8(0xff, 0xd9)]]));
  add('png 512 MiB, text after the image data', 512 * MiB, (n) => {
    const tail = cat(be32(0), pngChunk('tEXt', ascii('Title\0far')), pngChunk('IEND'));
    const head = cat(pngSig, ihdr, be32(n - 8 - ihdr.length - 8 - tail.length), ascii('IDAT'));
    return sparse('big.png', n, [[0, head], [n - tail.length, tail]]);
  });
  add('mp3 512 MiB, ID3 tag first', 512 * MiB, (n) => sparse('big.mp3', n, [[0, id3()]]));
  add('gzip 512 MiB', 512 * MiB, (n) => sparse('big.gz', n, [[0, cat(u8(0x1f, 0x8b, 8, 8), le32(1700000000), u8(0, 3), ascii('big.bin\0'))]]));
  add('wave 512 MiB, fmt then data', 512 * MiB, (n) => sparse('big.wav', n, [[0, cat(ascii('RIFF'), le32(n - 8), ascii('WAVE'),
    ascii('fmt '), le32(16), le16(1), le16(2), le32(44100), le32(176400), le16(4), le16(16), ascii('data'), le32(n - 44))]]));
  add('tiff 512 MiB, IFD at the end, value at the start', 512 * MiB, (n) => {
    const at = n - 64;
    return sparse('big.tif', n, [[0, cat(tiffHeader(at), ascii('Far camera\0'))], [at, ifd([[0x010f, 2, 11, 8], [0x0100, 3, 1, 640]])]]);
  });
  add('gif 512 MiB, stray bytes between frames', 512 * MiB, (n) => sparse('big.gif', n, [[0, cat(ascii('GIF89a'), le16(4), le16(4), u8(0, 0, 0),
    u8(0x2c), le16(0), le16(0), le16(4), le16(4), u8(0, 2, 1, 0, 0))], [n - 1, u8(0x3b)]]));
  add('1 GiB no format claims', GiB, (n) => sparse('big.bin', n, [[0, ascii('just bytes')]]));
  return cases;
}

function hostileCases() {
  const cases = [];
  const add = (name, build) => cases.push({ name, build, hostile: true });
  add('jpeg 1 MB of 4-byte segments', () => whole('segments.jpg', emptySegments(262144, 0xe5)));
  add('png 3 MB of empty chunks', () => {
    const chunk = pngChunk('abCd');
    const n = 262144;
    const b = Buffer.alloc(8 + chunk.length * n);
    pngSig.copy(b, 0);
    for (let i = 0; i < n; i++) chunk.copy(b, 8 + chunk.length * i);
    return whole('chunks.png', b);
  });
  add('zip 9 MB directory of 200,000 records', () => {
    const n = 200000;
    const local = zipLocal('a', 0);
    const rec = zipCentral('a', 0, 0);
    const cd = Buffer.alloc(rec.length * n);
    for (let i = 0; i < n; i++) rec.copy(cd, rec.length * i);
    return whole('dir.zip', cat(local, cd, zipEnd(n, cd.length, local.length)));
  });
  add('mp4 2 MB of 8-byte boxes', () => {
    const n = 262144;
    const b = Buffer.alloc(ftyp.length + 8 * n);
    ftyp.copy(b, 0);
    for (let i = 0; i < n; i++) b.set([0, 0, 0, 8, 0x66, 0x72, 0x65, 0x65], ftyp.length + 8 * i);
    return whole('boxes.mp4', b);
  });
  for (const mb of [10, 100]) {
    add(`tiff ${mb} MB, one ASCII field of NUL bytes`, () => {
      const len = mb * 1000 * 1000;
      return sparse(`nul${mb}.tif`, 26 + len, [[0, cat(tiffHeader(8), ifd([[0x010e, 2, len, 26]]))]]);
    });
  }
  add('tiff 100 MB, one BYTE field', () => {
    const len = 100 * 1000 * 1000;
    const head = cat(tiffHeader(8), ifd([[0xc000, 1, len, 26]]));
    const b = Buffer.alloc(26 + len);
    head.copy(b, 0);
    for (let i = 26; i < b.length; i += 4096) b[i] = i & 0xff;
    return whole('byte.tif', b);
  });
  add('tiff 100 MB, sub-IFD fan-out', () => {
    // IFD0 points 8,000 times at distinct Exif IFDs of 1,000 entries each.
    const subs = 8000, entries = 1000;
    const ifdBytes = 2 + 12 * entries + 4;
    const first = 8, subStart = first + 2 + 12 * subs + 4;
    const b = Buffer.alloc(subStart + subs * ifdBytes);
    tiffHeader(first).copy(b, 0);
    const pointers = [];
    for (let i = 0; i < subs; i++) pointers.push([0x8769, 4, 1, subStart + i * ifdBytes]);
    ifd(pointers).copy(b, first);
    const sub = ifd(Array.from({ length: entries }, (_, k) => [0x9000 + k, 3, 1, k]));
    for (let i = 0; i < subs; i++) sub.copy(b, subStart + i * ifdBytes);
    return whole('fanout.tif', b);
  });
  add('tiff 0.8 MB, 65,533 distinct fields in IFD 0 and 1,000 in IFD 1', () => {
    const fields = (n) => {
      const out = [];
      for (let tag = 1; out.length < n; tag++) if (tag !== 0x8769 && tag !== 0x8825) out.push([tag, 3, 1, 7]);
      return out;
    };
    const first = ifd(fields(65533));
    return whole('fields.tif', cat(tiffHeader(8), ifd(fields(65533), 8 + first.length), ifd(fields(1000))));
  });
  add('tiff 25 MiB, 65,535 pointers at one 65,535-entry IFD', () => {
    const n = 65535;
    const first = 8, sub = first + 2 + 12 * n + 4;
    const values = sub + 2 + 12 * n + 4;
    const b = Buffer.alloc(25 * MiB);
    tiffHeader(first).copy(b, 0);
    ifd(Array.from({ length: n }, () => [0x8769, 4, 1, sub])).copy(b, first);
    ifd(Array.from({ length: n }, (_, k) => [0x9000 + (k % 4096), 2, 300, values + (k % 60000) * 300])).copy(b, sub);
    b.fill(0x41, values);
    return whole('exif-fanout.tif', b);
  });
  return cases;
}

// Large values of text and many small ones, where each input byte can grow several-fold on its
// way to JS (a control byte is a six-character JSON escape, 0xFF becomes U+FFFD). Their time is
// also compared with parse(path) of random bytes of the same size.
function textCases() {
  const cases = [];
  const add = (name, build) => cases.push({ name, build, hostile: true, timed: true });
  const pngText = (pairs) => cat(pngSig, ihdr, ...pairs.map(([k, v]) => pngChunk('tEXt', cat(k, u8(0), v))), pngChunk('IEND'));
  const fill = (n, byte) => Buffer.alloc(n, byte);
  add('png, one tEXt of 64 MiB of 0x01', () => whole('t01.png', pngText([[ascii('k'), fill(64 * MiB, 1)]])));
  add('png, 64 tEXt of 1 MiB of 0x01', () => whole('t64.png', pngText(Array.from({ length: 64 }, (_, i) => [ascii(`k${i}`), fill(MiB, 1)]))));
  add('png, one tEXt of 64 MiB of 0xFF', () => whole('tff.png', pngText([[ascii('k'), fill(64 * MiB, 0xff)]])));
  add('png, 64 tEXt of 1 MiB of 0xFF', () => whole('t64ff.png', pngText(Array.from({ length: 64 }, (_, i) => [ascii(`k${i}`), fill(MiB, 0xff)]))));
  add('png, one tEXt of 180 MiB of 0xFF', () => whole('t180.png', pngText([[ascii('k'), fill(180 * MiB, 0xff)]])));
  add('png, 64 tEXt with distinct keywords of 1 MiB of 0xFF', () => whole('kw.png', pngText(Array.from({ length: 64 },
    (_, i) => [cat(ascii(String(i).padStart(8, '0')), fill(MiB - 8, 0xff)), ascii('v')]))));
  add('png, 1,048,576 tEXt with distinct keywords', () => {
    const n = 1 << 20;
    const parts = [pngSig, ihdr];
    for (let i = 0; i < n; i++) parts.push(pngChunk('tEXt', ascii(`${i.toString(16)}\0v`)));
    parts.push(pngChunk('IEND'));
    return whole('tmany.png', Buffer.concat(parts));
  });
  // ID3v2.3: a plain 32-bit frame size, a synchsafe tag size.
  const id3Frame = (id, body) => cat(ascii('ID3'), u8(3, 0, 0), syncsafe(10 + body.length),
    ascii(id), be32(body.length), u8(0, 0), body);
  add('id3v2.3, TIT2 Latin-1 of 64 MiB of 0x01', () => whole('t01.mp3', id3Frame('TIT2', cat(u8(0), fill(64 * MiB, 1)))));
  add('id3v2.3, TIT2 Latin-1 of 64 MiB of 0xFF', () => whole('tff.mp3', id3Frame('TIT2', cat(u8(0), fill(64 * MiB, 0xff)))));
  add('id3v2.3, TIT2 UTF-16, 32 Mi unpaired surrogates', () => {
    const body = Buffer.alloc(3 + 64 * MiB);
    body.set([1, 0xff, 0xfe]);
    for (let i = 3; i < body.length; i += 2) body[i + 1] = 0xd8;
    return whole('t16.mp3', id3Frame('TIT2', body));
  });
  // EXIF: one IFD that is its own next IFD and its own GPS IFD, naming one 1 MiB value: 16
  // fields of 1 MiB under IFDs 0 to 7; and 8 chain IFDs that each point at 64 overlapping Exif
  // and GPS IFDs of 65,535 entries (every phase of one region of zeros), in a different order.
  add('tiff 1 MiB, looping IFD and GPS IFD naming one 1 MiB value', () => {
    const entries = [[270, 2, MiB, 8 + 2 + 12 * 2 + 4], [0x8825, 4, 1, 8]];
    return whole('exif-loop.tif', cat(tiffHeader(8), ifd(entries, 8), fill(MiB, 0x41)));
  });
  add('tiff 0.8 MB, 8 IFDs x 64 overlapping sub-IFDs of 65,535 entries', () => {
    const chain = 2 + 12 * 64 + 4;
    const region = 8 + 8 * chain;
    const starts = Array.from({ length: 64 }, (_, j) => region + j * 13);
    const b = Buffer.alloc(region + 64 * 13 + 12 * 65535 + 64);
    tiffHeader(8).copy(b, 0);
    for (let k = 0; k < 8; k++) {
      const pointers = starts.map((_, j) => [j % 2 ? 0x8825 : 0x8769, 4, 1, starts[(j + 7 * k) % 64]]);
      ifd(pointers, k < 7 ? 8 + (k + 1) * chain : 0).copy(b, 8 + k * chain);
    }
    for (const s of starts) b.writeUInt16LE(0xffff, s);
    return whole('exif-overlap.tif', b);
  });
  add('jpeg, 65,536 empty COM segments', () => whole('com.jpg', emptySegments(65536, 0xfe)));
  add('jpeg, 1,024 COM segments of 65,533 bytes of 0x01', () => {
    const seg = cat(u8(0xff, 0xfe, 0xff, 0xff), fill(65533, 1));
    return whole('com64k.jpg', cat(u8(0xff, 0xd8), ...Array.from({ length: 1024 }, () => seg)));
  });
  add('zip, 200,000 names of 300 bytes of 0x01', () => {
    const n = 200000;
    const name = '\x01'.repeat(300);
    const local = zipLocal('a', 0);
    const rec = zipCentral(name, 0, 0);
    const cd = Buffer.alloc(rec.length * n);
    for (let i = 0; i < n; i++) rec.copy(cd, rec.length * i);
    return whole('names.zip', cat(local, cd, zipEnd(n, cd.length, local.length)));
  });
  return cases;
}

// ---- measuring -----------------------------------------------------------------------------------
const addon = process.env.VORLIX_ADDON || path.join(__dirname, '..', 'build-addon', 'Release', 'vorlix.node');
const child = `
const addon = require(${JSON.stringify(addon)});
const [kind, arg] = process.argv.slice(1);
let input = arg;
if (kind === 'bytes') { input = Buffer.alloc(Number(arg)); input.fill(7); }
const before = process.resourceUsage().maxRSS;
const cpu0 = process.cpuUsage();
const t0 = process.hrtime.bigint();
let outcome = 'report';
try { kind === 'bytes' ? addon.parseBytes(input) : addon.parse(input); } catch (e) { outcome = 'threw ' + e.code + ': ' + e.message.slice(0, 60); }
const ms = Number(process.hrtime.bigint() - t0) / 1e6;
const cpu = process.cpuUsage(cpu0);
console.log(JSON.stringify({ extraKiB: process.resourceUsage().maxRSS - before, ms, cpuMs: (cpu.user + cpu.system) / 1e3, outcome }));
`;

function run(kind, arg) {
  const r = spawnSync(process.execPath, ['-e', child, kind, String(arg)], { encoding: 'utf8', maxBuffer: 1 << 20 });
  if (r.status !== 0) return { extraKiB: NaN, ms: NaN, cpuMs: NaN, outcome: `exit ${r.status ?? r.signal}: ${(r.stderr || '').split('\n')[0]}` };
  return JSON.parse(r.stdout.trim().split('\n').pop());
}

// CPU time of parse(path) of random bytes of `size`, the time a text-heavy input of that size is
// held to (at most 10 times it); the best of three. CPU time (all threads), not wall time, so
// that other work on the machine counts less.
function randomMs(size) {
  const file = path.join(dir, 'random.bin');
  const fd = fs.openSync(file, 'w');
  const block = Buffer.alloc(MiB);
  for (let at = 0; at < size; at += block.length) {
    require('node:crypto').randomFillSync(block);
    fs.writeSync(fd, block, 0, Math.min(block.length, size - at));
  }
  fs.closeSync(fd);
  const ms = Math.min(...[0, 1, 2].map(() => run('path', file).cpuMs));
  fs.rmSync(file);
  return ms;
}

const rows = [];
function measure(name, size, budget, kind, arg, baseMs) {
  const m = run(kind, arg);
  const extra = m.extraKiB / 1024;
  const ratio = baseMs === undefined ? '' : `${(m.cpuMs / baseMs).toFixed(1)}x`;
  rows.push([name, (size / MiB).toFixed(1), extra.toFixed(1), (budget / MiB).toFixed(0), extra <= budget / MiB ? 'ok' : 'OVER', m.ms.toFixed(0), ratio, m.outcome]);
  process.stderr.write(`${rows[rows.length - 1].join('  ')}\n`);
}

try {
  for (const c of bigCases()) {
    if (!c.name.includes(filter)) continue;
    const file = c.build(c.size);
    measure(c.name, c.size, c.budget, 'path', file);
    fs.rmSync(file);
  }
  for (const c of [...hostileCases(), ...textCases()]) {
    if (!c.name.includes(filter)) continue;
    const file = c.build();
    const size = fs.statSync(file).size;
    measure(c.name, size, 64 * MiB + 4 * size, 'path', file, c.timed ? randomMs(size) : undefined);
    fs.rmSync(file);
  }
  if ('parseBytes'.includes(filter) || filter === '') {
    measure('parseBytes of a 512 MiB Buffer (no copy)', 512 * MiB, 16 * MiB, 'bytes', 512 * MiB);
  }
} finally {
  fs.rmSync(dir, { recursive: true, force: true });
}

const head = ['input', 'MiB', 'extra peak RSS MiB', 'budget MiB', '', 'ms', 'CPU vs random', 'outcome'];
const widths = head.map((h, i) => Math.max(h.length, ...rows.map((r) => r[i].length)));
const line = (r) => '| ' + r.map((v, i) => v.padEnd(widths[i])).join(' | ') + ' |';
console.log(line(head));
console.log('|' + widths.map((w) => '-'.repeat(w + 2)).join('|') + '|');
for (const r of rows) console.log(line(r));
