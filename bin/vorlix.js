#!/usr/bin/env node
'use strict';
// The command: one file's report as indented JSON, many files as NDJSON, parsed through
// parseAsync with a bounded number in flight.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { isUtf8 } = require('node:buffer');
const { parseArgs } = require('node:util');
const { parseAsync, parseSource, parseStream, httpSource, extractors: knownExtractors } = require('../lib');

const USAGE = `Usage: vorlix [options] PATH...
  PATH may also be - (standard input) or an http:// or https:// URL (read with Range requests)
  --recursive, -r       parse every file under the directories given; symbolic links
                        to directories found there are skipped (a link may loop)
  --extractors a,b      run only these extractors (${knownExtractors.join(', ')})
  --no-hashes           skip SHA-256, CRC-32 and entropy
  --concurrency N       parses in flight at once (default: ${defaultConcurrency()})
  --pretty              indented JSON (the default for one file)
  --ndjson              one JSON record per line (the default for several files)
  --help, -h            this text`;

class UsageError extends Error {}

function defaultConcurrency() {
  return typeof os.availableParallelism === 'function' ? os.availableParallelism() : os.cpus().length;
}

// JSON as JSON.stringify writes it, except that BigInts become exact integers.
function toJson(value, indent = '', step = '') {
  if (typeof value === 'bigint') return value.toString();
  if (value === null || typeof value !== 'object') return JSON.stringify(value) ?? 'null';
  const inner = indent + step;
  const open = step ? `\n${inner}` : '';
  const close = step ? `\n${indent}` : '';
  const sep = step ? `,\n${inner}` : ',';
  if (Array.isArray(value)) {
    if (value.length === 0) return '[]';
    return `[${open}${value.map((v) => toJson(v, inner, step)).join(sep)}${close}]`;
  }
  const parts = [];
  for (const [k, v] of Object.entries(value)) {
    if (v === undefined || typeof v === 'function') continue;
    parts.push(`${JSON.stringify(k)}:${step ? ' ' : ''}${toJson(v, inner, step)}`);
  }
  if (parts.length === 0) return '{}';
  return `{${open}${parts.join(sep)}${close}}`;
}

function options(argv) {
  let parsed;
  try {
    parsed = parseArgs({
      args: argv,
      allowPositionals: true,
      allowNegative: true,
      options: {
        recursive: { type: 'boolean', short: 'r' },
        extractors: { type: 'string' },
        hashes: { type: 'boolean', default: true },
        concurrency: { type: 'string' },
        pretty: { type: 'boolean' },
        ndjson: { type: 'boolean' },
        help: { type: 'boolean', short: 'h' },
      },
    });
  } catch (err) {
    throw new UsageError(err.message);
  }
  const v = parsed.values;
  if (v.help) return { help: true };
  // Checked before the paths: in "--concurrency a.jpg" the path is the option's value, and the
  // bad value is what to report.
  let concurrency = defaultConcurrency();
  if (v.concurrency !== undefined) {
    concurrency = Number(v.concurrency);
    if (!/^\d+$/.test(v.concurrency) || !Number.isSafeInteger(concurrency) || concurrency < 1) {
      throw new UsageError(`--concurrency must be a positive integer, got "${v.concurrency}"`);
    }
  }
  if (parsed.positionals.length === 0) throw new UsageError('no path given');
  if (v.pretty && v.ndjson) throw new UsageError('--pretty and --ndjson exclude each other');
  const parse = { hashes: v.hashes };
  if (v.extractors !== undefined) {
    const names = v.extractors.split(',').filter((s) => s !== '');
    for (const name of names) {
      if (!knownExtractors.includes(name)) throw new UsageError(`unknown extractor "${name}"`);
    }
    parse.extractors = names;
  }
  return {
    paths: parsed.positionals,
    recursive: Boolean(v.recursive),
    parse,
    concurrency,
    format: v.pretty ? 'pretty' : v.ndjson ? 'ndjson' : undefined,
  };
}

const DOT = Buffer.from('.');
const SLASH = Buffer.from('/');

// `dir`/`name` as path.join spells it, in bytes: a name on Linux need not be UTF-8.
function joinBytes(dir, name) {
  if (dir.equals(DOT)) return name;
  return Buffer.concat(dir[dir.length - 1] === SLASH[0] ? [dir, name] : [dir, SLASH, name]);
}

// What a symbolic link found in a walk names: its target's stats, or null where it dangles.
async function target(p) {
  try {
    return await fs.promises.stat(p);
  } catch {
    return null;
  }
}

// Every path to parse, in a stable order: the arguments as given, directories (with
// --recursive) expanded depth-first by name, each found file as a Buffer of its name bytes.
// Symbolic links to directories are skipped, so a link cycle cannot loop; a dangling link is
// listed, and its parse says why it fails. A directory that cannot be listed becomes an error
// entry.
async function expand(paths, recursive) {
  const out = [];
  // `dir` is read as given; `base` is its normalised spelling, which the found paths extend.
  const walk = async (dir, base) => {
    let entries;
    try {
      entries = await fs.promises.readdir(dir, { withFileTypes: true, encoding: 'buffer' });
    } catch (err) {
      out.push({ path: dir, error: err });
      return;
    }
    entries.sort((a, b) => Buffer.compare(a.name, b.name));
    for (const e of entries) {
      const p = joinBytes(base, e.name);
      if (e.isDirectory()) await walk(p, p);
      else if (e.isFile()) out.push({ path: p });
      else if (e.isSymbolicLink()) {
        const st = await target(p);
        if (st === null || st.isFile()) out.push({ path: p });
      }
    }
  };
  for (const p of paths) {
    let isDir = false;
    if (recursive) {
      try {
        isDir = (await fs.promises.stat(p)).isDirectory();
      } catch {
        // Reported by the parse itself.
      }
    }
    if (isDir) await walk(p, Buffer.from(path.join(p, '.')));
    else out.push({ path: p });
  }
  return out;
}

const lossy = new TextDecoder();

// The record's "path": a string, with invalid UTF-8 replaced by U+FFFD; when that loses bytes,
// "path_bytes" holds them in base64 so that the file can still be found.
function pathFields(p) {
  if (typeof p === 'string') return { path: p };
  if (isUtf8(p)) return { path: p.toString('utf8') };
  return { path: lossy.decode(p), path_bytes: p.toString('base64') };
}

function errorRecord(err) {
  return { code: err.code ?? 'Error', message: err.message };
}

// "files done of total, bytes per second" on one rewritten line.
function progress(done, total, bytes, started) {
  const secs = Math.max((Date.now() - started) / 1000, 1e-3);
  const rate = bytes / secs;
  const units = ['B/s', 'KB/s', 'MB/s', 'GB/s'];
  let i = 0;
  let r = rate;
  while (r >= 1000 && i < units.length - 1) {
    r /= 1000;
    i++;
  }
  process.stderr.write(`\r${done}/${total} files, ${r.toFixed(1)} ${units[i]}`);
}

async function run(argv) {
  const opts = options(argv);
  if (opts.help) {
    process.stdout.write(`${USAGE}\n`);
    return 0;
  }
  const items = await expand(opts.paths, opts.recursive);
  const single = items.length === 1 && !opts.recursive;
  const format = opts.format ?? (single ? 'pretty' : 'ndjson');
  const showProgress = Boolean(process.stderr.isTTY);
  const started = Date.now();
  let bytes = 0;
  let done = 0;
  let failed = false;

  // Results are printed in input order as soon as all before them are done.
  const results = new Array(items.length);
  let printed = 0;
  const flush = () => {
    while (printed < items.length && results[printed] !== undefined) {
      const r = results[printed];
      results[printed++] = null;
      if (format === 'pretty' && single) {
        // One file: the report alone, or the reason on stderr.
        if (r.report) process.stdout.write(`${toJson(r.report, '', '  ')}\n`);
        else process.stderr.write(`vorlix: ${r.error.message}\n`);
      } else {
        process.stdout.write(`${format === 'pretty' ? toJson(r, '', '  ') : toJson(r)}\n`);
      }
    }
  };

  let next = 0;
  const worker = async () => {
    while (next < items.length) {
      const i = next++;
      const item = items[i];
      let record;
      if (item.error) {
        record = { ...pathFields(item.path), error: errorRecord(item.error) };
      } else {
        try {
          const report = await parseInput(item.path, opts.parse);
          record = { ...pathFields(item.path), report };
          const size = report.file?.size_bytes;
          bytes += size === undefined ? await statSize(item.path) : Number(size);
        } catch (err) {
          record = { ...pathFields(item.path), error: errorRecord(err) };
        }
      }
      if (record.error) failed = true;
      results[i] = record;
      done++;
      if (showProgress) progress(done, items.length, bytes, started);
      flush();
    }
  };
  await Promise.all(Array.from({ length: Math.min(opts.concurrency, items.length) }, worker));
  if (showProgress && items.length > 0) process.stderr.write('\n');
  return failed ? 1 : 0;
}

// "-" is standard input, read once as a stream; an http(s) URL is read with Range requests, so
// with --no-hashes only the bytes the formats need are fetched.
async function parseInput(input, parseOptions) {
  // Names found by -r are bytes, never stdin or a URL.
  if (input === '-') return parseStream(process.stdin, parseOptions);
  if (typeof input === 'string' && /^https?:\/\//i.test(input)) return parseSource(await httpSource(input), parseOptions);
  return parseAsync(input, parseOptions);
}

async function statSize(p) {
  try {
    return (await fs.promises.stat(p)).size;
  } catch {
    return 0;
  }
}

// A reader that stops early (`vorlix -r . | head`) is not an error.
process.stdout.on('error', (err) => {
  if (err.code !== 'EPIPE') throw err;
  process.exit(process.exitCode ?? 0);
});

run(process.argv.slice(2)).then(
  (code) => {
    process.exitCode = code;
  },
  (err) => {
    if (err instanceof UsageError) {
      process.stderr.write(`vorlix: ${err.message}\n${USAGE}\n`);
      process.exitCode = 2;
    } else {
      process.stderr.write(`vorlix: ${err.stack || err}\n`);
      process.exitCode = 1;
    }
  },
);
