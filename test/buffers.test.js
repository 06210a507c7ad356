'use strict';
// Caller-owned memory: whatever the caller does to a Buffer's memory while its parse is under way
// (transfer and collect it, shrink it, write it from another thread), the addon never reads
// memory it does not own, and the report describes the bytes as they were at the call.
const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const { parseBytes, parseBytesAsync } = require('..');

require('node:v8').setFlagsFromString('--expose-gc');
const gc = require('node:vm').runInNewContext('gc');

const kSize = 24 * 1024 * 1024;

// Frees what a detach released and fills the freed memory with other bytes.
async function churn() {
  for (let i = 0; i < 4; i++) {
    gc();
    Buffer.alloc(kSize, 0xaa);
    await new Promise((resolve) => setImmediate(resolve));
  }
}

// Random bytes behind a view made by `make(backing)`, the report they must give, and the view.
function prepared(backing, make) {
  const view = make(backing);
  crypto.randomFillSync(new Uint8Array(backing));
  const copy = Buffer.from(new Uint8Array(backing, view.byteOffset, view.byteLength));
  return { view, expected: parseBytes(copy) };
}

const whole = (b) => Buffer.from(b);
const middle = (b) => new Uint8Array(b, 4096, kSize - 8192);
const dataView = (b) => new DataView(b, 100, kSize - 200);

test('a Buffer whose memory is detached, shrunk or shared during the parse', async (t) => {
  const cases = [
    ['transferred then collected', () => new ArrayBuffer(kSize), whole,
      (b) => structuredClone(b, { transfer: [b] })],
    ['a view transferred then collected', () => new ArrayBuffer(kSize), middle,
      (b) => structuredClone(b, { transfer: [b] })],
    ['a DataView transferred then collected', () => new ArrayBuffer(kSize), dataView,
      (b) => structuredClone(b, { transfer: [b] })],
    ['posted to a port that drops it', () => new ArrayBuffer(kSize), whole, (b) => {
      const { port1, port2 } = new MessageChannel();
      port1.postMessage(b, [b]);
      port1.close();
      port2.close();
    }],
    ['resizable, shrunk to nothing', () => new ArrayBuffer(kSize, { maxByteLength: kSize }), whole,
      (b) => b.resize(0)],
    ['resizable view, shrunk below its end', () => new ArrayBuffer(kSize, { maxByteLength: kSize }),
      middle, (b) => b.resize(8192)],
    ['shared, overwritten', () => new SharedArrayBuffer(kSize), whole,
      (b) => new Uint8Array(b).fill(0x55)],
  ];
  for (const [name, make, view, disturb] of cases) {
    await t.test(name, async () => {
      const backing = make();
      const { view: bytes, expected } = prepared(backing, view);
      const pending = parseBytesAsync(bytes);
      // Whatever the runtime allows: where a transfer is refused, the memory was pinned.
      try {
        disturb(backing);
      } catch (e) {
        assert.equal(e.name, 'DataCloneError');
      }
      await churn();
      assert.deepEqual(await pending, expected);
    });
  }
});

test('a getter that detaches the Buffer while its options are read', async (t) => {
  const addon = require('../lib/loader.js').loadAddon();
  const empty = parseBytes(Buffer.alloc(0));
  const detaching = (backing) => () => {
    structuredClone(backing, { transfer: [backing] });
    gc();
    Buffer.alloc(kSize, 0xaa);
    return undefined;
  };
  // The addon takes the bytes after the options, the JS layer after the caller's getters ran:
  // each parse sees the detached, empty Buffer, never the freed memory.
  const cases = [
    ['own getter, read by the addon', (bytes, get) => addon.parseBytes(bytes, { get hashes() { return get() ?? true; } })],
    ['inherited getter, parseBytes', (bytes) => parseBytes(bytes, {})],
    ['inherited getter, parseBytesAsync', (bytes) => parseBytesAsync(bytes, {})],
  ];
  for (const [name, call] of cases) {
    await t.test(name, async () => {
      const backing = new ArrayBuffer(kSize);
      const { view: bytes } = prepared(backing, whole);
      const get = detaching(backing);
      Object.defineProperty(Object.prototype, 'hashes', { configurable: true, get });
      try {
        assert.deepEqual(await call(bytes, get), empty);
      } finally {
        delete Object.prototype.hashes;
      }
    });
  }
});
