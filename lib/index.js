'use strict';
// The compiled addon behind a thin layer: one check of the options (TypeErrors naming the bad
// option or value), and Promises with AbortSignal support for the asynchronous twins.
// VORLIX_ADDON names another build of the addon (the sanitizer run and the benchmarks use it).
const addon = require('./loader.js').loadAddon();
const { types } = require('node:util');
const { markAsUntransferable } = require('node:worker_threads');

/** Extractor names in the order they run: the core registry's list, frozen by the addon. */
const { extractors } = addon;
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
  // No prototype: a getter a host put on Object.prototype must not run inside the addon.
  const native = { __proto__: null };
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

// Node's fs errors, for a URL that names no local file.
function urlError(code, message) {
  const err = new TypeError(message);
  err.code = code;
  return err;
}

// A file: URL becomes the bytes of its path, as Node's fs takes it, except that percent-encoded
// bytes which are not UTF-8 stay bytes (a name on Linux need not be text). Strings and
// Uint8Arrays go to the addon as they are, and so does every other value, which the addon
// refuses with StringExpected.
function pathArgument(path) {
  if (!(path instanceof URL)) return path;
  if (path.protocol !== 'file:') {
    throw urlError('ERR_INVALID_URL_SCHEME', 'The URL must be of scheme file');
  }
  if (path.hostname !== '') {
    throw urlError('ERR_INVALID_FILE_URL_HOST', 'File URL host must be "localhost" or empty on linux');
  }
  const text = path.pathname;
  if (/%2f/i.test(text)) {
    throw urlError('ERR_INVALID_FILE_URL_PATH', 'File URL path must not include encoded / characters');
  }
  // The serialised pathname is ASCII: each "%XX" is one byte, a "%" without two hex digits is
  // itself.
  const bytes = Buffer.allocUnsafe(text.length);
  let n = 0;
  for (let i = 0; i < text.length; i++) {
    const hex = text[i] === '%' ? text.slice(i + 1, i + 3) : '';
    if (/^[0-9a-f]{2}$/i.test(hex)) {
      bytes[n++] = parseInt(hex, 16);
      i += 2;
    } else {
      bytes[n++] = text.charCodeAt(i);
    }
  }
  return bytes.subarray(0, n);
}

function parse(path, options) {
  const { native } = checkOptions('parse', options, false);
  return addon.parse(pathArgument(path), native);
}

function parseBytes(buffer, options) {
  return addon.parseBytes(buffer, checkOptions('parseBytes', options, false).native);
}

// Every failure, argument errors included, rejects: the executor turns throws into rejections.
// `copied` runs last before the addon, after every step that may run the caller's code.
function start(fn, native, input, options, copied = () => false) {
  return new Promise((resolve, reject) => {
    const { native: opts, signal } = checkOptions(fn, options, true);
    if (signal?.aborted) throw new AbortError(signal);
    let onAbort;
    const copy = copied(input);
    const token = native(input, opts, (error, report, cancelled) => {
      if (signal) signal.removeEventListener('abort', onAbort);
      if (cancelled || signal?.aborted) reject(new AbortError(signal));
      else if (error) reject(error);
      else resolve(report);
    }, copy);
    if (signal) {
      onAbort = () => addon.cancel(token);
      signal.addEventListener('abort', onAbort, { once: true });
    }
  });
}

function parseAsync(path, options) {
  return start('parseAsync', (p, o, done) => addon.parseAsync(pathArgument(p), o, done), path, options);
}

// Built-ins taken now, so that a host that replaces them later cannot steer what is read.
const uncurry = Function.prototype.bind.bind(Function.prototype.call);
const getter = (proto, name) => {
  const d = Object.getOwnPropertyDescriptor(proto, name);
  return d && d.get ? uncurry(d.get) : undefined;
};
const typedArrayBuffer = getter(Object.getPrototypeOf(Uint8Array.prototype), 'buffer');
const dataViewBuffer = getter(DataView.prototype, 'buffer');
const isResizable = getter(ArrayBuffer.prototype, 'resizable') ?? (() => false);
const { isArrayBufferView, isDataView, isSharedArrayBuffer } = types;
// An ArrayBuffer marked untransferable can still be detached where the engine has
// ArrayBuffer.prototype.transfer (Node 21 and later); there its bytes are copied instead.
const nodeMajor = Number(process.versions.node.split('.')[0]);
const markingPins = nodeMajor <= 20 && typeof ArrayBuffer.prototype.transfer !== 'function';

// Whether the pool thread must read a private copy (made by the addon when the call starts)
// rather than the caller's bytes: they are read in place only when their memory can neither
// vanish (a transfer, then a collection) nor shrink (resize) before the parse ends. Shared
// memory is copied too: other threads may write it at any time, and a report must describe one
// set of bytes.
function mustCopy(input) {
  if (!isArrayBufferView(input)) return false; // the addon rejects it with its own error
  const backing = isDataView(input) ? dataViewBuffer(input) : typedArrayBuffer(input);
  if (isSharedArrayBuffer(backing) || isResizable(backing) || !markingPins) return true;
  markAsUntransferable(backing);
  return false;
}

function parseBytesAsync(buffer, options) {
  return start('parseBytesAsync', addon.parseBytesAsync, buffer, options, mustCopy);
}

module.exports = { parse, parseBytes, parseAsync, parseBytesAsync, extractors };
Object.assign(module.exports, require('./sources')({ addon, checkOptions, AbortError, show }));
