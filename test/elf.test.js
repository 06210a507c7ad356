'use strict';
// ELF reports of files made by gcc, checked against what readelf reports about them.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { parseBytes } = require('..');
const { fixture, parseBoth: parseIn } = require('../test-support/formats');

const parseBoth = (name) => parseIn('media', name);

test('ELF executable and object file from gcc', () => {
  // readelf -h: ELF64, little endian, UNIX - System V, DYN (Position-Independent Executable
  // file), Advanced Micro Devices X86-64.
  const exe = parseBoth('hello-pie');
  assert.deepEqual(exe.elf, {
    abi: 'System V',
    class: '64-bit',
    endianness: 'little',
    machine: 'x86-64',
    type: 'shared object',
  });
  // readelf -h: ELF64, little endian, UNIX - System V, REL (Relocatable file), X86-64.
  const obj = parseBoth('hello.o');
  assert.equal(obj.elf.type, 'relocatable');
  assert.equal(obj.elf.machine, 'x86-64');
  assert.equal(obj.elf.class, '64-bit');
});

test('a truncated ELF header is an I/O error of "elf" alone', () => {
  const head = fs.readFileSync(fixture('media', 'hello.o')).subarray(0, 19);
  const r = parseBytes(head);
  assert.equal(r.elf, undefined);
  assert.deepEqual(r.errors, [
    { extractor: 'elf', message: 'I/O error: failed to fill whole buffer' },
  ]);
});
