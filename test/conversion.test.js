'use strict';
// Report conversion: a value that cannot become a JS value costs only its namespace, keys from
// the input become own data properties, and large record lists convert whole.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { parseBytes } = require('..');
const { addon, skipWithoutHooks: skip } = require('../test-support/hooks.js');

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

// Deterministic pseudo-random 32-bit numbers.
function xorshift(seed) {
  let x = seed;
  return () => {
    x ^= x << 13;
    x ^= x >>> 17;
    x ^= x << 5;
    return x >>> 0;
  };
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

test('a string the engine refuses costs only its namespace, which is reported in errors', { skip }, () => {
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

// A key set of short keys, and one with a key long enough to travel beside its value.
const keySets = [{ name: 'small key set', pad: [] }, { name: 'large key set', pad: [['\xff'.repeat(5000), 'pad']] }];

test('keys from the input are own data properties of their objects', () => {
  for (const { name, pad } of keySets) {
    const { png: ns } = parseBytes(png([['__proto__', 'polluted'], ['hasOwnProperty', 'x'], ...pad]));
    assert.equal(Object.getPrototypeOf(ns.text), Object.prototype, name);
    assert.deepEqual(Object.keys(ns.text), ['__proto__', 'hasOwnProperty', ...pad.map(() => '\ufffd'.repeat(5000))], name);
    for (const [key, value] of [['__proto__', 'polluted'], ['hasOwnProperty', 'x']]) {
      assert.deepEqual(Object.getOwnPropertyDescriptor(ns.text, key), {
        value, writable: true, enumerable: true, configurable: true,
      }, `${name}: ${key}`);
    }
    assert.equal({}.polluted, undefined, name);
  }
});

test('a setter on Object.prototype is not called for a key of the same name', () => {
  const calls = [];
  Object.defineProperty(Object.prototype, 'title', {
    configurable: true,
    set(v) { calls.push(v); },
    get() { return 'from the prototype'; },
  });
  try {
    for (const { name, pad } of keySets) {
      const { png: ns } = parseBytes(png([['title', 'Sunset'], ['width', 'wide'], ...pad]));
      assert.deepEqual(calls, [], name);
      assert.ok(Object.hasOwn(ns.text, 'title'), name);
      assert.equal(ns.text.title, 'Sunset', name);
    }
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

test('repeated texts of a list reuse strings without mixing them up', { skip }, () => {
  // Names that repeat in cycles shorter than, as long as and longer than the 64 strings a
  // column keeps (it starts over when full), then never (the column stops looking), then in a
  // short cycle again.
  const cycle = (length, period, name) => Array.from({ length }, (_, i) => `${name}-${i % period}`);
  const names = [
    ...cycle(600, 5, 'short-cycle'),
    ...cycle(600, 40, 'long-cycle-name'),
    ...cycle(300, 64, 'as-many-as-kept'),
    ...cycle(400, 65, 'one-more-than-kept'),
    ...cycle(300, 150, 'far-more-than-kept'),
    ...cycle(300, 40, 'long-cycle-name'),
    ...cycle(600, 1e9, 'unique-name-number'),
    ...cycle(600, 3, 'again'),
  ];
  // And random draws from pools of 2 to 200 texts of equal and of differing lengths, short
  // and long, so that the column's index collides, fills and starts over at random.
  const next = xorshift(0x2545f491);
  const drawn = [];
  for (const pool of [2, 30, 63, 64, 65, 90, 200]) {
    const texts = Array.from({ length: pool }, (_, i) => (i % 2 ? `p${pool}-${i}` : `pool-${pool}-text-${String(i).padStart(4, '0')}`));
    for (let i = 0; i < 400; i++) drawn.push(texts[next() % pool]);
  }
  for (const list of [names, drawn]) {
    for (const units of [1 << 20, 64]) {
      const { zip: ns } = addon.__parseBytesInTextChunks(zip(list), units);
      assert.deepEqual(ns.entries.map((e) => e.name), list, `chunks of ${units}`);
    }
  }
});

test('any bytes reach JS as Node decodes them as UTF-8, across text chunk edges', { skip }, () => {
  // Ill-formed sequences become one U+FFFD per maximal subpart; 4-byte characters take two
  // UTF-16 units, which every later offset must count.
  const hex = [
    '616263', 'c3a941', 'e282', 'f09f8eb542', 'eda080', 'c080', 'f4908080', 'ff', 'e0a0',
    'f09f', 'c3', '80bf', 'efbbbf', 'f0908080', '', 'e282ac', '7a',
  ];
  // Plus deterministic random byte strings, half of them mostly ASCII.
  const next = xorshift(0x9e3779b9);
  const pieces = hex.map((h) => Buffer.from(h, 'hex'));
  for (let i = 0; i < 200; i++) {
    const b = Buffer.alloc(next() % 12);
    for (let j = 0; j < b.length; j++) b[j] = i % 2 ? next() % 0x80 : next() % 0x100;
    pieces.push(b.map((v) => v || 1));
  }
  const input = Buffer.concat(pieces.flatMap((p, i) => (i ? [Buffer.from([0]), p] : [p])));
  const expected = pieces.map((p) => p.toString('utf8'));
  for (const units of [1, 2, 3, 7, 1 << 20]) {
    assert.deepEqual(addon.__convertTexts(input, units), { t: { texts: expected } }, `chunks of ${units}`);
  }
});

test('numbers reach JS exactly, those that travel as small integers and the others', { skip }, () => {
  const numbers = [0, -0, 1, -1, 7.5, 2 ** 31 - 1, 2 ** 31, -(2 ** 31), -(2 ** 31) - 1, 2 ** 53, -1e-300, 1e300, NaN, Infinity];
  const got = addon.__convertNumbers(Buffer.from(new Float64Array(numbers).buffer), 0).t.numbers;
  // Not finite: null, as in JSON.
  assert.deepEqual(got, numbers.map((n) => (Number.isFinite(n) ? n : null)));
  assert.ok(Object.is(got[1], -0));
});

test('reports are the same whatever the size of the text chunks', { skip }, () => {
  const names = Array.from({ length: 300 }, (_, i) => `dir${i % 5}/file-${i}-${'x'.repeat(i % 40)}.txt`);
  const inputs = [
    zip(names),
    png([['Comment', 'caf\xe9 au lait'], ['Title', 'x'.repeat(100)], ['Author', '\xff\xfe']]),
  ];
  for (const input of inputs) {
    const whole = parseBytes(input);
    for (const units of [1, 16, 50, 4096]) {
      assert.deepEqual(addon.__parseBytesInTextChunks(input, units), whole, `chunks of ${units}`);
    }
  }
});

test('key sets: seen once, seen again, too many to keep, and too large to share', () => {
  // A key set is defined property by property at first, compiled after; more than the addon
  // keeps makes it start over; a large one is described afresh in each report.
  const texts = (keys) => keys.map((k) => [k, `v-${k}`]);
  const expectText = (keys) => Object.fromEntries(texts(keys));
  const check = (keys, what) => {
    const { png: ns } = parseBytes(png(texts(keys)));
    assert.deepEqual(ns.text, expectText(keys), what);
    assert.deepEqual(Object.keys(ns.text), keys, `${what}: key order`);
  };
  const common = ['Author', 'Comment', 'Title'];
  for (let round = 0; round < 3; round++) check(common, `common set, round ${round}`);
  for (let i = 0; i < 2500; i++) {
    check([`k${String(i).padStart(4, '0')}`, 'zz'], `distinct set ${i}`);
    if (i % 500 === 0) check(common, `common set after ${i} others`);
  }
  const many = Array.from({ length: 300 }, (_, i) => `keyword-${String(i).padStart(3, '0')}-${'q'.repeat(i % 30)}`);
  for (let round = 0; round < 3; round++) check(many, `300 long keys, round ${round}`);
  const hundred = many.slice(0, 100);
  for (let round = 0; round < 3; round++) check(hundred, `100 keys, round ${round}`);
  // More key bytes than one key text carries (16 MiB): the keys travel beside their values.
  check(Array.from({ length: 17000 }, (_, i) => `${String(i).padStart(6, '0')}${'x'.repeat(994)}`), '17 MB of keys');
});

test('namespaces after "errors" keep their places around the errors list', () => {
  // A JPEG cut inside its EXIF segment: errors from the EXIF reader, namespaces on both sides.
  const sample = fs.readFileSync(path.join(root, 'examples', 'sample.jpg'));
  let withErrors = 0;
  for (let cut = 40; cut < 120; cut += 7) {
    const report = parseBytes(sample.subarray(0, cut));
    const keys = Object.keys(report);
    assert.deepEqual(keys, [...keys].sort(), `cut at ${cut}`);
    if (report.errors) {
      withErrors++;
      assert.ok(keys.some((k) => k > 'errors'), `cut at ${cut}: a namespace sorts after errors`);
      for (const e of report.errors) assert.deepEqual(Object.keys(e), ['extractor', 'message']);
    }
  }
  assert.ok(withErrors > 0);
});

// Runs `script` in a child node with `flags`; returns its stdout parsed as JSON.
function child(flags, script, input) {
  const r = spawnSync(process.execPath, [...flags, '-e', script, input.toString('base64')], {
    encoding: 'utf8',
    env: process.env,
  });
  assert.equal(r.status, 0, r.stderr);
  return JSON.parse(r.stdout);
}

test('index setters on Array.prototype are not called and do not change lists', () => {
  // Setters at the first indices and past the decoder's blank stack (4,096 entries); a long
  // list, and one where the host made arrays unspreadable, build their stack another way.
  const script = `
    const { parseBytes } = require(${JSON.stringify(root)});
    const [input, spread] = [require('node:fs').readFileSync(0), process.argv[1]];
    if (spread === 'off') Array.prototype[Symbol.isConcatSpreadable] = false;
    let calls = 0;
    const at = [0, 1, 2, 3, 4096, 4097, 5000, 6001];
    for (const i of at) Object.defineProperty(Array.prototype, i, { set(v) { calls++; }, configurable: true });
    const { zip } = parseBytes(input);
    for (const i of at) delete Array.prototype[i];
    console.log(JSON.stringify({ calls, names: zip.entries.map((e) => e.name), own: Object.hasOwn(zip.entries, 0) }));
  `;
  const long = Array.from({ length: 6000 }, (_, i) => `n${i}`);
  for (const [names, spread] of [[['a.txt', 'b/c.txt', 'd.bin'], 'on'], [long, 'on'], [long, 'off']]) {
    const r = spawnSync(process.execPath, ['-e', script, spread], { input: zip(names), encoding: 'utf8' });
    assert.equal(r.status, 0, r.stderr);
    assert.deepEqual(JSON.parse(r.stdout), { calls: 0, names, own: true }, `${names.length} names, spread ${spread}`);
  }
});

test('reports are the same where code generation from strings is disallowed, and in a worker', () => {
  const input = png([['Title', 'A'], ['Comment', 'B']]);
  const script = `
    const { parseBytes } = require(${JSON.stringify(root)});
    const input = Buffer.from(process.argv[1], 'base64');
    const reports = [1, 2, 3].map(() => parseBytes(input));
    console.log(JSON.stringify(reports));
  `;
  const expected = JSON.parse(JSON.stringify([1, 2, 3].map(() => parseBytes(input))));
  assert.deepEqual(child(['--disallow-code-generation-from-strings'], script, input), expected);
  const inWorker = `
    const { Worker } = require('node:worker_threads');
    const w = new Worker(${JSON.stringify(script)}.replace('process.argv[1]', 'require("node:worker_threads").workerData'),
      { eval: true, workerData: process.argv[1], stdout: true });
    let out = '';
    w.stdout.on('data', (d) => { out += d; });
    w.on('exit', () => process.stdout.write(out));
  `;
  assert.deepEqual(child([], inWorker, input), expected);
});

test('a string kept from a report keeps nothing else of the report alive', () => {
  // About 3-4 MB of names behind one kept name, whether the names are long or short.
  const script = `
    const { parseBytes } = require(${JSON.stringify(root)});
    const input = require('node:fs').readFileSync(process.argv[1]);
    const heap = () => { gc(); gc(); return process.memoryUsage().heapUsed; };
    const keepOne = () => parseBytes(input).zip.entries[1234].name;
    for (let i = 0; i < 3; i++) keepOne();
    const before = heap();
    const kept = keepOne();
    console.log(JSON.stringify({ grew: heap() - before, length: kept.length }));
  `;
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlix-keep-'));
  try {
    for (const { count, length } of [{ count: 16000, length: 250 }, { count: 240000, length: 12 }]) {
      const names = Array.from({ length: count }, (_, i) => String(i).padStart(length, 'n'));
      const file = path.join(dir, `names-${length}.zip`);
      fs.writeFileSync(file, zip(names));
      const r = spawnSync(process.execPath, ['--expose-gc', '-e', script, file], { encoding: 'utf8' });
      assert.equal(r.status, 0, r.stderr);
      const { grew, length: got } = JSON.parse(r.stdout);
      assert.equal(got, length);
      assert.ok(grew < 1000000, `names of ${length}: the heap kept ${grew} bytes`);
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test('host code run during a conversion cannot change that report or another', () => {
  // Each hook calls parseBytes (and the chunked variant) again from inside whatever conversion
  // reaches it; the inner reports carry key sets never seen before. Outer and inner reports
  // must equal those made without hooks.
  const hooks = {
    'Array[Symbol.species]': `Object.defineProperty(Array, Symbol.species, { get() { nested(); return Array; } });`,
    'Array.prototype.constructor': `Object.defineProperty(Array.prototype, 'constructor', { get() { nested(); return Array; } });`,
    'Array.prototype[Symbol.isConcatSpreadable]': `Object.defineProperty(Array.prototype, Symbol.isConcatSpreadable, { get() { nested(); return true; } });`,
    'index accessors on Array.prototype': `for (const i of [0, 1, 2, 5, 4096, 4097]) Object.defineProperty(Array.prototype, i, { get() { nested(); }, set() { nested(); } });`,
    'index accessors on Object.prototype': `for (const i of [0, 1, 2, 5, 4096, 4097]) Object.defineProperty(Object.prototype, i, { get() { nested(); }, set() { nested(); } });`,
    'length and Symbol.iterator on Object.prototype': `Object.defineProperty(Object.prototype, 'length', { get() { nested(); return 3; } });
      Object.defineProperty(Object.prototype, Symbol.iterator, { get() { nested(); return undefined; } });`,
  };
  const script = `
    const crypto = require('node:crypto');
    const { parseBytes } = require(${JSON.stringify(root)});
    const addon = require(${JSON.stringify(path.join(root, 'lib', 'loader.js'))}).loadAddon();
    const { inputs, png } = JSON.parse(require('node:fs').readFileSync(0, 'utf8'));
    const outer = inputs.map((b) => Buffer.from(b, 'base64'));
    const convert = [(b) => parseBytes(b)];
    if (addon.__parseBytesInTextChunks) convert.push((b) => addon.__parseBytesInTextChunks(b, 64));
    const expected = outer.map((b) => JSON.stringify(parseBytes(b)));
    // PNGs whose text keys are new on every nested call, made before the hooks are in place.
    const head = Buffer.from(png.head, 'base64');
    const innerInputs = new Map();
    for (let n = 0; n < 40; n++) {
      const text = Object.fromEntries([0, 1, 2].map((i) => [\`key\${n}x\${i}\`, \`the value \${n}.\${i} \${'v'.repeat(i * 20)}\`]));
      const chunks = Object.entries(text).map(([k, v]) => {
        const d = Buffer.from(k + '\\0' + v, 'latin1');
        const c = Buffer.alloc(12 + d.length);
        c.writeUInt32BE(d.length);
        c.write('tEXt', 4, 'latin1');
        d.copy(c, 8);
        return c;
      });
      innerInputs.set(n, { text, input: Buffer.concat([head, ...chunks]) });
    }
    // Results go into Maps, which no hook on the prototypes reaches, and are compared once the
    // hooks are taken down.
    const inner = new Map();
    let made = 0;
    let depth = 0;
    globalThis.nested = () => {
      if (depth > 0 || made === innerInputs.size) return;
      depth++;
      const n = made++;
      const { input } = innerInputs.get(n);
      inner.set(n, convert.map((f) => f(input)));
      depth--;
    };
    const keys = [[Array, Symbol.species], [Array.prototype, 'constructor'], [Object.prototype, 'length'],
      [Array.prototype, Symbol.isConcatSpreadable], [Object.prototype, Symbol.iterator],
      ...[Array.prototype, Object.prototype].flatMap((o) => [0, 1, 2, 5, 4096, 4097].map((i) => [o, String(i)]))];
    const saved = keys.map(([o, k]) => Object.getOwnPropertyDescriptor(o, k));
    ${'${HOOK}'}
    const got = new Map();
    for (let round = 0; round < 3; round++) {
      outer.forEach((b, i) => convert.forEach((f, j) => got.set(\`\${round} \${i} \${j}\`, [i, f(b)])));
    }
    keys.forEach(([o, k], i) => (saved[i] ? Object.defineProperty(o, k, saved[i]) : delete o[k]));
    const mismatches = [];
    for (const [at, [i, r]] of got) {
      if (JSON.stringify(r) !== expected[i]) mismatches.push(['outer', at, JSON.stringify(r).slice(0, 300)]);
    }
    for (const [n, reports] of inner) {
      const { text, input } = innerInputs.get(n);
      for (const r of reports) {
        if (JSON.stringify(r.png.text) !== JSON.stringify(text) ||
            r.file.sha256 !== crypto.createHash('sha256').update(input).digest('hex')) {
          mismatches.push(['inner', n, JSON.stringify(r).slice(0, 300)]);
        }
      }
    }
    require('node:fs').writeSync(1, JSON.stringify([made > 0 ? 'the hooks ran' : 'no hook ran', ...mismatches]));
  `;
  const sample = fs.readFileSync(path.join(root, 'examples', 'sample.jpg'));
  const long = Array.from({ length: 5000 }, (_, i) => `dir/name-${i}`);
  const input = JSON.stringify({
    inputs: [sample, zip(long), png([['Title', 'A title long enough'], ['Author', 'x']])].map((b) => b.toString('base64')),
    png: { head: png([]).subarray(0, -12).toString('base64') },
  });
  for (const [name, hook] of Object.entries(hooks)) {
    const r = spawnSync(process.execPath, ['-e', script.replace('${HOOK}', hook)], { input, encoding: 'utf8' });
    assert.equal(r.status, 0, `${name}: ${r.stderr}`);
    assert.match(r.stdout, /^\[/, name);
    assert.deepEqual(JSON.parse(r.stdout).slice(1), [], `${name}: ${r.stdout}`);
  }
});

test('the decoder reads every op code and header field as the flattener writes them', () => {
  // Both sides name the same things (KeepText as KEEP_TEXT, HeaderField::StackDepth as
  // HEADER_STACK_DEPTH, kKeySetFields as HEADER_KEY_SET_FIELDS) by the same numbers.
  const written = fs.readFileSync(path.join(root, 'node', 'src', 'report_tape.hpp'), 'utf8');
  const decoder = fs.readFileSync(path.join(root, 'node', 'src', 'decode_report.js'), 'utf8');
  const named = (pairs, prefix = '') => Object.fromEntries([...pairs].map(([, name, code]) =>
    [prefix + name.replace(/([a-z])([A-Z])/g, '$1_$2').toUpperCase(), Number(code)]));
  const cEnum = (name) => named(new RegExp(`enum class ${name} : int32_t \\{([^}]*)\\}`).exec(written)[1]
    .matchAll(/^\s*(\w+) = (\d+),/gm), name === 'Op' ? '' : 'HEADER_');
  const keySetFields = Number(/inline constexpr int32_t kKeySetFields = (\d+);/.exec(written)[1]);
  const read = named(decoder.matchAll(/^\s*const ([A-Z_]+) = (\d+);$/gm));
  const ops = cEnum('Op');
  const header = { ...cEnum('HeaderField'), HEADER_KEY_SET_FIELDS: keySetFields };
  assert.ok(Object.keys(ops).length >= 16 && Object.keys(header).length >= 6);
  assert.deepEqual(read, { ...header, ...ops });
});
