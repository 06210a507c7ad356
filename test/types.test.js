'use strict';
// The hand-written declarations in lib/index.d.ts must name every key a real report carries.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { parse, extractors } = require('..');

const dts = fs.readFileSync(path.join(__dirname, '..', 'lib', 'index.d.ts'), 'utf8');

// Top-level member names of `export interface NAME { ... }`.
function members(name) {
  const start = dts.indexOf(`export interface ${name} {`);
  assert.notEqual(start, -1, `interface ${name} is declared`);
  const names = new Set();
  let depth = 0;
  for (const line of dts.slice(start).split('\n')) {
    const m = /^\s*(\w+)\??:/.exec(line);
    if (depth === 1 && m) names.add(m[1]);
    depth += (line.match(/{/g) || []).length - (line.match(/}/g) || []).length;
    if (depth === 0 && names.size > 0) break;
  }
  return names;
}

// Every non-hidden file under the fixture folders, plus the bundled sample.
function samples() {
  const out = [path.join(__dirname, '..', 'examples', 'sample.jpg')];
  const walk = (dir) => {
    for (const e of fs.readdirSync(dir, { withFileTypes: true })) {
      const p = path.join(dir, e.name);
      if (e.isDirectory()) walk(p);
      else if (!/\.(json|txt)$/.test(e.name)) out.push(p);
    }
  };
  walk(path.join(__dirname, 'fixtures'));
  return out;
}

test('every namespace and key of the sample reports is declared', () => {
  const report = members('Report');
  const seen = new Set();
  for (const file of samples()) {
    const r = parse(file);
    for (const [ns, fields] of Object.entries(r)) {
      assert.ok(report.has(ns), `Report declares "${ns}" (${path.basename(file)})`);
      if (ns === 'errors') continue;
      const iface = `${ns[0].toUpperCase()}${ns.slice(1)}Namespace`;
      const declared = members(iface);
      for (const key of Object.keys(fields)) {
        assert.ok(declared.has(key), `${iface} declares "${key}" (${path.basename(file)})`);
      }
      seen.add(ns);
    }
  }
  // The fixtures exercise every format, so a namespace that never appears means a broken sample.
  for (const ns of extractors) assert.ok(seen.has(ns), `some sample yields "${ns}"`);
});

test('ExtractorName lists the core registry\'s extractors in the order they run', () => {
  const m = /export type ExtractorName =([^;]*);/.exec(dts);
  assert.ok(m, 'ExtractorName is declared');
  const declared = [...m[1].matchAll(/'(\w+)'/g)].map((x) => x[1]);
  assert.deepEqual(declared, [...extractors]);
  assert.ok(Object.isFrozen(extractors));
  // Each extractor reports under its own name.
  const report = members('Report');
  for (const ns of extractors) assert.ok(report.has(ns), `Report declares "${ns}"`);
});
