#!/usr/bin/env node
'use strict';
// Prints the metadata report of each path given (default: the bundled sample photo) as JSON.
const path = require('node:path');
const { parse } = require('..');

const paths = process.argv.slice(2);
if (paths.length === 0) paths.push(path.join(__dirname, 'sample.jpg'));

// BigInts (integers beyond 2^53 - 1) have no JSON form of their own: print them as strings.
const replacer = (_key, value) => (typeof value === 'bigint' ? value.toString() : value);

for (const p of paths) {
  try {
    console.log(JSON.stringify(parse(p), replacer, 2));
  } catch (err) {
    console.error(`${err.code}: ${err.message}`);
    process.exitCode = 1;
  }
}
