'use strict';
// The compiled addon behind a thin layer: one check of the options (TypeErrors naming the bad
// option or value), and Promises with AbortSignal support for the asynchronous twins.
const addon = require('./loader.js').loadAddon();

/** Extractor names in the order they run. */
const extractors = Object.freeze([
  'file', 'jpeg', 'png', 'gif', 'bmp', 'riff', 'exif', 'id3', 'mp4', 'elf', 'pdf', 'gzip', 'zip',
]);
const known = new Set(extractors);

// As Node's own: name "AbortError", code "ABORT_ERR", the signal's reason as the cause.
class AbortError extends Error {
  constructor(signal) {
    super('The operation was aborted', signal && { cause: signal.reason });
    this.name = 'AbortError';
    this.code = 'ABORT_ERR';
  }
}

function show(value) {
  if (typeof value === 'string') return JSON.stringify(value);
  if (typeof value === 'bigint') return `${value}n`;
  if (value === null || typeof value !== 'object') return String(value);
  return Array.isArray(value) ? 'an array' : 'an object';
}

// Checks `options` for the function named `fn`; gives what the addon reads and the signal.
function checkOptions(fn, options, async) {
  if (options === undefined) return { native: undefined, signal: undefined };
  if (options === null || typeof options !== 'object' || Array.isArray(options)) {
    throw new TypeError(`${fn}: options must be an object, got ${show(options)}`);
  }
  for (const key of Object.keys(options)) {
    if (key === 'signal' && !async) {
      throw new TypeError(`${fn}: options.signal is accepted only by parseAsync and parseBytesAsync`);
    }
    if (key !== 'extractors' && key !== 'hashes' && key !== 'signal') {
      throw new TypeError(`${fn}: unknown option ${JSON.stringify(key)}`);
    }
  }
  const native = {};
  const { extractors: names, hashes, signal } = options;
  if (names !== undefined) {
    if (!Array.isArray(names)) {
      throw new TypeError(`${fn}: options.extractors must be an array of extractor names, got ${show(names)}`);
    }
    names.forEach((name, i) => {
      if (typeof name !== 'string') {
        throw new TypeError(`${fn}: options.extractors[${i}] must be a string, got ${show(name)}`);
      }
      if (!known.has(name)) {
        throw new TypeError(
          `${fn}: unknown extractor ${JSON.stringify(name)} in options.extractors (known: ${extractors.join(', ')})`,
        );
      }
    });
    native.extractors = [...names];
  }
  if (hashes !== undefined) {
    if (typeof hashes !== 'boolean') {
      throw new TypeError(`${fn}: options.hashes must be a boolean, got ${show(hashes)}`);
    }
    native.hashes = hashes;
  }
  if (signal !== undefined && !(signal instanceof AbortSignal)) {
    throw new TypeError(`${fn}: options.signal must be an AbortSignal, got ${show(signal)}`);
  }
  return { native, signal };
}

function parse(path, options) {
  return addon.parse(path, checkOptions('parse', options, false).native);
}

function parseBytes(buffer, options) {
  return addon.parseBytes(buffer, checkOptions('parseBytes', options, false).native);
}

// Every failure, argument errors included, rejects: the executor turns throws into rejections.
function start(fn, native, input, options) {
  return new Promise((resolve, reject) => {
    const { native: opts, signal } = checkOptions(fn, options, true);
    if (signal?.aborted) throw new AbortError(signal);
    let onAbort;
    const token = native(input, opts, (error, report, cancelled) => {
      if (signal) signal.removeEventListener('abort', onAbort);
      if (cancelled || signal?.aborted) reject(new AbortError(signal));
      else if (error) reject(error);
      else resolve(report);
    });
    if (signal) {
      onAbort = () => addon.cancel(token);
      signal.addEventListener('abort', onAbort, { once: true });
    }
  });
}

function parseAsync(path, options) {
  return start('parseAsync', addon.parseAsync, path, options);
}

function parseBytesAsync(buffer, options) {
  return start('parseBytesAsync', addon.parseBytesAsync, buffer, options);
}

module.exports = { parse, parseBytes, parseAsync, parseBytesAsync, extractors };
