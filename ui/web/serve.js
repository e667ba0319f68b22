#!/usr/bin/env node
// Serves the static folder of the web build on localhost with the headers of cross-origin
// isolation (COOP, COEP), which the page's threads need and which a plain file server does not
// send; gzip for clients that take it. `node ui/web/serve.js build-web/site [port]`
'use strict';
const fs = require('fs');
const http = require('http');
const path = require('path');
const zlib = require('zlib');

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8', '.wasm': 'application/wasm', '.png': 'image/png',
};

// isolation false leaves out COOP and COEP, as a plain static host does (the page's service worker
// then adds them).
function serve(root, port = 8080, host = '127.0.0.1', isolation = true) {
  const base = path.resolve(root);
  const server = http.createServer((request, response) => {
    const url = new URL(request.url, 'http://localhost');
    const name = url.pathname.endsWith('/') ? url.pathname + 'index.html' : url.pathname;
    const file = path.join(base, path.normalize(decodeURIComponent(name)));
    if (!file.startsWith(base + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404, { 'Content-Type': 'text/plain' });
      return response.end('not found\n');
    }
    // Revalidated on every load, answered 304 while unchanged: the page's workers load the
    // program's script again and get it from the cache.
    const modified = fs.statSync(file).mtime.toUTCString();
    if (request.headers['if-modified-since'] === modified) {
      response.writeHead(304);
      return response.end();
    }
    let body = fs.readFileSync(file);
    const headers = {
      'Last-Modified': modified,
      'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream',
      'Cache-Control': 'no-cache',
    };
    if (isolation) {
      headers['Cross-Origin-Opener-Policy'] = 'same-origin';
      headers['Cross-Origin-Embedder-Policy'] = 'require-corp';
    }
    if (/\bgzip\b/.test(request.headers['accept-encoding'] || '')) {
      body = zlib.gzipSync(body, { level: 9 });
      headers['Content-Encoding'] = 'gzip';
    }
    headers['Content-Length'] = body.length;
    server.bytesSent += body.length;
    response.writeHead(200, headers);
    response.end(request.method === 'HEAD' ? undefined : body);
  });
  server.bytesSent = 0;  // the bodies sent, as they went over the wire
  return new Promise((resolve) => server.listen(port, host, () => resolve(server)));
}

module.exports = { serve };

if (require.main === module) {
  const [root = 'build-web/site', port = '8080'] = process.argv.slice(2);
  serve(root, Number(port)).then((server) => {
    console.log(`serving ${root} on http://localhost:${server.address().port}/`);
  });
}
