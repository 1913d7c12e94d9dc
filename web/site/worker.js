// All coding of the page happens here, so that the page stays responsive however long a file
// is: ACM files are decoded to WAV, other audio is encoded to ACM, and the zip of all outputs is
// packed. The page sends one file at a time.
// Everything handed back is transferred, not copied: the module's results are arrays of their
// own, never views of its memory. Outputs go back as Blobs, made here: a Blob of a long file
// takes the browser a while to store, and the page must not stop for it.
import * as talveco from './talveco/index.js';
import { zipSync } from './vendor/fflate.js';
import { readWav } from './wav.js';
import { sixteenBitsFromDecoded } from './decoded.js';
import { peaks, bitsPerSample } from './measure.js';

const WAVEFORM_COLUMNS = 600;
// Encoder writes of this many frames between progress reports.
const WRITE_FRAMES = 1 << 16;

// A reporter that posts only when the bar would move visibly, not once per chunk.
function progress(id, stage) {
  let shown = -1;
  postMessage({ type: 'progress', id, fraction: null, stage });
  return (fraction) => {
    if (fraction - shown < 0.01 && fraction < 1) return;
    shown = fraction;
    postMessage({ type: 'progress', id, fraction, stage });
  };
}

function describeProblems(problems) {
  return (problems ?? []).map((problem) => problem.message ?? String(problem));
}

// Decodes chunk by chunk, for the progress bar. The header's count may be far larger than what
// a damaged file holds, so the buffer grows with what arrives rather than trusting it.
async function decodeStream(id, input) {
  const stream = await talveco.decoder(input);
  const total = stream.frames * stream.channels;
  const report = progress(id, 'decoding');
  let samples = new Int16Array(Math.min(total, Math.max(1 << 17, 64 * input.length)));
  let length = 0;
  for await (const chunk of stream) {
    if (length + chunk.length > samples.length) {
      const larger = new Int16Array(Math.min(total, 2 * samples.length + chunk.length));
      larger.set(samples);
      samples = larger;
    }
    samples.set(chunk, length);
    length += chunk.length;
    report(length / total);
  }
  const { channels, sampleRate, levels, rows, problems } = stream;
  return { channels, sampleRate, levels, rows, problems, samples: length === samples.length ? samples : samples.slice(0, length) };
}

async function decodeAcm({ id, bytes }) {
  const input = new Uint8Array(bytes);
  const decoded = await decodeStream(id, input);
  const wav = talveco.toWav(decoded);
  return {
    channels: decoded.channels,
    sampleRate: decoded.sampleRate,
    frames: decoded.samples.length / decoded.channels,
    levels: decoded.levels,
    rows: decoded.rows,
    bitsPerSample: bitsPerSample(input.length, decoded.samples.length),
    problems: describeProblems(decoded.problems),
    peaks: peaks(decoded.samples, decoded.channels, WAVEFORM_COLUMNS),
    wav: new Blob([wav], { type: 'audio/wav' }),
  };
}

function readSource(source) {
  if (source.kind === 'wav') {
    const wav = readWav(new Uint8Array(source.bytes));
    const format = `${wav.bits}-bit ${wav.float ? 'float ' : ''}WAV`;
    return { ...wav, format };
  }
  if (source.kind === 'pcm') return { ...source, clipped: 0, notNumbers: 0, notes: [] };
  const { samples, clipped, notNumbers } = sixteenBitsFromDecoded(source.channelData);
  return {
    channels: source.channelData.length,
    sampleRate: source.sampleRate,
    samples,
    clipped,
    notNumbers,
    notes: source.notes ?? [],
    format: source.format,
  };
}

function encoderSettings(input, settings) {
  const base = { channels: input.channels, sampleRate: input.sampleRate };
  if (settings.bitrate !== undefined) return { ...base, bitrate: settings.bitrate };
  return { ...base, quality: settings.quality };
}

// The samples go in by pieces, for the progress bar; the stream does not depend on the pieces.
// The encoder codes the most once it has them all (the levels must suit the whole sound).
async function encodeSamples(id, input, settings) {
  const encoder = await talveco.encoder(encoderSettings(input, settings));
  try {
    const report = progress(id, 'reading');
    const piece = WRITE_FRAMES * input.channels;
    for (let at = 0; at < input.samples.length; at += piece) {
      encoder.write(input.samples.subarray(at, at + piece));
      report(Math.min(1, (at + piece) / input.samples.length));
    }
    progress(id, 'encoding');
    return encoder.finish();
  } finally {
    encoder.close();
  }
}

async function encodeAudio({ id, source, settings }) {
  progress(id, 'reading');
  const input = readSource(source);
  if (input.samples.length === 0) throw new Error('it holds no audio');
  const encoded = await encodeSamples(id, input, settings);
  progress(id, 'decoding the result');
  const decoded = await talveco.decode(encoded.bytes);
  const notes = [...input.notes];
  if (input.clipped > 0) notes.push(`${input.clipped} samples beyond full scale were clipped`);
  if (input.notNumbers > 0) notes.push(`${input.notNumbers} samples that were not numbers were made silent`);
  return {
    channels: input.channels,
    sampleRate: input.sampleRate,
    frames: input.samples.length / input.channels,
    format: input.format,
    levels: encoded.levels,
    rows: encoded.rows,
    bitsPerSample: encoded.bitsPerSample,
    snr: encoded.snrDb,
    peaks: peaks(input.samples, input.channels, WAVEFORM_COLUMNS),
    notes,
    acm: new Blob([encoded.bytes], { type: 'application/octet-stream' }),
    original: input.samples,
    encoded: decoded.samples,
  };
}

function zipOutputs({ entries }) {
  const files = {};
  for (const { name, bytes } of entries) files[name] = [new Uint8Array(bytes), { level: 0 }];
  return { zip: new Blob([zipSync(files)], { type: 'application/zip' }) };
}

const handlers = { acm: decodeAcm, encode: encodeAudio, zip: zipOutputs };

function transferables(result) {
  return Object.values(result)
    .filter((value) => ArrayBuffer.isView(value))
    .map((view) => view.buffer);
}

function errorText(error) {
  if (error instanceof Error) return error.message || error.name;
  return String(error);
}

onmessage = async ({ data }) => {
  try {
    const result = await handlers[data.type](data);
    postMessage({ type: 'result', id: data.id, result }, transferables(result));
  } catch (error) {
    postMessage({ type: 'error', id: data.id, message: errorText(error), kind: error?.kind });
  }
};

// Reached only once every import has loaded. The module's WebAssembly loads now too, while the
// page is being looked at; a failure here is met again, and reported, by the first file.
talveco.init().catch(() => {});
postMessage({ type: 'ready' });
