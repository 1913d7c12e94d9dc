// The page's own readers and measures under node: the WAV reader must give the samples
// talveco-encode reads (libsndfile's scaling, rounding halves away from zero), the rate sniffer
// the rates the files state, the measures the numbers talveco-encode's summary prints.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { linearCoding, readWav, WavError } from '../site/wav.js';
import { isAcm, isWav, statedRate } from '../site/sniff.js';
import { bitsPerSample, peaks } from '../site/measure.js';
import { sixteenBitsFromDecoded } from '../site/decoded.js';

// A WAV file from its parts, so each test states only what it is about.
function wav({ code = 1, channels = 1, rate = 8000, bits = 16, data, dataSize, before = [], extensible = false }) {
  const fmtSize = extensible ? 40 : 16;
  const chunks = [];
  const chunk = (id, body, size = body.length) => {
    const head = new Uint8Array(8);
    head.set([...id].map((c) => c.charCodeAt(0)));
    new DataView(head.buffer).setUint32(4, size, true);
    chunks.push(head, body);
    if (body.length & 1) chunks.push(new Uint8Array(1));
  };
  for (const [id, body] of before) chunk(id, body);
  const fmt = new DataView(new ArrayBuffer(fmtSize));
  fmt.setUint16(0, extensible ? 0xfffe : code, true);
  fmt.setUint16(2, channels, true);
  fmt.setUint32(4, rate, true);
  fmt.setUint32(8, (rate * channels * bits) / 8, true);
  fmt.setUint16(12, (channels * bits) / 8, true);
  fmt.setUint16(14, bits, true);
  if (extensible) {
    fmt.setUint16(16, 22, true);
    fmt.setUint16(18, bits, true);
    fmt.setUint16(24, code, true);
  }
  chunk('fmt ', new Uint8Array(fmt.buffer));
  chunk('data', data, dataSize ?? data.length);
  const body = new Uint8Array(chunks.reduce((n, c) => n + c.length, 0));
  let at = 0;
  for (const c of chunks) {
    body.set(c, at);
    at += c.length;
  }
  const out = new Uint8Array(12 + body.length);
  out.set([...'RIFF'].map((c) => c.charCodeAt(0)));
  new DataView(out.buffer).setUint32(4, 4 + body.length, true);
  out.set([...'WAVE'].map((c) => c.charCodeAt(0)), 8);
  out.set(body, 12);
  return out;
}

const bytesOf = (TypedArray, values) => new Uint8Array(TypedArray.from(values).buffer);
const int24 = (values) => new Uint8Array(values.flatMap((v) => [v & 0xff, (v >> 8) & 0xff, (v >> 16) & 0xff]));

test('WAV samples come out as talveco-encode reads them', async (t) => {
  const cases = [
    { name: '16-bit as they are', file: { bits: 16, channels: 2, data: bytesOf(Int16Array, [-32768, 32767, 1, -1]) }, samples: [-32768, 32767, 1, -1] },
    { name: '8-bit unsigned, shifted to 16', file: { bits: 8, data: new Uint8Array([0, 128, 255, 1]) }, samples: [-32768, 0, 32512, -32512] },
    // 24-bit v is v/256 in 16 bits: halves go away from zero, the top value rounds to 32767
    // and counts as beyond full scale, as the native rounding has it.
    { name: '24-bit rounded to nearest, halves away from zero', file: { bits: 24, data: int24([0x80, -0x80, 0x7f, -0x7f, 0x17f, 0x7fffff, -0x800000]) }, samples: [1, -1, 0, 0, 1, 32767, -32768], clipped: 1 },
    { name: '32-bit integers rounded', file: { bits: 32, data: bytesOf(Int32Array, [0x8000, -0x8000, 0x7fff, 0x10000]) }, samples: [1, -1, 0, 1] },
    { name: 'float clipped beyond full scale, NaN silent', file: { code: 3, bits: 32, data: bytesOf(Float32Array, [1.5, -2, NaN, -1, 0.5, -0.5 / 32768]) }, samples: [32767, -32768, 0, -32768, 16384, -1], clipped: 2, notNumbers: 1 },
    { name: 'double precision float', file: { code: 3, bits: 64, data: bytesOf(Float64Array, [0.25, -0.25, 1.4 / 32768]) }, samples: [8192, -8192, 1] },
    { name: 'extensible header naming PCM', file: { extensible: true, bits: 16, data: bytesOf(Int16Array, [5, -5]) }, samples: [5, -5] },
    { name: 'odd-sized chunk before fmt is skipped with its pad byte', file: { before: [['LIST', new Uint8Array([1, 2, 3])]], data: bytesOf(Int16Array, [7, 8]) }, samples: [7, 8] },
  ];
  for (const { name, file, samples, clipped = 0, notNumbers = 0 } of cases) {
    await t.test(name, () => {
      const read = readWav(wav(file));
      assert.deepEqual([...read.samples], samples);
      assert.equal(read.clipped, clipped);
      assert.equal(read.notNumbers, notNumbers);
      assert.equal(read.channels, file.channels ?? 1);
      assert.equal(read.sampleRate, 8000);
    });
  }
});

test('a data chunk shorter than its header says', async (t) => {
  const frames = bytesOf(Int16Array, [1, 2, 3, 4]);  // two stereo frames
  await t.test('is read to its end in whole frames, with a note', () => {
    const read = readWav(wav({ channels: 2, data: frames, dataSize: 100 }));
    assert.deepEqual([...read.samples], [1, 2, 3, 4]);
    assert.match(read.notes.join(), /announces 100 bytes of audio, the file holds 8/);
  });
  await t.test('of unknown length, as a pipe leaves it, is read without a note', () => {
    const read = readWav(wav({ channels: 2, data: frames, dataSize: 0xffffffff }));
    assert.deepEqual([...read.samples], [1, 2, 3, 4]);
    assert.deepEqual(read.notes, []);
  });
  await t.test('ending inside a frame is refused', () => {
    assert.throws(() => readWav(wav({ channels: 2, data: frames.subarray(0, 6), dataSize: 100 })), /middle of a frame/);
  });
});

test('WAV files the reader cannot take are refused with the reason', () => {
  const cases = [
    [wav({ code: 2, bits: 4, data: new Uint8Array(4) }), /not linear PCM or float/],
    [wav({ code: 1, bits: 12, data: new Uint8Array(4) }), /not linear PCM or float/],
    [wav({ rate: 0, data: new Uint8Array(4) }), /not a sample rate/],
    [new TextEncoder().encode('RIFF\0\0\0\0WAVEdata\0\0\0\0'), /no fmt chunk/],
    [new TextEncoder().encode('not a wave file at all'), /not a RIFF WAVE/],
  ];
  for (const [bytes, message] of cases) {
    assert.throws(() => readWav(bytes), (error) => error instanceof WavError && message.test(error.message));
  }
});

test('WAV files of other codings are left to the browser, faulty ones to the reader', () => {
  assert.equal(linearCoding(wav({ code: 7, bits: 8, data: new Uint8Array(4) })), false);  // mu-law
  assert.equal(linearCoding(wav({ code: 2, bits: 4, data: new Uint8Array(4) })), false);  // ADPCM
  assert.equal(linearCoding(wav({ code: 3, bits: 32, data: new Uint8Array(8) })), true);
  assert.equal(linearCoding(wav({ rate: 0, data: new Uint8Array(4) })), true);
  assert.equal(linearCoding(new TextEncoder().encode('RIFF\0\0\0\0WAVE')), true);
});

test('files are told apart by their first bytes, not their names', () => {
  assert.equal(isAcm(new Uint8Array([0x97, 0x28, 0x03, 0x01, 0])), true);
  assert.equal(isAcm(new Uint8Array([0x97, 0x28, 0x03, 0x02, 0])), false);
  assert.equal(isAcm(new Uint8Array([0x97, 0x28])), false);
  assert.equal(isWav(wav({ data: new Uint8Array(2) })), true);
  assert.equal(isWav(new TextEncoder().encode('RIFF\0\0\0\0AVI LIST')), false);
});

test('the rate a compressed file states', async (t) => {
  const folder = mkdtempSync(join(tmpdir(), 'talveco-sniff-'));
  t.after(() => rmSync(folder, { recursive: true, force: true }));
  for (const [file, rate] of [['a.flac', 16000], ['b.ogg', 22050], ['c.flac', 96000]]) {
    await t.test(`${file} made by sox at ${rate} Hz`, () => {
      const path = join(folder, file);
      execFileSync('sox', ['-n', '-r', String(rate), '-c', '1', path, 'synth', '0.1', 'sine', '440']);
      assert.equal(statedRate(readFileSync(path)), rate);
    });
  }
  // Layer III frames: a header, then zeros up to the frame's length (from its bitrate and
  // rate), and the next header.
  const frames = (header, length, count = 2) =>
    Array.from({ length: count }, () => [...header, ...new Array(length - 4).fill(0)]).flat();
  // A tag of 70000 bytes (cover art), its size in 7-bit bytes: more than the search would
  // look through for a frame.
  const id3 = [0x49, 0x44, 0x33, 4, 0, 0, 0, 4, 34, 112, ...new Array(70000).fill(0)];
  const cases = [
    ['MPEG 1, 128 kbit/s', frames([0xff, 0xfb, 0x90, 0x00], 417), 44100],
    ['MPEG 2, 64 kbit/s, padded', frames([0xff, 0xf3, 0x86, 0x00], 193), 24000],
    ['MPEG 2.5, 64 kbit/s', frames([0xff, 0xe3, 0x88, 0x00], 576), 8000],
    ['a single frame that ends the file', frames([0xff, 0xfb, 0x94, 0x00], 384, 1), 48000],
    ['behind a large ID3 tag', [...id3, ...frames([0xff, 0xfb, 0x94, 0x00], 384)], 48000],
    ['a sync pattern with no frame after it', [0xff, 0xfb, 0x90, 0x00, ...new Array(1000).fill(7)], null],
    ['nothing known', [1, 2, 3, 4, 5], null],
    ['WAV of another coding states its rate in fmt', [...wav({ code: 7, bits: 8, rate: 11025, data: new Uint8Array(8) })], 11025],
  ];
  for (const [name, bytes, rate] of cases) {
    await t.test(name, () => assert.equal(statedRate(new Uint8Array(bytes)), rate));
  }
});

test('bits per sample as talveco-encode states them', () => {
  assert.equal(bitsPerSample(100, 200), 4);
  assert.equal(bitsPerSample(14, 0), 0);
});

test('the waveform holds each column\'s lowest and highest sample of any channel', () => {
  // Stereo, four frames a column over two columns.
  const samples = Int16Array.of(0, 100, -200, 0, 50, 0, 0, 0, 16384, -16384, 0, 0, 0, 0, 0, 32767);
  const columns = [...peaks(samples, 2, 2)].map((v) => Math.round(v * 32768));
  assert.deepEqual(columns, [-200, 100, -16384, 32767]);
  assert.deepEqual([...peaks(Int16Array.of(), 1, 3)], [0, 0, 0, 0, 0, 0]);
});

test('audio the browser decoded comes back as its 16-bit samples', async (t) => {
  const ints = [-32768, -16385, -1, 0, 1, 16385, 32767];
  const scalings = [
    ['as Chromium scales them (negative by 32768, positive by 32767)', (v) => (v < 0 ? v / 32768 : v / 32767)],
    ['all by 32768', (v) => v / 32768],
    ['all by 32767', (v) => v / 32767],
  ];
  for (const [name, scale] of scalings) {
    await t.test(name, () => {
      const left = Float32Array.from(ints, scale);
      const right = Float32Array.from(ints.map((v) => -1 - v), scale);
      const { samples, exact, clipped } = sixteenBitsFromDecoded([left, right]);
      assert.deepEqual([...samples], ints.flatMap((v) => [v, -1 - v]));
      assert.equal(exact, true);
      assert.equal(clipped, 0);
    });
  }
  await t.test('values between the steps (lossy sources) are rounded as floating-point input', () => {
    const { samples, exact, clipped } = sixteenBitsFromDecoded([Float32Array.of(0.1, -0.1, 1.5, 0.5 / 32768)]);
    assert.deepEqual([...samples], [3277, -3277, 32767, 1]);
    assert.equal(exact, false);
    assert.equal(clipped, 1);
  });
});
