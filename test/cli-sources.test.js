'use strict';
// The command over standard input ("-") and over an http:// URL.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFile } = require('node:child_process');
const { parseBytes } = require('..');
const { mp4WithMoovLast } = require('./helpers/sources');
const { rangeServer } = require('./helpers/http');

const bin = path.join(__dirname, '..', 'bin', 'vorlix.js');

// Asynchronous, so that a server in this process can answer the command.
function vorlix(args, input) {
  return new Promise((resolve) => {
    const child = execFile(process.execPath, [bin, ...args], { encoding: 'utf8' }, (err, stdout, stderr) => {
      resolve({ status: err ? err.code : 0, stdout, stderr });
    });
    child.stdin.end(input);
  });
}

test('vorlix - parses standard input', async () => {
  const bytes = fs.readFileSync(path.join(__dirname, 'fixtures', 'exif', 'sample.jpg'));
  const r = await vorlix(['-'], bytes);
  assert.equal(r.status, 0, r.stderr);
  assert.deepEqual(JSON.parse(r.stdout), JSON.parse(JSON.stringify(parseBytes(bytes))));
});

test('vorlix URL reads only what the formats need with --no-hashes; a missing object fails', async (t) => {
  const file = mp4WithMoovLast(512 << 20);
  const server = await rangeServer(file, {
    behaviour(req, res) {
      if (!req.url.endsWith('/missing')) return false;
      res.writeHead(404).end();
      return true;
    },
  });
  t.after(server.close);
  const r = await vorlix(['--no-hashes', server.url]);
  assert.equal(r.status, 0, r.stderr);
  const report = JSON.parse(r.stdout);
  assert.equal(report.file.size_bytes, file.size);
  assert.deepEqual(report.mp4.top_level_boxes.map((b) => b.type), ['ftyp', 'mdat', 'moov']);
  assert.ok(server.stats.requests <= 4 && server.stats.sent <= 256 * 1024, JSON.stringify(server.stats));

  const missing = await vorlix([server.url.replace(/object$/, 'missing')]);
  assert.equal(missing.status, 1);
  assert.match(missing.stderr, /HTTP 404/);
});
