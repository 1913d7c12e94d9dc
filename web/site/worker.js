// All coding of the page happens here, so that the page stays responsive however long a file
// is: ACM files are decoded to WAV, other audio is encoded to ACM, and the zip of all outputs is
// packed. The page sends one file at a time.
//
// Everything handed back is transferred, not copied; results of the module are copied first
// (slice) in case they view the module's own memory, which a transfer would take away from it.
import * as talveco from './talveco/index.js';
import { zipSync } from './vendor/fflate.js';
import { readWav, sixteenBits } from './wav.js';
import { signalToNoise, peaks, bitsPerSample } from './measure.js';

const WAVEFORM_COLUMNS = 600;

function progress(id, fraction, stage) {
  postMessage({ type: 'progress', id, fraction, stage });
}

function describeProblems(problems) {
  return (problems ?? []).map((problem) =>
    typeof problem === 'string' ? problem : problem.message ?? JSON.stringify(problem),
  );
}

async function decodeAcm({ id, bytes }) {
  const input = new Uint8Array(bytes);
  progress(id, null, 'decoding');
  const decoded = await talveco.decode(input);
  const frames = decoded.samples.length / decoded.channels;
  const wav = talveco.toWav(decoded);
  return {
    channels: decoded.channels,
    sampleRate: decoded.sampleRate,
    frames,
    levels: decoded.levels,
    rows: decoded.rows,
    bitsPerSample: bitsPerSample(input.length, decoded.samples.length),
    problems: describeProblems(decoded.problems),
    peaks: peaks(decoded.samples, decoded.channels, WAVEFORM_COLUMNS),
    wav: wav.slice(),
  };
}

// Browser-decoded audio comes as one full-scale Float32Array per channel.
function interleave(channelData) {
  const channels = channelData.length;
  const frames = channelData[0].length;
  const samples = new Int16Array(frames * channels);
  const counts = { clipped: 0, notNumbers: 0 };
  for (let c = 0; c < channels; c++) {
    const data = channelData[c];
    for (let f = 0; f < frames; f++) samples[f * channels + c] = sixteenBits(data[f], counts);
  }
  return { samples, ...counts };
}

function readSource(source) {
  if (source.kind === 'wav') {
    const wav = readWav(new Uint8Array(source.bytes));
    const format = `${wav.bits}-bit ${wav.float ? 'float ' : ''}WAV`;
    return { ...wav, format };
  }
  if (source.kind === 'pcm') return { ...source, clipped: 0, notNumbers: 0, notes: [] };
  const { samples, clipped, notNumbers } = interleave(source.channelData);
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

async function encodeAudio({ id, source, settings }) {
  progress(id, null, 'reading');
  const input = readSource(source);
  if (input.samples.length === 0) throw new Error('it holds no audio');
  progress(id, null, 'encoding');
  const acm = await talveco.encode(input.samples, encoderSettings(input, settings));
  progress(id, null, 'checking');
  const decoded = await talveco.decode(acm);
  const notes = [...input.notes];
  if (input.clipped > 0) notes.push(`${input.clipped} samples beyond full scale were clipped`);
  if (input.notNumbers > 0) notes.push(`${input.notNumbers} samples that were not numbers were made silent`);
  return {
    channels: input.channels,
    sampleRate: input.sampleRate,
    frames: input.samples.length / input.channels,
    format: input.format,
    levels: decoded.levels,
    rows: decoded.rows,
    bitsPerSample: bitsPerSample(acm.length, input.samples.length),
    snr: signalToNoise(input.samples, decoded.samples),
    peaks: peaks(input.samples, input.channels, WAVEFORM_COLUMNS),
    notes,
    acm: acm.slice(),
    original: input.samples,
    encoded: decoded.samples.slice(),
  };
}

function zipOutputs({ entries }) {
  const files = {};
  for (const { name, bytes } of entries) files[name] = [new Uint8Array(bytes), { level: 0 }];
  return { zip: zipSync(files) };
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

postMessage({ type: 'ready', version: talveco.version ?? null });
