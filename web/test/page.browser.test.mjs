// The built page in headless Chromium, used the way a person uses it: files chosen through
// #files, results downloaded through their links and the zip, one file played. Every output
// must be byte for byte what the native programs make of the same input, and no request may
// leave the page's own origin.
//
// Environment: TALVECO_SITE (the built site, default build-web/site), TALVECO_DECODE and
// TALVECO_ENCODE (the native programs, default from build/), TALVECO_SCREENSHOT (default
// build-web/page.png), CHROMIUM (default /usr/bin/chromium).
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync, readdirSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, dirname, join, relative, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';
import { unzipSync } from 'fflate';
import { serveFolder } from './static-server.mjs';
import { mixture, wavFile } from './sounds.mjs';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const site = process.env.TALVECO_SITE ?? join(root, 'build-web/site');
const decodeProgram = process.env.TALVECO_DECODE ?? join(root, 'build/app/decode/talveco-decode');
const encodeProgram = process.env.TALVECO_ENCODE ?? join(root, 'build/app/encode/talveco-encode');
const screenshotPath = process.env.TALVECO_SCREENSHOT ?? join(root, 'build-web/page.png');
const SETTLE_MS = 180_000;

const work = mkdtempSync(join(tmpdir(), 'talveco-page-'));
const inputs = join(work, 'in');
const album = join(work, 'album');
const expected = new Map();  // input name -> { output name, bytes } for files that must succeed
const failing = new Map();  // input name -> what its message must say
let server;
let browser;
let page;
let downloads;

function run(program, args) {
  execFileSync(program, args, { stdio: ['ignore', 'ignore', 'pipe'] });
}

function write(name, bytes) {
  writeFileSync(join(inputs, name), bytes);
  return join(inputs, name);
}

// What the page must offer for a file: the output's name, its place in the zip (beside the
// input, for files of a chosen folder) and its bytes.
function expect(path, extension, reference) {
  const name = basename(path);
  const output = name.replace(/\.[^.]+$/, extension);
  const folder = relative(work, dirname(path));
  const zipName = folder === 'in' ? output : `${folder}/${output}`;
  expected.set(name, { output, zipName, bytes: readFileSync(reference) });
}

// Audio the page encodes, and what talveco-encode -q 5 makes of the same file.
function encodedInput(name, bytes, folder = inputs) {
  const path = join(folder, name);
  writeFileSync(path, bytes);
  const reference = join(work, `${name}.ref.acm`);
  run(encodeProgram, ['-q', '5', '-s', '-o', reference, path]);
  expect(path, '.acm', reference);
}

// An ACM file made by talveco-encode, and what talveco-decode makes of it.
function decodedInput(name, wav, settings, folder = inputs) {
  const source = join(work, `${name}.source.wav`);
  writeFileSync(source, wav);
  const path = join(folder, name);
  run(encodeProgram, [...settings, '-s', '-o', path, source]);
  const reference = join(work, `${name}.ref.wav`);
  run(decodeProgram, ['-s', '-o', reference, path]);
  expect(path, '.wav', reference);
  return readFileSync(path);
}

function makeInputs() {
  mkdirSync(join(album, 'disc 2'), { recursive: true });
  mkdirSync(inputs);
  const stereo = { channels: 2, sampleRate: 22050 };
  const mono16k = { channels: 1, sampleRate: 16000 };
  const mono8k = { channels: 1, sampleRate: 8000 };
  encodedInput('voice.wav', wavFile(mixture({ ...stereo, seconds: 4 }), { ...stereo, format: 'pcm16' }));
  encodedInput('wide.wav', wavFile(mixture({ ...mono16k, seconds: 1, seed: 2 }), { ...mono16k, format: 'pcm24' }));
  // Beyond full scale: the page must clip and round exactly as the program does.
  encodedInput('loud-float.wav', wavFile(mixture({ ...mono8k, seconds: 1, peak: 1.4, seed: 3 }), { ...mono8k, format: 'float32' }));
  // FLAC is decoded by the browser; lossless, so its stream must still be the program's, at
  // the file's own rate.
  const flacSource = join(work, 'tone.source.wav');
  writeFileSync(flacSource, wavFile(mixture({ ...mono16k, seconds: 1, seed: 4 }), { ...mono16k, format: 'pcm16' }));
  execFileSync('sox', [flacSource, join(inputs, 'tone.flac')]);
  encodedInput('tone.flac', readFileSync(join(inputs, 'tone.flac')));
  // A WAV of another coding goes through the browser's decoder too, at the rate its header
  // states.
  execFileSync('sox', [flacSource, '-e', 'mu-law', join(work, 'mu-law.wav')]);
  encodedInput('mu-law.wav', readFileSync(join(work, 'mu-law.wav')));

  const music = decodedInput('music.acm', wavFile(mixture({ ...stereo, seconds: 3, seed: 5 }), { ...stereo, format: 'pcm16' }), ['-q', '7']);
  decodedInput('SPEECH.ACM', wavFile(mixture({ ...mono8k, seconds: 1.5, seed: 6 }), { ...mono8k, format: 'pcm16' }), ['-b', '24']);

  write('cut.acm', music.subarray(0, Math.floor(music.length * 0.6)));
  failing.set('cut.acm', /past the end|truncat|cut short/i);
  write('notes.txt', new TextEncoder().encode('not audio at all\n'));
  failing.set('notes.txt', /neither an ACM file nor audio/);
  const wav = wavFile(mixture({ ...stereo, seconds: 0.2, seed: 7 }), { ...stereo, format: 'pcm16' });
  write('broken.wav', wav.subarray(0, wav.length - 3));  // ends inside a frame
  failing.set('broken.wav', /middle of a frame/);

  // A chosen folder: its files keep their places in the zip.
  decodedInput('intro.acm', wavFile(mixture({ ...mono8k, seconds: 0.5, seed: 8 }), { ...mono8k, format: 'pcm16' }), ['-q', '4'], album);
  encodedInput('outro.wav', wavFile(mixture({ ...mono8k, seconds: 0.5, seed: 9 }), { ...mono8k, format: 'pcm16' }), join(album, 'disc 2'));
}

async function launch() {
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    userDataDir: join(work, 'profile'),
    args: [
      '--headless',
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
    ],
  });
  page = await browser.newPage();
  await page.setViewport({ width: 1000, height: 800 });
  downloads = await watchDownloads(join(work, 'downloads'));
}

// Every request the page or its worker makes, and how many were made while it loaded.
const requests = [];
let requestsAtLoad = 0;

// Downloads land in `folder` under Chromium's own ids; they are found again by the name the
// page gave them.
async function watchDownloads(folder) {
  const session = await browser.target().createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allowAndName', downloadPath: folder, eventsEnabled: true });
  const names = new Map();
  const finished = new Map();
  const waiting = new Map();
  session.on('Browser.downloadWillBegin', ({ guid, suggestedFilename }) => names.set(guid, suggestedFilename));
  session.on('Browser.downloadProgress', ({ guid, state }) => {
    if (state !== 'completed' && state !== 'canceled') return;
    const name = names.get(guid);
    const result = state === 'completed' ? readFileSync(join(folder, guid)) : null;
    finished.set(name, result);
    waiting.get(name)?.(result);
  });
  return {
    // The bytes of the next download of that name.
    take(name) {
      finished.delete(name);
      return new Promise((resolve, reject) => {
        const timer = setTimeout(() => reject(new Error(`no download of ${name}`)), 30_000);
        waiting.set(name, (bytes) => {
          clearTimeout(timer);
          waiting.delete(name);
          if (bytes === null) reject(new Error(`the download of ${name} was cancelled`));
          else resolve(bytes);
        });
      });
    },
  };
}

function firstDifference(a, b) {
  const n = Math.min(a.length, b.length);
  for (let i = 0; i < n; i++) if (a[i] !== b[i]) return i;
  return n;
}

function assertSameBytes(actual, wanted, what) {
  if (Buffer.compare(Buffer.from(actual), Buffer.from(wanted)) === 0) return;
  assert.fail(`${what}: ${actual.length} bytes, the program's ${wanted.length}, first difference at byte ${firstDifference(actual, wanted)}`);
}

async function statuses() {
  return page.$$eval('#list [data-name]', (nodes) =>
    nodes.map((node) => ({ name: node.dataset.name, status: node.dataset.status, text: node.textContent })),
  );
}

before(async () => {
  assert.ok(existsSync(join(site, 'index.html')), `no built site at ${site}: run scripts/build-web.sh`);
  for (const program of [decodeProgram, encodeProgram]) assert.ok(existsSync(program), `no native program ${program}`);
  makeInputs();
  server = await serveFolder(site);
  await launch();
  page.on('request', (request) => requests.push(request.url()));
  page.on('pageerror', (error) => console.error(`page error: ${error.message}`));
  await page.goto(`${server.origin}/index.html`, { waitUntil: 'load' });
  // The page loads all it needs, the WebAssembly too, before a file is chosen. The browser's
  // report of the worker's request can come after the server has answered it: both must have
  // seen it before what the page asks for later is counted.
  const loadedModule = () =>
    server.requested.some((path) => path.endsWith('.wasm')) && requests.some((url) => url.endsWith('.wasm'));
  for (let waited = 0; !loadedModule(); waited += 50) {
    assert.ok(waited < 10_000, `the page has not loaded its module: ${server.requested.join(' ')}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  requestsAtLoad = requests.length;
});

after(async () => {
  await browser?.close();
  await server?.close();
  rmSync(work, { recursive: true, force: true });
});

test('every chosen file settles: done with its output, or failed with the reason', async () => {
  const files = readdirSync(inputs).sort();
  await (await page.$('#files')).uploadFile(...files.map((name) => join(inputs, name)));
  await (await page.$('#folder')).uploadFile(album);
  const names = [...files, 'intro.acm', 'outro.wav'].sort();
  await page.waitForFunction(
    (count) => {
      const nodes = [...document.querySelectorAll('#list [data-name]')];
      return nodes.length === count && nodes.every((node) => node.dataset.status !== 'working');
    },
    { timeout: SETTLE_MS, polling: 200 },
    names.length,
  );
  const seen = await statuses();
  assert.deepEqual(seen.map((s) => s.name).sort(), names);
  for (const { name, status, text } of seen) {
    if (expected.has(name)) assert.equal(status, 'done', `${name}: ${text}`);
    else {
      assert.equal(status, 'failed', `${name} should fail: ${text}`);
      assert.match(text, failing.get(name), name);
    }
  }
});

test('each download is the native programs\' output for its file', async () => {
  for (const [name, { output, bytes }] of expected) {
    const link = await page.$(`#list [data-name="${name}"] a[download]`);
    assert.ok(link, `${name} has no download link`);
    assert.equal(await link.evaluate((a) => a.download), output, name);
    const taken = downloads.take(output);
    await link.click();
    assertSameBytes(await taken, bytes, `${name} -> ${output}`);
  }
});

test('the zip holds every good output and nothing else', async () => {
  const taken = downloads.take('talveco.zip');
  await page.click('#download-all');
  const entries = unzipSync(new Uint8Array(await taken));
  const wanted = [...expected.values()];
  assert.deepEqual(Object.keys(entries).sort(), wanted.map((w) => w.zipName).sort());
  for (const { zipName, bytes } of wanted) assertSameBytes(entries[zipName], bytes, `zip entry ${zipName}`);
});

test('an ACM file plays: the audio clock runs and the position moves', async () => {
  const item = '#list [data-name="music.acm"]';
  await page.click(`${item} button.play`);
  await page.waitForSelector('body[data-audio="running"]', { timeout: 10_000 });
  await page.waitForSelector(`${item}[data-playing]`, { timeout: 10_000 });
  // The shown position comes from the AudioContext's clock: it moves only while it plays.
  await page.waitForFunction((selector) => /^0:0[1-9] \//.test(document.querySelector(`${selector} .position`)?.textContent ?? ''), { timeout: 10_000 }, item);
  assert.equal(await page.$eval(`${item} button.play`, (b) => b.getAttribute('aria-pressed')), 'true');
  await page.click(`${item} button.play`);
  assert.equal(await page.$eval(item, (node) => node.dataset.playing ?? null), null);
});

test('an encoded file plays against its original from the same moment', async () => {
  const item = '#list [data-name="voice.wav"]';
  await page.click(`${item} button.play[data-which="original"]`);
  await page.waitForFunction((selector) => /^0:01 \//.test(document.querySelector(`${selector} .position`)?.textContent ?? ''), { timeout: 10_000 }, item);
  await page.click(`${item} button.play[data-which="encoded"]`);
  await page.waitForSelector(`${item}[data-playing="encoded"]`);
  // Switching went on from a second or more in, not from the start.
  assert.match(await page.$eval(`${item} .position`, (node) => node.textContent), /^0:0[1-3] \//);
  await page.click(`${item} button.play[data-which="encoded"]`);
});

test('the encoded file shows its size, bits per sample and SNR', async () => {
  const details = await page.$eval('#list [data-name="voice.wav"] .details', (node) => node.textContent);
  const reference = expected.get('voice.wav').bytes;
  const samples = 4 * 22050 * 2;
  assert.match(details, new RegExp(`${((reference.length * 8) / samples).toFixed(2)} bits per sample`));
  assert.match(details, /SNR \d+\.\d dB/);
});

test('an encoded file codes again at a bitrate, as talveco-encode -b does', async () => {
  const item = '#list [data-name="voice.wav"]';
  const reference = join(work, 'voice.96k.acm');
  run(encodeProgram, ['-b', '96', '-s', '-o', reference, join(inputs, 'voice.wav')]);
  await page.click('#mode-bitrate');
  await page.$eval('#bitrate', (input) => (input.value = ''));
  await page.type('#bitrate', '96');
  await page.click(`${item} button.again`);
  await page.waitForFunction(
    (selector) => document.querySelector(selector).dataset.status === 'done' && /at 96 kbit\/s/.test(document.querySelector(`${selector} .details`).textContent),
    { timeout: 60_000 },
    item,
  );
  await page.click('#mode-quality');
  const taken = downloads.take('voice.acm');
  await page.click(`${item} a[download]`);
  assertSameBytes(await taken, readFileSync(reference), 'voice.wav at 96 kbit/s');
});

test('no request left the page\'s origin', () => {
  assert.ok(requests.length > 0);
  const foreign = requests.filter((url) => !url.startsWith(`${server.origin}/`) && !/^(blob|data):/.test(url));
  assert.deepEqual(foreign, []);
  // Once loaded, the page asked for nothing more: the outputs are the page's own blobs.
  assert.deepEqual(requests.slice(requestsAtLoad).filter((url) => !/^(blob|data):/.test(url)), []);
});

test('the controls answer the keyboard', async () => {
  const item = '#list [data-name="SPEECH.ACM"]';
  await page.focus(`${item} button.play`);
  await page.keyboard.press('Enter');
  await page.waitForSelector(`${item}[data-playing]`, { timeout: 10_000 });
  await page.keyboard.press('Space');
  await page.waitForFunction((selector) => !document.querySelector(selector).dataset.playing, { timeout: 10_000 }, item);
  // Tab from the file chooser reaches the next control: nothing between is a trap.
  await page.focus('#files');
  await page.keyboard.press('Tab');
  assert.notEqual(await page.evaluate(() => document.activeElement?.id), 'files');
});

test('a phone-sized screen needs no sideways scrolling', async () => {
  await page.setViewport({ width: 360, height: 740 });
  const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
  await page.screenshot({ path: screenshotPath.replace(/\.png$/, '-phone.png'), fullPage: true });
  await page.setViewport({ width: 1000, height: 800 });
  assert.ok(overflow <= 0, `${overflow} px too wide`);
});

test('files and folders dropped on the page are taken, folders with all they hold', async () => {
  const dropped = await browser.newPage();
  try {
    await dropped.goto(`${server.origin}/index.html`, { waitUntil: 'load' });
    const box = await (await dropped.$('#drop')).boundingBox();
    const at = { x: box.x + box.width / 2, y: box.y + box.height / 2 };
    const data = { items: [], files: [album, join(inputs, 'music.acm')], dragOperationsMask: 1 };
    const input = await dropped.createCDPSession();
    for (const type of ['dragEnter', 'dragOver', 'drop']) await input.send('Input.dispatchDragEvent', { type, ...at, data });
    await dropped.waitForFunction(
      () => {
        const nodes = [...document.querySelectorAll('#list [data-name]')];
        return nodes.length === 3 && nodes.every((node) => node.dataset.status === 'done');
      },
      { timeout: 30_000 },
    );
    const paths = await dropped.$$eval('#list [data-name] h3', (nodes) => nodes.map((node) => node.textContent));
    assert.deepEqual(paths.sort(), ['album/disc 2/outro.wav', 'album/intro.acm', 'music.acm']);
  } finally {
    await dropped.close();
  }
});

test('files fail with a reason, not hang, when the coding module cannot load', async () => {
  const broken = await browser.newPage();
  await broken.setRequestInterception(true);
  broken.on('request', (request) => (request.url().endsWith('/talveco/index.js') ? request.abort() : request.continue()));
  try {
    await broken.goto(`${server.origin}/index.html`, { waitUntil: 'load' });
    const names = ['music.acm', 'voice.wav'];
    await (await broken.$('#files')).uploadFile(...names.map((name) => join(inputs, name)));
    await broken.waitForFunction(
      () => [...document.querySelectorAll('#list [data-name]')].filter((node) => node.dataset.status === 'failed').length === 2,
      { timeout: 30_000 },
    );
    const texts = await broken.$$eval('#list [data-name]', (nodes) => nodes.map((node) => node.querySelector('.message').textContent));
    for (const text of texts) assert.match(text, /^Failed: .+/);
  } finally {
    await broken.close();
  }
});

test('a screenshot of the page with its results is saved', async () => {
  await page.screenshot({ path: screenshotPath, fullPage: true });
  assert.ok(readFileSync(screenshotPath).length > 10_000);
});
