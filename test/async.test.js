'use strict';
// parseAsync and parseBytesAsync: the same reports and errors as their synchronous twins,
// rejections instead of throws, and cancellation through an AbortSignal.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { getEventListeners } = require('node:events');
const { parse, parseBytes, parseAsync, parseBytesAsync } = require('..');

// Every sample file under test/fixtures plus the bundled example.
function samples() {
  const out = [path.join(__dirname, '..', 'examples', 'sample.jpg')];
  const walk = (dir) => {
    for (const e of fs.readdirSync(dir, { withFileTypes: true })) {
      const p = path.join(dir, e.name);
      if (e.isDirectory()) walk(p);
      else out.push(p);
    }
  };
  walk(path.join(__dirname, 'fixtures'));
  return out;
}

// Bytes this process has read through read(2) and friends so far.
function bytesRead() {
  const m = /^rchar: (\d+)$/m.exec(fs.readFileSync('/proc/self/io', 'utf8'));
  return Number(m[1]);
}

// A sparse file of `size` bytes: costs no disk, reads as zeros.
function sparseFile(t, size) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlix-async-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const file = path.join(dir, 'sparse.bin');
  fs.closeSync(fs.openSync(file, 'w'));
  fs.truncateSync(file, size);
  return file;
}

function settle(promise) {
  return promise.then((value) => ({ value }), (error) => ({ error }));
}

test('async reports equal the synchronous ones on every sample, all in flight at once', async () => {
  const files = samples();
  assert.ok(files.length > 20);
  const [byPath, byBytes] = await Promise.all([
    Promise.all(files.map((f) => parseAsync(f))),
    Promise.all(files.map((f) => parseBytesAsync(fs.readFileSync(f)))),
  ]);
  files.forEach((f, i) => {
    assert.deepEqual(byPath[i], parse(f), f);
    assert.deepEqual(byBytes[i], parseBytes(fs.readFileSync(f)), f);
  });
  // Property order too: deepEqual ignores it.
  assert.deepEqual(Object.keys(byPath[0].file), Object.keys(parse(files[0]).file));
});

test('rejections carry the message and code of the synchronous throws', async (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlix-async-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const fifo = path.join(dir, 'fifo');
  require('node:child_process').execFileSync('mkfifo', [fifo]);
  const cases = [
    [parse, parseAsync, []],
    [parse, parseAsync, [42]],
    [parse, parseAsync, [{ a: 1 }]],
    [parse, parseAsync, [path.join(dir, 'missing.jpg')]],
    [parse, parseAsync, [fifo]],
    [parse, parseAsync, ['a\0b']],
    [parse, parseAsync, [Buffer.from('a\0b')]],
    [parse, parseAsync, [new URL('http://example.com/')]],
    [parse, parseAsync, ['x', { extractors: ['nope'] }]],
    [parseBytes, parseBytesAsync, [42]],
    [parseBytes, parseBytesAsync, [{}]],
    [parseBytes, parseBytesAsync, ['text']],
    [parseBytes, parseBytesAsync, [Buffer.from('x'), { hashes: 'no' }]],
  ];
  for (const [sync, async, args] of cases) {
    let thrown;
    assert.throws(() => sync(...args), (err) => {
      thrown = err;
      return true;
    });
    let promise;
    assert.doesNotThrow(() => {
      promise = async(...args);
    }, `${async.name} does not throw`);
    const { error } = await settle(promise);
    assert.ok(error, `${async.name}(${args.map(String)}) rejects`);
    assert.equal(error.constructor, thrown.constructor);
    assert.equal(error.code, thrown.code);
    // Option errors name the function that was called.
    assert.equal(error.message, thrown.message.replace(`${sync.name}:`, `${async.name}:`));
  }
});

test('a signal aborted before the call rejects at once with an AbortError', async () => {
  const reason = new Error('gave up');
  for (const [fn, input] of [
    [parseAsync, path.join(__dirname, '..', 'examples', 'sample.jpg')],
    [parseBytesAsync, Buffer.from('GIF89a')],
  ]) {
    const signal = AbortSignal.abort(reason);
    const { error } = await settle(fn(input, { signal }));
    assert.equal(error.name, 'AbortError');
    assert.equal(error.code, 'ABORT_ERR');
    assert.equal(error.message, 'The operation was aborted');
    assert.equal(error.cause, reason);
    assert.deepEqual(getEventListeners(signal, 'abort'), []);
  }
});

test('aborting during a parse of a large file stops the core early', async (t) => {
  const size = 2 * 1024 ** 3;
  const file = sparseFile(t, size);
  for (let round = 0; round < 2; round++) {
    const controller = new AbortController();
    const before = bytesRead();
    const pending = settle(parseAsync(file, { signal: controller.signal }));
    setTimeout(() => controller.abort(), 30);
    const { error, value } = await pending;
    assert.equal(value, undefined);
    assert.equal(error.name, 'AbortError');
    assert.equal(error.code, 'ABORT_ERR');
    // Without cancellation the whole 2 GiB would have been read.
    assert.ok(bytesRead() - before < size / 4, `read ${bytesRead() - before} bytes`);
    assert.deepEqual(getEventListeners(controller.signal, 'abort'), []);
  }
  // The pool threads are free again.
  const r = await parseAsync(file, { hashes: false });
  assert.equal(r.file.size_bytes, size);
});

test('a signal that never fires changes nothing, and its listener goes on settling', async () => {
  const controller = new AbortController();
  const file = path.join(__dirname, '..', 'examples', 'sample.jpg');
  const report = await parseAsync(file, { signal: controller.signal });
  assert.deepEqual(report, parse(file));
  assert.deepEqual(getEventListeners(controller.signal, 'abort'), []);
  const { error } = await settle(parseAsync(path.join(file, 'missing'), { signal: controller.signal }));
  assert.equal(error.code, 'GenericFailure');
  assert.deepEqual(getEventListeners(controller.signal, 'abort'), []);
  controller.abort();
});

test('the Buffer is read in place and kept alive until the parse settles', async () => {
  // A Uint8Array view into a larger ArrayBuffer: only the view's bytes are parsed.
  const backing = new ArrayBuffer(64);
  const view = new Uint8Array(backing, 8, 6);
  view.set(Buffer.from('GIF89a'));
  const promise = parseBytesAsync(view);
  const report = await promise;
  assert.deepEqual(report, parseBytes(Buffer.from('GIF89a')));
  assert.equal(report.file.size_bytes, 6);
});

test('a Buffer dropped by the caller stays alive until its parse settles', async () => {
  require('node:v8').setFlagsFromString('--expose-gc');
  const gc = require('node:vm').runInNewContext('gc');
  const crypto = require('node:crypto');
  let expected;
  // The only reference to the bytes is the one the pending parse holds.
  const pending = (() => {
    const bytes = crypto.randomBytes(32 * 1024 * 1024);
    expected = crypto.createHash('sha256').update(bytes).digest('hex');
    return parseBytesAsync(bytes);
  })();
  for (let i = 0; i < 5; i++) {
    gc();
    Buffer.alloc(32 * 1024 * 1024, 0xaa); // would reuse freed memory
    await new Promise((resolve) => setImmediate(resolve));
  }
  const report = await pending;
  assert.equal(report.file.sha256, expected);
});

const addon = require('../lib/loader.js').loadAddon();
const sample = path.join(__dirname, '..', 'examples', 'sample.jpg');

function throwsAll(cases) {
  for (const [call, code, message] of cases) {
    assert.throws(call, (err) => err.code === code && err.message === message, message);
  }
}

test('the addon itself refuses malformed calls with errors, never a crash', () => {
  throwsAll([
    [() => addon.cancel(), 'InvalidArg', 'Expected a cancel token'],
    [() => addon.cancel({}), 'InvalidArg', 'Expected a cancel token'],
    [() => addon.cancel(42), 'InvalidArg', 'Expected a cancel token'],
    [() => addon.parseAsync(sample), 'FunctionExpected', 'Expected a completion callback'],
    [() => addon.parseBytesAsync(Buffer.from('x'), undefined, 'cb'), 'FunctionExpected', 'Expected a completion callback'],
  ]);
  // A token from a settled parse is still accepted and changes nothing.
  return new Promise((resolve) => {
    const token = addon.parseBytesAsync(Buffer.from('GIF89a'), undefined, (err, report, cancelled) => {
      assert.equal(err, undefined);
      assert.equal(cancelled, false);
      assert.equal(report.file.size_bytes, 6);
      addon.cancel(token);
      resolve();
    });
  });
});

// lib/index.js alone checks options; a debug build asserts that it did (cmake-js puts such a
// build in a Debug folder, loaded through VORLIX_ADDON), so there these calls abort by design.
const debugBuild = /[\\/]Debug[\\/][^\\/]+\.node$/.test(process.env.VORLIX_ADDON ?? '');
test('odd options handed to the addon directly end in the failed read, never a crash', {
  skip: debugBuild && 'a debug build asserts the options lib/index.js checks',
}, () => {
  throwsAll([
    [() => addon.parse(sample, { extractors: 'file' }), 'ArrayExpected', 'Failed to read options.extractors'],
    [() => addon.parseBytes(Buffer.from('x'), { extractors: [1] }), 'StringExpected', 'Failed to read options.extractors'],
    [() => addon.parseAsync(sample, { hashes: 1 }, () => {}), 'BooleanExpected', 'Failed to read options.hashes'],
  ]);
  // Reading a property of null throws the engine's own TypeError.
  assert.throws(() => addon.parse(sample, null), TypeError);
});
