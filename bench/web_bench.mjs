// The node and Chromium halves of bench/web.sh: measures the package (its
// folder as npm pack made it) in this node, then in headless Chromium on a
// page served from 127.0.0.1, and prints one JSON line per side.
//
//   node bench/web_bench.mjs PACKAGE_DIR STREAM.acm INPUT.wav NATIVE.acm RUNS [PUPPETEER_DIR]
//
// NATIVE.acm is talveco-encode -q 5's stream of INPUT.wav: each side's
// encoded stream must be the same, and each prints the checksum of its
// decoded samples for comparison with library_read's.
import {readFileSync} from 'node:fs';
import {createServer} from 'node:http';
import {createRequire} from 'node:module';
import {dirname, join} from 'node:path';
import {fileURLToPath, pathToFileURL} from 'node:url';

import {fingerprint, measure, wavSamples} from './web_measure.mjs';

const [packageDir, acmPath, wavPath, nativePath, runsText, puppeteerDir] = process.argv.slice(2);
const nativeStream = fingerprint(new Uint8Array(readFileSync(nativePath)));
const runs = Number(runsText);
const here = dirname(fileURLToPath(import.meta.url));

async function inNode() {
  const talveco = await import(pathToFileURL(join(packageDir, 'index.js')).href);
  const acm = new Uint8Array(readFileSync(acmPath));
  const {rate, samples} = wavSamples(new Uint8Array(readFileSync(wavPath)));
  return measure(talveco, acm, samples, rate, runs);
}

// The files the page needs, by the paths it asks for them.
const files = {
  '/': [join(here, 'web_page.html'), 'text/html'],
  '/web_measure.mjs': [join(here, 'web_measure.mjs'), 'text/javascript'],
  '/talveco/index.js': [join(packageDir, 'index.js'), 'text/javascript'],
  '/talveco/talveco.wasm': [join(packageDir, 'talveco.wasm'), 'application/wasm'],
  '/stream.acm': [acmPath, 'application/octet-stream'],
  '/input.wav': [wavPath, 'audio/wav'],
};

function serve() {
  const server = createServer((request, response) => {
    const entry = files[new URL(request.url, 'http://127.0.0.1').pathname];
    if (!entry) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, {'content-type': entry[1]}).end(readFileSync(entry[0]));
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

async function inChromium() {
  const require = createRequire(join(puppeteerDir, 'package.json'));
  const puppeteer = require('puppeteer-core');
  const server = await serve();
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
  });
  try {
    const page = await browser.newPage();
    page.on('console', (message) => console.error(`chromium: ${message.text()}`));
    await page.goto(`http://127.0.0.1:${server.address().port}/`);
    const result = await page.evaluate(`window.bench(${runs})`);
    return result;
  } finally {
    await browser.close();
    server.close();
  }
}

// One line per side; a stream that differs from talveco-encode's fails the bench.
function report(side, result) {
  console.log(JSON.stringify({side, ...result}));
  if (result.encoded !== nativeStream) {
    throw new Error(`${side}: encoded ${result.encoded}, talveco-encode ${nativeStream}`);
  }
}

report('node', await inNode());
if (puppeteerDir) report('chromium', await inChromium());
