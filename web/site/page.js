// The page: takes files, hands each to the worker in turn, lists the results and plays them.
// Everything the user sees of a file lives in its FileItem; the worker does all the coding.
import { isAcm, isWav, statedRate } from './sniff.js';
import { Player } from './player.js';
import { drawWaveform } from './waveform.js';
import { linearCoding } from './wav.js';

const $ = (selector) => document.querySelector(selector);

// ---- The worker, as a queue of requests answered in turn ----

const WORKER_LOAD_MS = 10_000;

class Coder {
  // Started with the page, so that the page has all it needs before the first file.
  constructor() {
    this.worker = null;
    this.pending = new Map();
    this.nextId = 1;
    this.start();
  }

  // A module worker whose imports fail to load gets no error event in every browser: one that
  // has not said it is ready in time counts as failed.
  start() {
    this.worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
    this.worker.onmessage = ({ data }) => this.answer(data);
    this.worker.onerror = (event) => {
      event.preventDefault();
      this.abandon(event.message || 'the coding worker stopped (it ran out of memory, or its code did not load)');
    };
    this.loadTimer = setTimeout(
      () => this.abandon('the page\'s coding module did not load: reload the page'),
      WORKER_LOAD_MS,
    );
  }

  // A worker that failed to load, or died, answers nothing more: the files waiting for it fail
  // with the reason, and the next request starts a new worker.
  abandon(message) {
    clearTimeout(this.loadTimer);
    this.worker.terminate();
    this.worker = null;
    for (const request of this.pending.values()) request.reject(new Error(message));
    this.pending.clear();
  }

  answer(data) {
    if (data.type === 'ready') {
      clearTimeout(this.loadTimer);
      return;
    }
    const request = this.pending.get(data.id);
    if (!request) return;
    if (data.type === 'progress') {
      request.onProgress?.(data.fraction, data.stage);
      return;
    }
    this.pending.delete(data.id);
    if (data.type === 'result') request.resolve(data.result);
    else request.reject(Object.assign(new Error(data.message), { kind: data.kind }));
  }

  request(message, transfer = [], onProgress = null) {
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject, onProgress });
      if (!this.worker) this.start();
      this.worker.postMessage({ ...message, id }, transfer);
    });
  }
}

// ---- Names and numbers as shown ----

function baseName(name) {
  const dot = name.lastIndexOf('.');
  return dot > 0 ? name.slice(0, dot) : name;
}

function duration(seconds) {
  if (seconds < 60) return `${seconds.toFixed(1)} s`;
  const minutes = Math.floor(seconds / 60);
  return `${minutes}:${(seconds - minutes * 60).toFixed(1).padStart(4, '0')}`;
}

function channelsText(channels) {
  return channels === 1 ? 'mono' : channels === 2 ? 'stereo' : `${channels} channels`;
}

function sizeText(bytes) {
  if (bytes < 1024) return `${bytes} bytes`;
  if (bytes < 1024 * 1024) return `${(bytes / 1024).toFixed(1)} KiB`;
  return `${(bytes / 1024 / 1024).toFixed(2)} MiB`;
}

function snrText(snr) {
  return Number.isFinite(snr) ? `${snr.toFixed(1)} dB` : 'exact';
}

function element(tag, properties = {}, children = []) {
  const node = Object.assign(document.createElement(tag), properties);
  node.append(...children);
  return node;
}

// ---- One file in the list ----

class FileItem {
  constructor(file, path) {
    this.file = file;
    this.path = path;  // inside a dropped or chosen folder, for the zip
    this.output = null;  // { name, blob } once done
    this.node = element('li', { className: 'file' });
    this.node.dataset.name = file.name;
    this.title = element('h3', { textContent: path });
    this.details = element('p', { className: 'details' });
    this.message = element('p', { className: 'message' });
    this.progress = element('progress', { max: 1 });
    this.progress.setAttribute('aria-label', `Progress of ${file.name}`);
    this.controls = element('p', { className: 'controls' });
    this.canvas = element('canvas', { className: 'waveform', width: 600, height: 64 });
    this.canvas.setAttribute('role', 'img');
    this.node.append(this.title, this.progress, this.details, this.canvas, this.message, this.controls);
    this.setStatus('working', 'Waiting…');
  }

  setStatus(status, text = '') {
    this.node.dataset.status = status;
    this.message.textContent = text;
    this.progress.hidden = status !== 'working';
  }

  showProgress(fraction, stage) {
    if (fraction === null) this.progress.removeAttribute('value');
    else this.progress.value = fraction;
    this.message.textContent = `${stage[0].toUpperCase()}${stage.slice(1)}…`;
  }

  // Whatever an earlier run offered goes: a failed file has no output.
  fail(error) {
    this.setStatus('failed', `Failed: ${error.message}`);
    this.forgetOutput();
    this.controls.replaceChildren();
    this.canvas.hidden = true;
  }

  offerDownload(blob, name, label) {
    const link = element('a', { href: URL.createObjectURL(blob), download: name, textContent: label });
    this.output = { name, blob };
    this.controls.append(link);
    return link;
  }

  forgetOutput() {
    const link = this.controls.querySelector('a[download]');
    if (link) URL.revokeObjectURL(link.href);
    this.output = null;
  }

  forget() {
    this.forgetOutput();
    this.node.remove();
  }
}

// ---- The page ----

class Page {
  constructor() {
    this.coder = new Coder();
    this.player = new Player();
    this.items = [];
    this.queue = Promise.resolve();
    this.list = $('#list');
    this.bindIntake();
    this.bindSettings();
    $('#download-all').addEventListener('click', () => this.downloadAll());
    $('#clear').addEventListener('click', () => this.clear());
  }

  bindIntake() {
    for (const input of [$('#files'), $('#folder')]) {
      input.addEventListener('change', () => {
        this.add([...input.files].map((file) => ({ file, path: file.webkitRelativePath || file.name })));
        input.value = '';
      });
    }
    const drop = $('#drop');
    drop.addEventListener('dragover', (event) => {
      event.preventDefault();
      drop.classList.add('over');
    });
    drop.addEventListener('dragleave', () => drop.classList.remove('over'));
    drop.addEventListener('drop', async (event) => {
      event.preventDefault();
      drop.classList.remove('over');
      this.add(await droppedFiles(event.dataTransfer));
    });
  }

  bindSettings() {
    const quality = $('#quality');
    quality.addEventListener('input', () => {
      $('#quality-value').value = quality.value;
      $('#mode-quality').checked = true;
    });
    $('#bitrate').addEventListener('input', () => {
      $('#mode-bitrate').checked = true;
    });
  }

  // The setting the user chose; a bitrate that is no positive number falls back to quality.
  settings() {
    const bitrate = Number($('#bitrate').value);
    if ($('#mode-bitrate').checked && bitrate > 0) return { bitrate };
    return { quality: Number($('#quality').value) };
  }

  add(entries) {
    for (const { file, path } of entries) {
      const item = new FileItem(file, path);
      this.items.push(item);
      this.list.append(item.node);
      const settings = this.settings();
      this.enqueue(() => this.process(item, settings));
    }
    this.updateActions();
  }

  // One file at a time: the worker codes one anyway, and only that file's bytes are in memory.
  enqueue(job) {
    this.queue = this.queue.then(job).finally(() => this.updateActions());
  }

  async process(item, settings) {
    try {
      if (!this.items.includes(item)) return;  // cleared while waiting
      item.showProgress(null, 'reading');
      const bytes = new Uint8Array(await item.file.arrayBuffer());
      if (isAcm(bytes)) await this.decodeAcm(item, bytes);
      else await this.encode(item, await this.source(item, bytes), settings);
    } catch (error) {
      item.fail(error);
    }
  }

  async decodeAcm(item, bytes) {
    const result = await this.coder.request(
      { type: 'acm', bytes: bytes.buffer },
      [bytes.buffer],
      (fraction, stage) => item.showProgress(fraction, stage),
    );
    item.details.textContent = [
      duration(result.frames / result.sampleRate),
      channelsText(result.channels),
      `${result.sampleRate} Hz`,
      `${result.bitsPerSample.toFixed(2)} bits per sample`,
    ].join(' · ');
    drawWaveform(item.canvas, result.peaks);
    item.canvas.setAttribute('aria-label', `Waveform of ${item.file.name}`);
    const wavName = `${baseName(item.file.name)}.wav`;
    const sound = async () => ({ kind: 'wav', bytes: new Uint8Array(await result.wav.arrayBuffer()) });
    this.addPlayButton(item, 'Play', 'decoded', sound);
    if (result.problems.length > 0) {
      // As talveco-decode does, a damaged file counts as failed; what could be decoded is
      // still offered, as its -F keeps it.
      item.setStatus('failed', `Failed: damaged: ${result.problems.join('; ')}`);
      item.offerDownload(result.wav, wavName, 'Download what could be decoded (WAV)');
      item.output = null;  // not in the zip of good outputs
      return;
    }
    item.offerDownload(result.wav, wavName, `Download ${wavName}`);
    item.setStatus('done');
  }

  // What the worker encodes: WAV files of linear samples as bytes (read exactly by the page's
  // own reader), other audio decoded here by the browser at the rate its header states.
  async source(item, bytes) {
    if (isWav(bytes) && linearCoding(bytes)) return { kind: 'wav', bytes: bytes.buffer };
    item.showProgress(null, 'decoding with the browser');
    const rate = statedRate(bytes);
    const buffer = await browserDecode(bytes, rate);
    const notes = rate === null ? [`the file's rate is not known to the page: the browser decoded it at ${buffer.sampleRate} Hz`] : [];
    const channelData = Array.from({ length: buffer.numberOfChannels }, (_, c) => buffer.getChannelData(c));
    return { kind: 'float', channelData, sampleRate: buffer.sampleRate, notes, format: item.file.type || 'audio' };
  }

  async encode(item, source, settings) {
    const transfer = {
      wav: () => [source.bytes],
      pcm: () => [source.samples.buffer],
      float: () => source.channelData.map((data) => data.buffer),
    }[source.kind]();
    const result = await this.coder.request(
      { type: 'encode', source, settings },
      transfer,
      (fraction, stage) => item.showProgress(fraction, stage),
    );
    this.showEncoded(item, result, settings);
  }

  showEncoded(item, result, settings) {
    item.forgetOutput();
    item.controls.replaceChildren();
    item.canvas.hidden = false;
    const setting = settings.bitrate !== undefined ? `${settings.bitrate} kbit/s` : `quality ${settings.quality}`;
    item.details.textContent = [
      `${duration(result.frames / result.sampleRate)} · ${channelsText(result.channels)} · ${result.sampleRate} Hz`,
      `ACM at ${setting}: ${sizeText(result.acm.size)}, ${result.bitsPerSample.toFixed(2)} bits per sample, SNR ${snrText(result.snr)}`,
    ].join(' — ');
    drawWaveform(item.canvas, result.peaks);
    item.canvas.setAttribute('aria-label', `Waveform of ${item.file.name}`);
    const pcm = (samples) => () => ({ kind: 'pcm', samples, channels: result.channels, sampleRate: result.sampleRate });
    this.addPlayButton(item, 'Play original', 'original', pcm(result.original));
    this.addPlayButton(item, 'Play encoded', 'encoded', pcm(result.encoded));
    const acmName = `${baseName(item.file.name)}.acm`;
    item.offerDownload(result.acm, acmName, `Download ${acmName}`);
    const again = element('button', { type: 'button', className: 'again', textContent: 'Encode again with the current setting' });
    again.addEventListener('click', () => {
      const next = this.settings();
      item.setStatus('working', 'Waiting…');
      this.player.stop();
      this.enqueue(async () => {
        try {
          await this.encode(item, { kind: 'pcm', samples: result.original.slice(), channels: result.channels, sampleRate: result.sampleRate, format: result.format }, next);
          item.setStatus('done');
        } catch (error) {
          item.fail(error);
        }
      });
    });
    item.controls.append(again);
    item.setStatus('done', result.notes.length > 0 ? `Note: ${result.notes.join('; ')}` : '');
  }

  addPlayButton(item, label, which, sound) {
    const button = element('button', { type: 'button', className: 'play', textContent: label });
    button.setAttribute('aria-pressed', 'false');
    button.dataset.which = which;
    button.addEventListener('click', () => this.player.toggle(item.node, which, button, sound));
    item.controls.append(button);
  }

  async downloadAll() {
    const done = this.items.filter((item) => item.output);
    $('#download-all').disabled = true;
    $('#summary').textContent = 'Packing the zip…';
    let outcome;
    try {
      const names = new Set();
      const entries = await Promise.all(done.map(async (item) => ({
        name: uniqueName(names, zipPath(item)),
        bytes: await item.output.blob.arrayBuffer(),
      })));
      const { zip } = await this.coder.request({ type: 'zip', entries }, entries.map((e) => e.bytes));
      saveBlob(zip, 'talveco.zip');
      outcome = `talveco.zip: ${done.length} files, ${sizeText(zip.size)}.`;
    } catch (error) {
      outcome = `The zip could not be made: ${error.message}`;
    }
    this.updateActions();
    $('#summary').textContent += `. ${outcome}`;
  }

  clear() {
    this.player.stop();
    for (const item of this.items) item.forget();
    this.items = [];
    this.updateActions();
  }

  updateActions() {
    const count = (status) => this.items.filter((item) => item.node.dataset.status === status).length;
    const ready = this.items.filter((item) => item.output).length;
    $('#download-all').disabled = ready === 0;
    $('#clear').disabled = this.items.length === 0;
    const parts = [`${count('done')} done`, `${count('working')} working`, `${count('failed')} failed`];
    $('#summary').textContent = this.items.length === 0 ? '' : parts.join(', ');
  }
}

// ---- Helpers that speak to the browser ----

// The output's name inside the zip: beside where its input was in a chosen folder.
function zipPath(item) {
  const folder = item.path.includes('/') ? item.path.slice(0, item.path.lastIndexOf('/') + 1) : '';
  return folder + item.output.name;
}

function uniqueName(taken, name) {
  let candidate = name;
  for (let n = 2; taken.has(candidate); n++) candidate = `${baseName(name)} (${n})${name.slice(baseName(name).length)}`;
  taken.add(candidate);
  return candidate;
}

function saveBlob(blob, name) {
  const link = element('a', { href: URL.createObjectURL(blob), download: name });
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

// Decodes in an offline context of the file's own rate, so that the browser does not resample.
async function browserDecode(bytes, rate) {
  const contextRate = rate !== null && rate >= 3000 && rate <= 768000 ? rate : 48000;
  const context = new OfflineAudioContext(1, 1, contextRate);
  try {
    return await context.decodeAudioData(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength));
  } catch {
    throw new Error('neither an ACM file nor audio this browser can decode');
  }
}

// Files and the files of folders dropped on the page, with their paths.
async function droppedFiles(transfer) {
  const entries = [...transfer.items].map((item) => item.webkitGetAsEntry?.()).filter(Boolean);
  if (entries.length === 0) return [...transfer.files].map((file) => ({ file, path: file.name }));
  const found = [];
  for (const entry of entries) await collect(entry, found);
  return found;
}

async function collect(entry, found) {
  if (entry.isFile) {
    const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
    found.push({ file, path: entry.fullPath.replace(/^\//, '') });
    return;
  }
  const reader = entry.createReader();
  for (;;) {
    const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
    if (batch.length === 0) return;
    for (const child of batch) await collect(child, found);
  }
}

new Page();
