'use strict';
// Report conversion: a value that cannot become a JS value costs only its namespace, keys from
// the input become own data properties, and large record lists convert whole.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const path = require('node:path');
const { parseBytes } = require('..');
// Internal test hook; lib/index.js does not export it.
const addon = require('../build-addon/Release/vorlix.node');

const root = path.join(__dirname, '..');

function chunk(type, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(type, 4, 'latin1');
  return Buffer.concat([head, data, Buffer.alloc(4)]); // CRCs are not checked
}

// A 1x1 grey PNG with one tEXt chunk per [keyword, text] pair.
function png(texts) {
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(1, 0);
  ihdr.writeUInt32BE(1, 4);
  ihdr[8] = 8;
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', ihdr),
    ...texts.map(([k, v]) => chunk('tEXt', Buffer.from(`${k}\0${v}`, 'latin1'))),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

// A ZIP holding only a central directory of `names` (stored, empty entries) and its end record.
function zip(names) {
  const local = Buffer.alloc(30);
  local.writeUInt32LE(0x04034b50, 0);
  const records = names.map((name, i) => {
    const r = Buffer.alloc(46 + name.length);
    r.writeUInt32LE(0x02014b50, 0);
    r.writeUInt32LE(i, 20); // compressed size
    r.writeUInt32LE(2 * i, 24); // uncompressed size
    r.writeUInt16LE(name.length, 28);
    r.write(name, 46, 'latin1');
    return r;
  });
  const dir = Buffer.concat(records);
  const end = Buffer.alloc(22);
  end.writeUInt32LE(0x06054b50, 0);
  end.writeUInt16LE(Math.min(names.length, 0xffff), 10);
  end.writeUInt32LE(dir.length, 12);
  end.writeUInt32LE(local.length, 16);
  return Buffer.concat([local, dir, end]);
}

const refused = 'Failed to convert string into napi value';

test('a string the engine refuses costs only its namespace, which is reported in errors', () => {
  // The hook converts like parseBytes but refuses strings longer than the given byte count, as
  // the engine refuses strings beyond its maximum length.
  const long = 'x'.repeat(2000);
  const cases = [
    {
      name: 'png text too long',
      input: png([['Comment', long]]),
      limit: 1000,
      lost: ['png'],
    },
    {
      // The 64-digit SHA-256 is the longest string of the file namespace.
      name: 'file and png both lose a string',
      input: png([['Comment', long]]),
      limit: 63,
      lost: ['file', 'png'],
    },
    {
      name: 'nothing refused',
      input: png([['Comment', long]]),
      limit: 2000,
      lost: [],
    },
    {
      // A 7-byte ELF start: the elf extractor's own error comes first, then the conversion's.
      name: 'an extractor error already in the report',
      input: Buffer.from('7f454c46020101', 'hex'),
      limit: 63,
      lost: ['file'],
      extractorErrors: 1,
    },
  ];
  for (const c of cases) {
    const whole = parseBytes(c.input);
    assert.equal(whole.errors?.length ?? 0, c.extractorErrors ?? 0, c.name);
    const got = addon.__parseBytesWithStringLimit(c.input, c.limit);
    const expected = { ...whole };
    for (const ns of c.lost) delete expected[ns];
    const errors = [...(whole.errors ?? []), ...c.lost.map((ns) => ({ extractor: ns, message: refused }))];
    delete expected.errors;
    if (errors.length) expected.errors = errors;
    assert.deepEqual(got, expected, c.name);
    assert.deepEqual(Object.keys(got), Object.keys(got).sort(), `${c.name}: key order`);
  }
});

test('keys from the input are own data properties of their objects', () => {
  const { png: ns } = parseBytes(png([['__proto__', 'polluted'], ['hasOwnProperty', 'x']]));
  assert.equal(Object.getPrototypeOf(ns.text), Object.prototype);
  assert.deepEqual(Object.keys(ns.text), ['__proto__', 'hasOwnProperty']);
  for (const [key, value] of [['__proto__', 'polluted'], ['hasOwnProperty', 'x']]) {
    assert.deepEqual(Object.getOwnPropertyDescriptor(ns.text, key), {
      value, writable: true, enumerable: true, configurable: true,
    }, key);
  }
  assert.equal({}.polluted, undefined);
});

test('a setter on Object.prototype is not called for a key of the same name', () => {
  const calls = [];
  Object.defineProperty(Object.prototype, 'title', {
    configurable: true,
    set(v) { calls.push(v); },
    get() { return 'from the prototype'; },
  });
  try {
    const { png: ns } = parseBytes(png([['title', 'Sunset'], ['width', 'wide']]));
    assert.deepEqual(calls, []);
    assert.ok(Object.hasOwn(ns.text, 'title'));
    assert.equal(ns.text.title, 'Sunset');
  } finally {
    delete Object.prototype.title;
  }
});

test('a frozen Object.prototype does not drop keys it holds', () => {
  // In a child process: freezing the prototype cannot be undone.
  const script = `
    Object.freeze(Object.prototype);
    const { parseBytes } = require(${JSON.stringify(root)});
    const input = Buffer.from(process.argv[1], 'base64');
    const { png } = parseBytes(input);
    console.log(JSON.stringify({ keys: Object.keys(png.text), own: Object.entries(png.text) }));
  `;
  const input = png([['constructor', 'c'], ['toString', 't'], ['valueOf', 'v']]);
  const r = spawnSync(process.execPath, ['-e', script, input.toString('base64')], {
    encoding: 'utf8',
    env: process.env,
  });
  assert.equal(r.status, 0, r.stderr);
  assert.deepEqual(JSON.parse(r.stdout), {
    keys: ['constructor', 'toString', 'valueOf'],
    own: [['constructor', 'c'], ['toString', 't'], ['valueOf', 'v']],
  });
});

test('every record of a long list converts, sharing key names across records', () => {
  // More records than one handle-scope block holds, each a separate object with its own values.
  const names = Array.from({ length: 5000 }, (_, i) => `d${i % 7}/f${i}.txt`);
  const { zip: ns } = parseBytes(zip(names));
  assert.equal(ns.entries.length, names.length);
  ns.entries.forEach((e, i) => {
    assert.deepEqual(Object.keys(e), ['compressed', 'method', 'modified', 'name', 'uncompressed']);
    assert.equal(e.name, names[i]);
    assert.equal(e.compressed, i);
    assert.equal(e.uncompressed, 2 * i);
  });
  assert.notEqual(ns.entries[0], ns.entries[1]);
});
