// Builds a report's objects from the flat arrays the addon makes of it (report_tape.hpp). The
// addon compiles this once per environment, at load, before any other code can see it; the
// builtins it uses are taken then.
//
// Objects come from object literals compiled once per key set: the engine creates those far
// faster than properties defined one at a time through Node-API, and a literal defines own
// data properties whatever the keys are ("__proto__" included) and whatever setters or frozen
// properties a host put on Object.prototype.
(function () {
  'use strict';
  const uncurry = Function.prototype.bind.bind(Function.prototype.call);
  const stringSlice = uncurry(String.prototype.slice);
  const stringIndexOf = uncurry(String.prototype.indexOf);
  const stringRepeat = uncurry(String.prototype.repeat);
  const defineProperty = Object.defineProperty;
  const makeBigInt = BigInt;
  const quote = JSON.stringify;
  const jsonParse = JSON.parse;
  const FunctionCtor = Function;

  // The program's header fields and op codes, as report_tape.hpp defines them (a test reads
  // both files).
  const HEADER_STARTS_OVER = 0;
  const HEADER_STACK_DEPTH = 1;
  const HEADER_KEPT_TEXTS = 2;
  const HEADER_KEY_SET_COUNT = 3;
  const HEADER_KEY_SETS = 4;
  const HEADER_KEY_SET_FIELDS = 3;

  const NUMBER = 0;
  const TEXT = 1;
  const TRUE = 2;
  const FALSE = 3;
  const NULL = 4;
  const BIG_INT = 5;
  const OBJECT = 6;
  const ARRAY = 7;
  const NEXT_TEXTS = 8;
  const MOVE_DOWN = 9;
  const KEEP_TEXT = 10;
  const REUSE_TEXT = 11;
  const SHORT = 12;
  const KEEP_SHORT = 13;
  const DIRECT = 14;
  const KEEP_DIRECT = 15;
  const ENTRIES = 16;
  const INT = 17;
  const RECORDS = 18;
  const RECORD_INTO = 19;

  // Key sets by the addon's numbers (report_tape.hpp's KeySetTable), and this report's own key
  // sets by -1, -2, ... A key set is compiled once it has made two objects, so a key set seen
  // once (an unusual camera's EXIF tags) costs no compilation; large ones are never compiled.
  const kMaxLiteralKeys = 256;
  let makers = [];
  let sizes = [];

  // Internal arrays are written past their end through defineProperty: an assignment there
  // would run an index setter a host put on Array.prototype.
  function put(array, i, value) {
    if (i < array.length) array[i] = value;
    else defineProperty(array, i, { __proto__: null, value, writable: true, enumerable: true, configurable: true });
  }

  // An own copy of a slice, so a kept key set keeps no larger string alive.
  const own = (s) => stringSlice(` ${s}`, 1);

  function splitKeys(text) {
    const keys = [];
    let n = 0;
    for (let at = 0; at < text.length; ) {
      const end = stringIndexOf(text, '\0', at);
      put(keys, n++, stringSlice(text, at, end));
      at = end + 1;
    }
    return keys;
  }

  function definer(keys) {
    const n = keys.length;
    return (s, b) => {
      const o = {};
      for (let i = 0; i < n; i++) {
        defineProperty(o, keys[i], { __proto__: null, value: s[b + i], writable: true, enumerable: true, configurable: true });
      }
      return o;
    };
  }

  function compile(keys) {
    let body = 'return {';
    for (let i = 0; i < keys.length; i++) {
      // Only a computed "__proto__" defines a property; the plain form sets the prototype.
      body += `${keys[i] === '__proto__' ? '["__proto__"]' : quote(keys[i])}:s[b+${i}],`;
    }
    try {
      return new FunctionCtor('s', 'b', `${body}};`);
    } catch {
      // Code generation from strings is disallowed in this process.
      return definer(keys);
    }
  }

  // Defines objects through defineProperty until its second object, then compiles a literal.
  function lazy(id, keys) {
    const slow = definer(keys);
    if (keys.length > kMaxLiteralKeys) return slow;
    let uses = 0;
    return (s, b) => {
      if (++uses === 2) makers[id] = compile(keys);
      return slow(s, b);
    };
  }

  // Reads the header's key sets, this report's own into `mine` ([makers, sizes]); returns where
  // the ops start.
  function learn(program, keyText, mine) {
    if (program[HEADER_STARTS_OVER] === 1) {
      makers = [];
      sizes = [];
    }
    const count = program[HEADER_KEY_SET_COUNT];
    for (let i = 0; i < count; i++) {
      const at = HEADER_KEY_SETS + HEADER_KEY_SET_FIELDS * i;
      const id = program[at];
      const text = stringSlice(keyText, program[at + 1], program[at + 1] + program[at + 2]);
      if (id >= 0) {
        // Kept from report to report: its keys must not keep the whole key text alive.
        const keys = splitKeys(own(text));
        put(makers, id, lazy(id, keys));
        put(sizes, id, keys.length);
      } else {
        const keys = splitKeys(text);
        put(mine[0], -1 - id, definer(keys));
        put(mine[1], -1 - id, keys.length);
      }
    }
    return HEADER_KEY_SETS + HEADER_KEY_SET_FIELDS * count;
  }

  // A fresh array of n own elements, for the stack, the kept texts and long lists: an array kept
  // from report to report would sit in the old generation, where every store of a new value
  // pays the write barrier and burdens the next scavenge. JSON.parse (without a reviver) runs no
  // host code, where slice, concat and Array.from consult Symbol.species, "constructor" or
  // accessors a host put on the prototypes, any of which could run code in the middle of a
  // report.
  const kBlank = 4096;
  const blankText = `[${stringRepeat('0,', kBlank - 1)}0`;
  function fresh(n) {
    if (n <= 0) return [];
    if (n <= kBlank) return jsonParse(`${stringSlice(blankText, 0, 2 * n)}]`);
    return jsonParse(`[${stringRepeat('0,', n - 1)}0]`);
  }

  // An array of s[b] .. s[b + n - 1]; short ones from array literals compiled once per length.
  function copy(s, b, n) {
    const a = fresh(n);
    for (let i = 0; i < n; i++) a[i] = s[b + i];
    return a;
  }
  const kLiteralArray = 16;
  const arrayMakers = [];
  for (let n = 0; n <= kLiteralArray; n++) {
    let body = 'return [';
    for (let i = 0; i < n; i++) body += `s[b+${i}],`;
    let make;
    try {
      make = new FunctionCtor('s', 'b', `${body}];`);
    } catch {
      make = (s, b) => copy(s, b, n);
    }
    put(arrayMakers, n, make);
  }
  const array = (s, b, n) => (n <= kLiteralArray ? arrayMakers[n](s, b) : copy(s, b, n));

  // program: Int32Array, a header (see learn) then the ops, `end` entries long; numbers:
  // Float64Array; json and shorts: the first text chunk (longer strings as a JSON array, short
  // ones one after another); texts: every chunk's two, when there are several; direct: the
  // strings made one by one, when there are any.
  function decode(program, end, numbers, json, shorts, texts, keyText, direct) {
    const mine = [[], []];
    let next = learn(program, keyText, mine);
    const ownMakers = mine[0];
    const ownSizes = mine[1];
    // The values made and not yet taken by an object or array: values[0 .. top - 1].
    const values = fresh(program[HEADER_STACK_DEPTH]);
    const kept = program[HEADER_KEPT_TEXTS] > 0 ? fresh(program[HEADER_KEPT_TEXTS]) : values;
    let top = 0;
    // Records put into the list that Records made last.
    let filled = 0;
    let ni = 0;
    let strings = jsonParse(json);
    let si = 0;
    let di = 0;
    while (next < end) {
      switch (program[next++]) {
        case NUMBER:
          values[top++] = numbers[ni++];
          break;
        case INT:
          values[top++] = program[next++];
          break;
        case RECORDS:
          values[top++] = fresh(program[next++]);
          filled = 0;
          break;
        case TEXT:
          values[top++] = strings[si++];
          break;
        case TRUE:
          values[top++] = true;
          break;
        case FALSE:
          values[top++] = false;
          break;
        case NULL:
          values[top++] = null;
          break;
        case BIG_INT:
          values[top++] = makeBigInt(strings[si++]);
          break;
        case OBJECT:
        case RECORD_INTO: {
          const into = program[next - 1] === RECORD_INTO;
          const keySet = program[next++];
          let o;
          if (keySet >= 0) {
            top -= sizes[keySet];
            o = makers[keySet](values, top);
          } else {
            top -= ownSizes[-1 - keySet];
            o = ownMakers[-1 - keySet](values, top);
          }
          if (into) values[top - 1][filled++] = o;
          else values[top++] = o;
          break;
        }
        case ARRAY: {
          const n = program[next++];
          top -= n;
          values[top] = array(values, top, n);
          top++;
          break;
        }
        case KEEP_TEXT: {
          const t = strings[si++];
          kept[program[next++]] = t;
          values[top++] = t;
          break;
        }
        case REUSE_TEXT:
          values[top++] = kept[program[next++]];
          break;
        case NEXT_TEXTS: {
          const k = program[next++];
          strings = jsonParse(texts[2 * k]);
          shorts = texts[2 * k + 1];
          si = 0;
          break;
        }
        case SHORT: {
          const from = program[next++];
          values[top++] = stringSlice(shorts, from, from + program[next++]);
          break;
        }
        case KEEP_SHORT: {
          const from = program[next++];
          const t = stringSlice(shorts, from, from + program[next++]);
          kept[program[next++]] = t;
          values[top++] = t;
          break;
        }
        case DIRECT:
          values[top++] = direct[di++];
          break;
        case KEEP_DIRECT:
          values[top++] = kept[program[next++]] = direct[di++];
          break;
        case ENTRIES: {
          const n = program[next++];
          top -= 2 * n;
          const o = {};
          for (let i = top; i < top + 2 * n; i += 2) {
            defineProperty(o, values[i], { __proto__: null, value: values[i + 1], writable: true, enumerable: true, configurable: true });
          }
          values[top++] = o;
          break;
        }
        case MOVE_DOWN: {
          const n = program[next++];
          const moved = values[top - 1];
          for (let i = top - 1; i > top - 1 - n; i--) values[i] = values[i - 1];
          values[top - 1 - n] = moved;
          break;
        }
        default:
          throw new Error('corrupt report program');
      }
    }
    return values[0];
  }

  // The addon also makes arrays through fresh: elements it then sets are own, so no index
  // setter on the prototypes runs.
  return [decode, fresh];
})();
