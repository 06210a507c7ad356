'use strict';
// The vorlix command: JSON for one file, NDJSON for several, flags, exact BigInts, exit codes.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { parse } = require('..');

const bin = path.join(__dirname, '..', 'bin', 'vorlix.js');
const sample = path.join(__dirname, '..', 'examples', 'sample.jpg');
const fixtures = path.join(__dirname, 'fixtures');

function vorlix(...args) {
  const r = spawnSync(process.execPath, [bin, ...args], { encoding: 'utf8' });
  return { status: r.status, stdout: r.stdout, stderr: r.stderr };
}

function ndjson(text) {
  assert.ok(text.endsWith('\n'));
  return text.slice(0, -1).split('\n').map((line) => JSON.parse(line));
}

function tmpdir(t) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlix-cli-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

// ftyp, then a version-1 movie header whose duration needs more than 53 bits.
function mp4WithHugeDuration() {
  const ftyp = Buffer.from([0, 0, 0, 16, ...Buffer.from('ftypisom'), 0, 0, 0, 0]);
  const mvhd = Buffer.alloc(40);
  mvhd.writeUInt32BE(40, 0);
  mvhd.write('mvhd', 4);
  mvhd[8] = 1; // version 1: 64-bit times
  mvhd.writeUInt32BE(1000, 28); // timescale
  mvhd.writeBigUInt64BE(2n ** 60n + 1n, 32); // duration
  return Buffer.concat([ftyp, mvhd]);
}

test('one file prints its report as indented JSON', () => {
  const r = vorlix(sample);
  assert.equal(r.status, 0);
  assert.equal(r.stderr, '');
  assert.equal(r.stdout, `${JSON.stringify(parse(sample), null, 2)}\n`);
});

test('several paths print NDJSON in argument order; an unreadable one makes the status 1', (t) => {
  const missing = path.join(tmpdir(t), 'missing.png');
  const png = path.join(fixtures, 'images', 'png_palette.png');
  const r = vorlix(png, missing, sample);
  assert.equal(r.status, 1);
  assert.deepEqual(ndjson(r.stdout), [
    { path: png, report: parse(png) },
    { path: missing, error: { code: 'GenericFailure', message: `${missing}: No such file or directory (os error 2)` } },
    { path: sample, report: parse(sample) },
  ]);
  // A single unreadable file: the reason on stderr, nothing on stdout.
  const one = vorlix(missing);
  assert.equal(one.status, 1);
  assert.equal(one.stdout, '');
  assert.match(one.stderr, /No such file or directory/);
});

test('--recursive walks directories in name order, one line per file', () => {
  const expected = [];
  const walk = (dir) => {
    for (const name of fs.readdirSync(dir).sort()) {
      const p = path.join(dir, name);
      if (fs.statSync(p).isDirectory()) walk(p);
      else expected.push({ path: p, report: parse(p) });
    }
  };
  walk(fixtures);
  for (const concurrency of ['1', '3']) {
    const r = vorlix('--recursive', '--concurrency', concurrency, fixtures);
    assert.equal(r.status, 0, r.stderr);
    assert.deepEqual(ndjson(r.stdout), expected);
  }
});

test('--recursive opens names by their bytes and skips links to directories', (t) => {
  const dir = tmpdir(t);
  const bytes = fs.readFileSync(sample);
  const cafe = Buffer.from(`${dir}/caf\xe9.jpg`, 'latin1');
  fs.writeFileSync(cafe, bytes);
  fs.mkdirSync(path.join(dir, 'sub'));
  fs.writeFileSync(path.join(dir, 'sub', 'a.txt'), 'text');
  fs.symlinkSync('..', path.join(dir, 'sub', 'loop'));
  fs.symlinkSync(Buffer.from('../caf\xe9.jpg', 'latin1'), path.join(dir, 'sub', 'photo.jpg'));
  fs.symlinkSync('nowhere', path.join(dir, 'sub', 'gone'));
  for (const flags of [[], ['--no-hashes']]) {
    const opts = { hashes: flags.length === 0 };
    const r = vorlix('-r', ...flags, dir);
    assert.equal(r.status, 1, r.stderr);
    const gone = path.join(dir, 'sub', 'gone');
    assert.deepEqual(ndjson(r.stdout), [
      // The name is not UTF-8: a lossy "path" and the bytes in base64.
      { path: `${dir}/caf\ufffd.jpg`, path_bytes: cafe.toString('base64'), report: parse(cafe, opts) },
      { path: path.join(dir, 'sub', 'a.txt'), report: parse(path.join(dir, 'sub', 'a.txt'), opts) },
      { path: gone, error: { code: 'GenericFailure', message: `${gone}: No such file or directory (os error 2)` } },
      { path: path.join(dir, 'sub', 'photo.jpg'), report: parse(path.join(dir, 'sub', 'photo.jpg'), opts) },
    ]);
  }
  assert.match(vorlix('--help').stdout, /symbolic links\s+to directories found there are skipped/);
});

test('--extractors and --no-hashes select the work; --pretty and --ndjson force the format', () => {
  const r = vorlix('--extractors', 'file,exif', '--no-hashes', sample);
  assert.equal(r.status, 0);
  assert.deepEqual(JSON.parse(r.stdout), parse(sample, { extractors: ['file', 'exif'], hashes: false }));

  const line = vorlix('--ndjson', sample);
  assert.equal(line.stdout, `${JSON.stringify({ path: sample, report: parse(sample) })}\n`);

  const pretty = vorlix('--pretty', sample, sample);
  const record = JSON.stringify({ path: sample, report: parse(sample) }, null, 2);
  assert.equal(pretty.stdout, `${record}\n${record}\n`);
});

test('BigInts print as exact JSON integers', (t) => {
  const file = path.join(tmpdir(t), 'long.mp4');
  fs.writeFileSync(file, mp4WithHugeDuration());
  assert.equal(parse(file).mp4.duration_units, 2n ** 60n + 1n);
  for (const args of [[file], ['--ndjson', file]]) {
    const r = vorlix(...args);
    assert.equal(r.status, 0);
    assert.match(r.stdout, /"duration_units": ?1152921504606846977[,\n}]/);
  }
});

test('usage errors exit with status 2 and a message on stderr', () => {
  const cases = [
    [[], /no path given/],
    [['--bogus', sample], /--bogus/],
    [['--extractors', 'jpeg,tiff', sample], /unknown extractor "tiff"/],
    [['--concurrency', '0', sample], /--concurrency must be a positive integer/],
    [['--concurrency', 'many', sample], /--concurrency must be a positive integer/],
    [['--concurrency=-1', sample], /--concurrency must be a positive integer, got "-1"/],
    [['--concurrency', '1.5', sample], /--concurrency must be a positive integer, got "1.5"/],
    // The path taken as the option's value: the value is what is wrong.
    [['--concurrency', sample], /--concurrency must be a positive integer, got ".*sample\.jpg"/],
    [['--concurrency'], /--concurrency/],
    [['--pretty', '--ndjson', sample], /exclude each other/],
  ];
  for (const [args, message] of cases) {
    const r = vorlix(...args);
    assert.equal(r.status, 2, args.join(' '));
    assert.equal(r.stdout, '');
    assert.match(r.stderr, message);
    assert.match(r.stderr, /Usage: vorlix/);
  }
});

test('progress goes to stderr only when it is a terminal', (t) => {
  // Captured stderr is a pipe: nothing.
  assert.equal(vorlix(sample, sample).stderr, '');
  // Under a pseudo-terminal (util-linux `script`), with stdout sent elsewhere.
  const probe = spawnSync('script', ['--version'], { encoding: 'utf8' });
  if (probe.status !== 0) {
    t.skip('no `script` command to provide a terminal');
    return;
  }
  const cmd = [process.execPath, bin, sample, sample].map((a) => JSON.stringify(a)).join(' ');
  const r = spawnSync('script', ['-qec', `${cmd} > /dev/null`, '/dev/null'], { encoding: 'utf8' });
  assert.equal(r.status, 0);
  assert.match(r.stdout, /\r1\/2 files, [\d.]+ [KMG]?B\/s\r2\/2 files, [\d.]+ [KMG]?B\/s/);
});
