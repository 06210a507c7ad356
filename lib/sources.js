'use strict';
// Inputs beyond paths and Buffers: random-access sources ({ size, read }), HTTP(S) Range
// requests, and streams.
const crypto = require('node:crypto');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const { Readable } = require('node:stream');
const { ReadableStream } = require('node:stream/web');

// Parses with a source in flight at once: each runs the core on a thread of the binding's own
// pool, which waits on the source's reads; past this many, parses wait in line for a thread.
const MAX_SOURCE_THREADS = 64;
// parseStream keeps up to this many bytes in memory before it spills to a temporary file.
const STREAM_MEMORY_BYTES = 16 << 20;
// httpSource's first ranged GET asks for this many bytes: the parse's first read is as large.
const HTTP_FIRST_BYTES = 131072;
// parseStream stores the stream in blocks of this size.
const STREAM_BLOCK = 65536;
// A stream of known length whose formats are read front to back is parsed as it arrives: its
// first STREAM_HEAD_BYTES stay in memory (every extractor starts at the header), and a window of
// the last STREAM_WINDOW_BYTES that arrived, which moves only as far as the walk reads.
const STREAM_HEAD_BYTES = 4 << 20;
const STREAM_WINDOW_BYTES = 8 << 20;
// Extractors whose walks only move forward from the header (they skip what they do not read),
// so a stream needs no look back for them. The EXIF reader is one of them inside a JPEG, whose
// EXIF block comes before the image data; in PNG it walks the chunks again after the format's
// own walk, and in WebP the RIFF chunks (an ExifWalkTracker follows those walks as the bytes
// pass instead); in TIFF and HEIF it reads wherever the offsets point.
const FORWARD_WALKS = new Set(['jpeg', 'png', 'gif', 'bmp', 'riff', 'id3', 'gzip', 'elf', 'mp4']);
const MAX_BLOCK_SIZE = 1 << 24;
// The EXIF block of a PNG or WebP stream is kept as it passes, up to this size (with the head
// and the window, what a stream holds stays within STREAM_MEMORY_BYTES).
const EXIF_KEEP_BYTES = STREAM_MEMORY_BYTES - STREAM_HEAD_BYTES - STREAM_WINDOW_BYTES;
const PNG_SIGNATURE = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);

// The EXIF reader's walks of PNG chunks and of WebP's RIFF chunks, step by step: each yields
// what it needs next (['skip', n], ['read', n] or ['more']: whether a byte is left) and gets
// true or the bytes, or false or null when the stream ends first. What it returns is where the
// walk ends: the block, no block, or one of the reader's errors.
const BROKEN = { end: 'broken' };
function* readBlock(length) {
  if (length > EXIF_KEEP_BYTES) return { end: 'too large' };
  const block = yield ['read', length];
  return block ? { end: 'block', block } : BROKEN;
}
function* pngExifWalk() {
  yield ['skip', PNG_SIGNATURE.length];
  for (;;) {
    if (!(yield ['more'])) return { end: 'none' };
    const head = yield ['read', 8];
    if (!head) return BROKEN;
    const length = head.readUInt32BE(0);
    if (head.toString('latin1', 4, 8) === 'eXIf') return yield* readBlock(length);
    if (!(yield ['skip', length + 4])) return BROKEN;
  }
}
function* webpExifWalk() {
  const head = yield ['read', 12];
  if (!head) return BROKEN;
  const riffSize = head.readUInt32LE(4);
  if (riffSize < 4) return { end: 'invalid size' };
  let left = riffSize - 4;
  while (left > 0) {
    if (left < 8) return { end: 'overflow' };
    left -= 8;
    const chunk = yield ['read', 8];
    if (!chunk) return BROKEN;
    const size = chunk.readUInt32LE(4);
    if (size > left) return { end: 'overflow' };
    left -= size;
    if (chunk.toString('latin1', 0, 4) === 'EXIF') return yield* readBlock(size);
    const pad = size % 2 === 1 && left > 0 ? 1 : 0;
    left -= pad;
    if (!(yield ['skip', size + pad])) return BROKEN;
  }
  return { end: 'none' };
}

// A small file of each container whose walk ends where the stream's did.
const le32 = (n) => {
  const b = Buffer.alloc(4);
  b.writeUInt32LE(n);
  return b;
};
const be32 = (n) => {
  const b = Buffer.alloc(4);
  b.writeUInt32BE(n);
  return b;
};
function pngStandIn({ end, block }) {
  if (end === 'block') return Buffer.concat([PNG_SIGNATURE, be32(block.length), Buffer.from('eXIf'), block]);
  return Buffer.concat([PNG_SIGNATURE, Buffer.alloc(end === 'none' ? 0 : 1)]);
}
function webpStandIn({ end, block }) {
  const riff = (size, ...rest) => Buffer.concat([Buffer.from('RIFF'), le32(size), Buffer.from('WEBP'), ...rest]);
  if (end === 'block') return riff(12 + block.length, Buffer.from('EXIF'), le32(block.length), block);
  return riff({ none: 4, broken: 12, overflow: 8, 'invalid size': 0 }[end]);
}

// Follows one of those walks as the stream's bytes pass, in order.
class ExifWalkTracker {
  constructor(walk, standIn) {
    this.walk = walk();
    this.standInOf = standIn;
    this.outcome = null;
    this.next(undefined);
  }

  // Hands the walk its answer and takes its next need.
  next(answer) {
    const step = this.walk.next(answer);
    if (step.done) {
      this.outcome = step.value;
      this.need = null;
      return;
    }
    const [op, n] = step.value;
    this.need = op;
    this.wanted = n;
    this.filled = 0;
    this.bytes = op === 'read' ? Buffer.alloc(n) : null;
    if (op !== 'more' && n === 0) this.next(op === 'read' ? this.bytes : true);
  }

  feed(bytes) {
    for (let i = 0; i < bytes.length && this.need;) {
      if (this.need === 'more') {
        this.next(true);
        continue;
      }
      const n = Math.min(this.wanted - this.filled, bytes.length - i);
      if (this.bytes) this.bytes.set(bytes.subarray(i, i + n), this.filled);
      this.filled += n;
      i += n;
      if (this.filled === this.wanted) this.next(this.bytes ?? true);
    }
  }

  get tooLarge() {
    return this.outcome?.end === 'too large';
  }

  // Once the stream has ended: the file that stands in for it.
  standIn() {
    while (this.need) this.next(this.need === 'read' ? null : false);
    return this.standInOf(this.outcome);
  }
}

// Taken at load: a report's keys are defined as own data properties, whatever a host does later.
const { defineProperty, hasOwn } = Object;
// A report's own value for `key`: a key a report lacks must not be read from a getter a host put
// on Object.prototype.
const own = (report, key) => (hasOwn(report, key) ? report[key] : undefined);

function message(err) {
  return err instanceof Error ? err.message : String(err);
}

module.exports = function sources({ addon, checkOptions, AbortError, show }) {
  // The threads the parses run on: made as needed, reused, ended after a while idle.
  const pool = addon.sourcePool();
  let running = 0;
  const waiting = [];

  function release() {
    running -= 1;
    while (running < MAX_SOURCE_THREADS && waiting.length > 0) {
      const next = waiting.shift();
      running += 1;
      next();
    }
  }

  function checkSource(fn, source) {
    if (source === null || typeof source !== 'object') {
      throw new TypeError(`${fn}: source must be an object with size and read, got ${show(source)}`);
    }
    const { size, read, blockSize } = source;
    const sizeOk = typeof size === 'bigint'
      ? size >= 0n && size < 2n ** 64n
      : Number.isSafeInteger(size) && size >= 0;
    if (!sizeOk) {
      throw new TypeError(`${fn}: source.size must be a non-negative integer (number or bigint), got ${show(size)}`);
    }
    if (typeof read !== 'function') {
      throw new TypeError(`${fn}: source.read must be a function, got ${show(read)}`);
    }
    if (blockSize !== undefined
        && !(Number.isSafeInteger(blockSize) && blockSize > 0 && blockSize <= MAX_BLOCK_SIZE)) {
      throw new TypeError(`${fn}: source.blockSize must be an integer from 1 to ${MAX_BLOCK_SIZE}, got ${show(blockSize)}`);
    }
    return { size, read, blockSize: blockSize ?? 0 };
  }

  function parseSource(source, options) {
    return runSource('parseSource', source, options);
  }

  // `sums`: a stream's content sums, which stand in for the file extractor's pass.
  // `sumsAtEnd`: the stream is still arriving; the sums are taken after the parse, once the
  // source's read of its end has been answered.
  function runSource(fn, source, options, sums, sumsAtEnd = false) {
    return new Promise((resolve, reject) => {
      const { native, signal } = checkOptions(fn, options, true);
      const { size, read, blockSize } = checkSource(fn, source);
      if (signal?.aborted) throw new AbortError(signal);
      let abort;
      let settled = false;
      const finish = (settle, value) => {
        if (settled) return;
        settled = true;
        signal?.removeEventListener('abort', onAbort);
        settle(value);
      };
      const onAbort = () => {
        const i = waiting.indexOf(begin);
        if (i >= 0) waiting.splice(i, 1);
        if (abort) abort();
        finish(reject, new AbortError(signal));
      };
      const issue = (offset, length, seq, done) => {
        let pending;
        try {
          pending = Promise.resolve(read.call(source, offset, length));
        } catch (err) {
          pending = Promise.reject(err);
        }
        pending.then(
          (bytes) => done(seq, null, bytes),
          (err) => done(seq, `read(${offset}, ${length}) failed: ${message(err)}`, null),
        );
      };
      function begin() {
        try {
          abort = addon.parseSourceAsync(issue, size, blockSize, native, (error, report, cancelled) => {
            release();
            if (cancelled) finish(reject, new AbortError(signal));
            else if (error) finish(reject, error);
            else finish(resolve, report);
          }, sums, pool, sumsAtEnd);
        } catch (err) {
          release();
          finish(reject, err);
        }
      }
      signal?.addEventListener('abort', onAbort, { once: true });
      if (running < MAX_SOURCE_THREADS) {
        running += 1;
        begin();
      } else {
        waiting.push(begin);
      }
    });
  }

  // "bytes START-END/TOTAL" (or "bytes */TOTAL" on a 416) -> its numbers; TOTAL may be "*".
  function contentRange(res) {
    const m = /^bytes (?:(\d+)-(\d+)|\*)\/(\d+|\*)$/.exec(res.headers.get('content-range') ?? '');
    if (!m) return null;
    return { start: m[1] && Number(m[1]), end: m[2] && Number(m[2]), total: m[3] === '*' ? null : Number(m[3]) };
  }

  function checkHttpOptions(options) {
    if (options === undefined) return {};
    if (options === null || typeof options !== 'object' || Array.isArray(options)) {
      throw new TypeError(`httpSource: options must be an object, got ${show(options)}`);
    }
    for (const key of Object.keys(options)) {
      if (key !== 'headers' && key !== 'signal') throw new TypeError(`httpSource: unknown option ${JSON.stringify(key)}`);
    }
    if (options.signal !== undefined && !(options.signal instanceof AbortSignal)) {
      throw new TypeError(`httpSource: options.signal must be an AbortSignal, got ${show(options.signal)}`);
    }
    return options;
  }

  function withRange(base, start, end) {
    const headers = new Headers(base);
    // A compressed body would not be the bytes of the range.
    if (!headers.has('accept-encoding')) headers.set('accept-encoding', 'identity');
    headers.set('range', `bytes=${start}-${end}`);
    return headers;
  }

  // A URL for messages: without its query, which may hold a signature.
  function shown(url) {
    const u = new URL(url);
    return `${u.origin}${u.pathname}`;
  }

  // One ranged GET; gives the body's bytes, refusing a response that is not the range asked for.
  async function getRange(url, headers, signal, start, end) {
    const name = shown(url);
    const res = await fetch(url, {
      headers: withRange(headers, start, end),
      signal,
      redirect: 'follow',
    });
    if (res.status === 200) {
      // The whole body is on its way: stop it rather than download it.
      await res.body?.cancel().catch(() => {});
      throw new Error(`${name}: the server ignored the Range header (status 200); a random-access source needs Range support`);
    }
    if (res.status === 416) {
      await res.body?.cancel().catch(() => {});
      return { res, bytes: new Uint8Array(0), range: contentRange(res) };
    }
    if (res.status !== 206) {
      await res.body?.cancel().catch(() => {});
      throw new Error(`${name}: HTTP ${res.status} ${res.statusText} for bytes ${start}-${end}`);
    }
    const range = contentRange(res);
    // Exactly the range asked for, or its part before the end of the object.
    if (!range || range.start !== start
        || range.end !== (range.total === null ? end : Math.min(end, range.total - 1))) {
      await res.body?.cancel().catch(() => {});
      throw new Error(`${name}: the server answered bytes ${start}-${end} with Content-Range ${JSON.stringify(res.headers.get('content-range'))}`);
    }
    const bytes = new Uint8Array(await res.arrayBuffer());
    return { res, bytes, range };
  }

  async function httpSource(url, options) {
    const { headers, signal } = checkHttpOptions(options);
    const href = url instanceof URL ? url.href : url;
    if (typeof href !== 'string' || !/^https?:\/\//i.test(href)) {
      throw new TypeError(`httpSource: url must be an http: or https: URL, got ${show(url)}`);
    }
    const plain = new Headers(headers);
    // The first ranged GET gives the size; its bytes serve the parse's first reads. A GET rather
    // than a HEAD, because a presigned URL is usually signed for GET alone.
    const first = await getRange(href, plain, signal, 0, HTTP_FIRST_BYTES - 1);
    const total = first.range?.total;
    if (total === null || total === undefined) {
      throw new Error(`${shown(href)}: the server did not give the object's size in Content-Range`);
    }
    const head = first.bytes.subarray(0, Math.min(first.bytes.length, total));
    return {
      size: total,
      url: href,
      async read(offset, length) {
        const at = Number(offset);
        if (at + length <= head.length) return head.subarray(at, at + length);
        const { bytes } = await getRange(href, plain, signal, at, at + length - 1);
        return bytes;
      },
    };
  }

  // A stream's bytes as they arrive: in memory up to STREAM_MEMORY_BYTES, in a private
  // temporary file beyond. Blocks of STREAM_BLOCK bytes, whatever the chunks' sizes, so a stream
  // of tiny chunks costs no more memory than its bytes; each block is hashed once, when full.
  class ContentStore {
    constructor(sums) {
      this.sums = sums;
      this.blocks = [];
      this.tail = Buffer.allocUnsafe(STREAM_BLOCK);
      this.fill = 0;
      this.size = 0;
      this.spill = null;
      // Set while a parse reads the stream as it arrives: blocks past the head are then let go
      // once the window has moved beyond them; those before `dropped` are gone.
      this.sliding = false;
      this.dropped = undefined;
    }

    async append(chunk) {
      for (let at = 0; at < chunk.length;) {
        const n = Math.min(STREAM_BLOCK - this.fill, chunk.length - at);
        this.tail.set(chunk.subarray(at, at + n), this.fill);
        this.fill += n;
        at += n;
        if (this.fill === STREAM_BLOCK) await this.seal();
      }
    }

    async seal() {
      const block = this.tail.subarray(0, this.fill);
      if (this.sums) addon.streamSumsUpdate(this.sums, block);
      if (this.sliding) {
        this.blocks.push(block);
        this.tail = Buffer.allocUnsafe(STREAM_BLOCK);
        this.dropped ??= STREAM_HEAD_BYTES / STREAM_BLOCK;
        while (this.dropped < this.blocks.length - STREAM_WINDOW_BYTES / STREAM_BLOCK) {
          this.blocks[this.dropped] = null;
          this.dropped += 1;
        }
        this.size += block.length;
        this.fill = 0;
        return;
      }
      if (!this.spill && this.size + block.length > STREAM_MEMORY_BYTES) await this.startSpill();
      if (this.spill) {
        await this.spill.handle.write(block, 0, block.length, this.size);
      } else {
        this.blocks.push(block);
        this.tail = Buffer.allocUnsafe(STREAM_BLOCK);
      }
      this.size += block.length;
      this.fill = 0;
    }

    async startSpill() {
      const file = path.join(os.tmpdir(), `vorlix-stream-${crypto.randomBytes(12).toString('hex')}`);
      // O_EXCL: never an existing file (or a link planted under the name).
      const handle = await fs.promises.open(file, 'wx+', 0o600);
      this.spill = { file, handle };
      if (this.blocks.length > 0) await handle.writev(this.blocks, 0);
      this.blocks = [];
    }

    async finish() {
      if (this.fill > 0) await this.seal();
    }

    // A random-access source over what was stored.
    source() {
      const { size, blocks, spill } = this;
      if (spill) {
        return {
          size,
          async read(offset, length) {
            const out = Buffer.allocUnsafe(length);
            const { bytesRead } = await spill.handle.read(out, 0, length, offset);
            return out.subarray(0, bytesRead);
          },
        };
      }
      return {
        size,
        blockSize: STREAM_BLOCK,
        read(offset, length) {
          let b = Math.floor(offset / STREAM_BLOCK);
          let skip = offset % STREAM_BLOCK;
          if (skip + length <= blocks[b].length) return blocks[b].subarray(skip, skip + length);
          const out = Buffer.allocUnsafe(length);
          for (let done = 0; done < length; b += 1, skip = 0) {
            const piece = blocks[b].subarray(skip, skip + length - done);
            out.set(piece, done);
            done += piece.length;
          }
          return out;
        },
      };
    }

    get held() {
      return this.size + this.fill;
    }

    // In sliding mode: `length` bytes from `offset`, all arrived; null when a block was let go.
    bytesAt(offset, length) {
      const out = Buffer.allocUnsafe(length);
      for (let done = 0; done < length;) {
        const at = offset + done;
        const b = Math.floor(at / STREAM_BLOCK);
        const block = b < this.blocks.length ? this.blocks[b] : this.tail.subarray(0, this.fill);
        if (!block) return null;
        const piece = block.subarray(at % STREAM_BLOCK, at % STREAM_BLOCK + length - done);
        if (piece.length === 0) return null;
        out.set(piece, done);
        done += piece.length;
      }
      return out;
    }

    async dispose() {
      this.blocks = [];
      if (!this.spill) return;
      const { file, handle } = this.spill;
      await handle.close().catch(() => {});
      await fs.promises.rm(file, { force: true });
    }
  }

  // The chunks of a Node Readable, a web ReadableStream or an async iterable; `leave()` lets
  // go of the input without destroying it.
  function chunkIterator(input) {
    if (input instanceof ReadableStream) {
      const reader = input.getReader();
      return { next: () => reader.read(), leave: () => reader.releaseLock() };
    }
    if (input instanceof Readable || (typeof input?.iterator === 'function' && typeof input.pipe === 'function')) {
      const it = input.iterator({ destroyOnReturn: false });
      return { next: () => it.next(), leave: () => { it.return().catch(() => {}); } };
    }
    if (typeof input?.[Symbol.asyncIterator] === 'function') {
      const it = input[Symbol.asyncIterator]();
      return { next: () => it.next(), leave: () => { Promise.resolve(it.return?.()).catch(() => {}); } };
    }
    throw new TypeError(`parseStream: input must be a Readable, a ReadableStream or an async iterable of Uint8Array, got ${show(input)}`);
  }

  // The length a stream states for itself: an HTTP message's Content-Length.
  function statedLength(input) {
    const headers = input instanceof http.IncomingMessage ? input.headers : null;
    const length = headers?.['content-length'];
    if (typeof length !== 'string' || !/^\d{1,15}$/.test(length) || headers['transfer-encoding'] !== undefined) {
      return undefined;
    }
    return Number(length);
  }

  // parseStream's own option, `size`: taken off before the options every parse shares are checked.
  function splitSize(options) {
    if (options === null || typeof options !== 'object' || !hasOwn(options, 'size')) {
      return { size: undefined, rest: options };
    }
    const { size, ...rest } = options;
    const ok = typeof size === 'bigint'
      ? size >= 0n && size <= BigInt(Number.MAX_SAFE_INTEGER)
      : size === undefined || (Number.isSafeInteger(size) && size >= 0);
    if (!ok) {
      throw new TypeError(`parseStream: options.size must be a non-negative safe integer (number or bigint), got ${show(size)}`);
    }
    return { size: size === undefined ? undefined : Number(size), rest };
  }

  // How a stream that starts with `first` can be parsed as it arrives: 'forward' when every
  // extractor that claims it walks forward (FORWARD_WALKS); when the EXIF reader's walk of PNG or
  // WebP chunks is the one that looks back, a function that makes the ExifWalkTracker that
  // stands in for it; false otherwise.
  function streamPlan(first, native) {
    const names = (native?.extractors ?? addon.extractors).filter((name) => name !== 'file');
    if (names.length === 0) return 'forward';
    const report = addon.parseBytes(first, { __proto__: null, extractors: names, hashes: false });
    const claimers = new Set(Object.keys(report).filter((key) => key !== 'errors'));
    for (const e of own(report, 'errors') ?? []) claimers.add(e.extractor);
    const back = [...claimers].filter((name) => !FORWARD_WALKS.has(name) && !(name === 'exif' && claimers.has('jpeg')));
    if (back.length === 0) return 'forward';
    if (back.length !== 1 || back[0] !== 'exif') return false;
    if (claimers.has('png') && first.subarray(0, PNG_SIGNATURE.length).equals(PNG_SIGNATURE)) {
      return () => new ExifWalkTracker(pngExifWalk, pngStandIn);
    }
    if (claimers.has('riff') && first.toString('latin1', 0, 4) === 'RIFF' && first.toString('latin1', 8, 12) === 'WEBP') {
      return () => new ExifWalkTracker(webpExifWalk, webpStandIn);
    }
    return false;
  }

  // `report` with the EXIF reader's part of a report (`part`, from the PNG that stands in)
  // where a parse of the whole stream would have put it: the namespaces in byte order, the
  // reader's errors after those of the extractors before it, and before the namespaces that
  // could not be converted.
  function withExif(report, part) {
    const conversion = (e) => e.message === 'Failed to convert string into napi value' || e.message.startsWith('nul byte found');
    const errors = [...(own(report, 'errors') ?? [])];
    let at = errors.findIndex(conversion);
    if (at < 0) at = errors.length;
    errors.splice(at, 0, ...(own(part, 'errors') ?? []));
    const entries = Object.entries(report).filter(([key]) => key !== 'errors');
    if (own(part, 'exif') !== undefined) entries.push(['exif', part.exif]);
    if (errors.length > 0) entries.push(['errors', errors]);
    entries.sort(([a], [b]) => (a < b ? -1 : 1));
    const out = {};
    for (const [key, value] of entries) {
      defineProperty(out, key, { __proto__: null, value, writable: true, enumerable: true, configurable: true });
    }
    return out;
  }

  function lengthError(got, stated) {
    return new Error(`parseStream: the stream gave ${got} bytes, not the ${stated} its size states`);
  }

  async function parseStream(input, options) {
    const { size: optionSize, rest } = splitSize(options);
    const { native, signal } = checkOptions('parseStream', rest, true);
    if (signal?.aborted) throw new AbortError(signal);
    const chunks = chunkIterator(input);
    const stated = optionSize ?? statedLength(input);
    const hashes = (native?.hashes ?? true) && (native?.extractors?.includes('file') ?? true);
    const store = new ContentStore(hashes ? addon.streamSums() : undefined);
    let onAbort;
    const aborted = signal && new Promise((_, reject) => {
      onAbort = () => reject(new AbortError(signal));
      signal.addEventListener('abort', onAbort, { once: true });
    });
    aborted?.catch(() => {});
    const next = () => (aborted ? Promise.race([chunks.next(), aborted]) : chunks.next());
    const chunkOf = (step) => {
      if (step.value instanceof Uint8Array) return step.value;
      throw new TypeError(`parseStream: chunks must be Uint8Array, got ${typeof step.value === 'object' ? show(step.value) : typeof step.value}`);
    };
    let reading = true;
    // The next chunk, checked against the stated length; null once the stream has ended.
    const nextChunk = async () => {
      const step = await next();
      if (step.done) {
        reading = false;
        return null;
      }
      const chunk = chunkOf(step);
      if (store.held + chunk.length > stated) throw lengthError(store.held + chunk.length, stated);
      return chunk;
    };
    let plan;
    let tracker = null;
    try {
      let pending = null;
      for (let chunk; (chunk = await nextChunk());) {
        // A stream longer than memory holds, once its head and a window have arrived.
        if (stated > STREAM_MEMORY_BYTES && store.held >= STREAM_BLOCK
            && store.held + chunk.length > STREAM_HEAD_BYTES + STREAM_WINDOW_BYTES
            && (plan ??= streamPlan(store.blocks[0], native))) {
          if (typeof plan === 'function') {
            tracker = plan();
            for (const block of store.blocks) tracker.feed(block);
            tracker.feed(store.tail.subarray(0, store.fill));
            if (tracker.tooLarge) plan = false;
          }
          if (plan) {
            // Known length and forward walks: parse while the rest arrives, without a spill.
            store.sliding = true;
            pending = chunk;
            break;
          }
          tracker = null;
        }
        await store.append(chunk);
      }
      if (!store.sliding) {
        await store.finish();
        if (stated !== undefined && store.size !== stated) throw lengthError(store.size, stated);
        return await runSource('parseStream', store.source(), rest, store.sums);
      }

      // Reads pull the stream only as far as they need: while the parse thinks, the stream waits.
      let failure = null;
      let passed = false;
      const pull = async (until) => {
        while (store.held < until && reading) {
          if (failure) throw failure;
          try {
            const chunk = pending ?? await nextChunk();
            pending = null;
            if (chunk) {
              await store.append(chunk);
              tracker?.feed(chunk);
            }
          } catch (err) {
            failure ??= err;
            throw err;
          }
        }
      };
      const source = {
        size: stated,
        async read(at, length) {
          const offset = Number(at);
          if (offset === stated && length === 0) {
            // The end: every byte through the sums, and the count checked.
            await pull(Infinity);
            await store.finish();
            if (store.held !== stated) {
              failure ??= lengthError(store.held, stated);
              throw failure;
            }
            return new Uint8Array(0);
          }
          await pull(offset + length);
          if (store.held < offset + length) {
            failure ??= lengthError(store.held, stated);
            throw failure;
          }
          const bytes = store.bytesAt(offset, length);
          if (!bytes) {
            passed = true;
            throw new Error('the stream has passed these bytes');
          }
          return bytes;
        },
      };
      // With a tracker, the EXIF reader runs on the file that stands in for the stream, after it.
      const options = tracker
        ? { ...rest, extractors: (native?.extractors ?? addon.extractors).filter((name) => name !== 'exif') }
        : rest;
      let report;
      try {
        report = await runSource('parseStream', source, options, store.sums, hashes);
      } catch (err) {
        throw failure ?? err;
      }
      if (!hashes) await pull(Infinity);
      await store.finish();
      if (failure) throw failure;
      if (store.held !== stated) throw lengthError(store.held, stated);
      if (passed || tracker?.tooLarge) {
        throw new Error('parseStream: a format needed bytes the stream had already passed; parse it from a file or a Buffer');
      }
      if (!tracker) return report;
      return withExif(report, addon.parseBytes(tracker.standIn(), { __proto__: null, extractors: ['exif'], hashes: false }));
    } catch (err) {
      if (reading) chunks.leave();
      throw err;
    } finally {
      if (onAbort) signal.removeEventListener('abort', onAbort);
      await store.dispose();
    }
  }

  return { parseSource, httpSource, parseStream };
};
