'use strict';
// Shared by the source and stream tests: the sample files, large virtual files, and reports
// without the facts that only a path gives.
const fs = require('node:fs');
const path = require('node:path');

// Every sample file under test/fixtures plus the bundled example.
function samples() {
  const out = [path.join(__dirname, '..', '..', 'examples', 'sample.jpg')];
  const walk = (dir) => {
    for (const e of fs.readdirSync(dir, { withFileTypes: true })) {
      const p = path.join(dir, e.name);
      if (e.isDirectory()) walk(p);
      else out.push(p);
    }
  };
  walk(path.join(__dirname, '..', 'fixtures'));
  return out.sort();
}

// `size` bytes, zeros except `parts` ([offset, bytes], in order, not overlapping). Nothing of
// that size is ever allocated: reads are put together from the parts.
function virtualFile(size, parts) {
  // `out` filled with the bytes from `offset`.
  function fillAt(offset, out) {
    const length = out.length;
    out.fill(0);
    for (const [at, bytes] of parts) {
      const from = Math.max(at, offset);
      const to = Math.min(at + bytes.length, offset + length);
      if (from < to) out.set(bytes.subarray(from - at, to - at), from - offset);
    }
    return out;
  }
  const bytesAt = (offset, length) => fillAt(offset, new Uint8Array(length));
  return {
    size,
    bytesAt,
    fillAt,
    // A source counting its reads and the bytes they fetched; `log` holds [offset, length].
    source(extra = {}) {
      const s = {
        size,
        reads: 0,
        fetched: 0,
        log: [],
        ...extra,
        async read(offset, length) {
          s.reads += 1;
          s.fetched += length;
          s.log.push([offset, length]);
          return bytesAt(offset, length);
        },
      };
      return s;
    },
    // The same bytes as a sparse file in `dir`; its path.
    writeSparse(dir) {
      const file = path.join(dir, `virtual-${size}-${parts.length}.bin`);
      const fd = fs.openSync(file, 'w');
      try {
        for (const [at, bytes] of parts) fs.writeSync(fd, bytes, 0, bytes.length, at);
        fs.ftruncateSync(fd, size);
      } finally {
        fs.closeSync(fd);
      }
      return file;
    },
    // Its bytes in pieces of `step`, for streams.
    *chunks(step) {
      for (let at = 0; at < size; at += step) yield bytesAt(at, Math.min(step, size - at));
    },
  };
}

const PATH_FACTS = ['name', 'extension_claimed', 'modified_unix', 'created_unix'];

// parse(path)'s report as parseBytes would give it for the same bytes.
function withoutPathFacts(report) {
  if (report.file) {
    report.file = Object.fromEntries(
      Object.entries(report.file).filter(([k]) => !PATH_FACTS.includes(k)),
    );
  }
  return report;
}

module.exports = { samples, virtualFile, withoutPathFacts };
