'use strict';
// Local HTTP servers for the remote-source tests and benchmarks: on 127.0.0.1, a random port.
const http = require('node:http');

// Serves `file` (a virtual file: { size, bytesAt }) with or without Range support; counts the
// requests and the body bytes sent. `behaviour(req, res, range)` may take over a request and
// return true.
async function rangeServer(file, { ranges = true, behaviour } = {}) {
  const stats = { requests: 0, sent: 0, log: [] };
  const server = http.createServer((req, res) => {
    stats.requests += 1;
    const m = /^bytes=(\d+)-(\d+)$/.exec(req.headers.range ?? '');
    const range = ranges && m ? [Number(m[1]), Math.min(Number(m[2]), file.size - 1)] : null;
    stats.log.push(range ?? req.headers.range ?? null);
    if (behaviour && behaviour(req, res, range, stats)) return;
    if (range && range[0] >= file.size) {
      res.writeHead(416, { 'content-range': `bytes */${file.size}` }).end();
      return;
    }
    const [start, end] = range ?? [0, file.size - 1];
    const headers = { 'content-length': end - start + 1, 'accept-ranges': ranges ? 'bytes' : 'none' };
    if (range) headers['content-range'] = `bytes ${start}-${end}/${file.size}`;
    res.writeHead(range ? 206 : 200, headers);
    if (req.method === 'HEAD') {
      res.end();
      return;
    }
    // In pieces, honouring backpressure, so a client that stops reading stops the sending.
    let at = start;
    const pump = () => {
      while (at <= end) {
        const piece = file.bytesAt(at, Math.min(65536, end - at + 1));
        at += piece.length;
        stats.sent += piece.length;
        if (!res.write(piece)) {
          res.once('drain', pump);
          return;
        }
      }
      res.end();
    };
    res.on('close', () => res.off('drain', pump));
    pump();
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const url = `http://127.0.0.1:${server.address().port}/object`;
  const close = () => new Promise((resolve) => {
    server.closeAllConnections();
    server.close(resolve);
  });
  return { url, stats, close, server };
}

module.exports = { rangeServer };
