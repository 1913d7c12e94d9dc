// A static file server on the loopback address, as any static host serves the page: files by
// path, the types browsers need for modules and WebAssembly, nothing outside the folder. It
// keeps the list of paths asked for, so a test can see what the page fetched.
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize, sep } from 'node:path';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.json': 'application/json',
  '.png': 'image/png',
  '.svg': 'image/svg+xml',
};

export async function serveFolder(root) {
  const requested = [];
  const server = createServer(async (request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://127.0.0.1').pathname);
    requested.push(path);
    const file = normalize(join(root, path.endsWith('/') ? `${path}index.html` : path));
    if (!file.startsWith(normalize(root) + sep)) {
      response.writeHead(403).end();
      return;
    }
    try {
      const body = await readFile(file);
      response.writeHead(200, {
        'Content-Type': TYPES[extname(file)] ?? 'application/octet-stream',
        'Cache-Control': 'no-store',
      });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const origin = `http://127.0.0.1:${server.address().port}`;
  return {
    origin,
    requested,
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}

// `node static-server.mjs FOLDER` serves a built site to look at by hand.
if (import.meta.url === `file://${process.argv[1]}`) {
  const { origin } = await serveFolder(process.argv[2] ?? '.');
  console.log(`serving ${process.argv[2] ?? '.'} at ${origin}/`);
}
