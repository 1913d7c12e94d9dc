// The npm package under node, against the native programs: the streams of
// the C interface's corpus decoded as talveco-decode decodes them, encoded
// as talveco-encode encodes them, and every refusal a TalvecoError.
//
// scripts/test-web.sh makes what these tests read and runs them:
//   TALVECO_PACKAGE  the package's index.js (as unpacked from npm pack's .tgz)
//   TALVECO_CORPUS   make_api_streams' folder (streams.tsv and its files), with
//                    NAME.native.wav, talveco-decode -F's output for each
//                    mono or stereo decode stream, and sample.acm/sample.wav
import assert from 'node:assert/strict';
import {existsSync, readFileSync} from 'node:fs';
import {join} from 'node:path';
import {describe, test} from 'node:test';
import {pathToFileURL} from 'node:url';

const packagePath = process.env.TALVECO_PACKAGE;
const corpus = process.env.TALVECO_CORPUS;
if (!packagePath || !corpus) throw new Error('TALVECO_PACKAGE and TALVECO_CORPUS are needed');
const talveco = await import(pathToFileURL(packagePath).href);
const {decode, decoder, info, encode, encoder, toWav, TalvecoError} = talveco;

const file = (name) => new Uint8Array(readFileSync(join(corpus, name)));
const int16 = (name) => {
  const bytes = file(name);
  return new Int16Array(bytes.buffer, bytes.byteOffset, bytes.byteLength / 2);
};
const float32 = (name) => {
  const bytes = file(name);
  return new Float32Array(bytes.buffer, bytes.byteOffset, bytes.byteLength / 4);
};

const rows = readFileSync(join(corpus, 'streams.tsv'), 'utf8')
                 .trim()
                 .split('\n')
                 .map((line) => line.split('\t'));
const decodeRows = rows.filter((row) => row[0] === 'decode');
const encodeRows = rows.filter((row) => row[0] === 'encode');

// The ACM header's fields, read here independently of the module.
function header(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const packed = view.getUint16(12, true);
  return {
    samples: view.getUint32(4, true),
    channels: view.getUint16(8, true),
    sampleRate: view.getUint16(10, true),
    levels: packed & 15,
    rows: packed >> 4,
  };
}

function sameSamples(actual, expected, what) {
  assert.equal(actual.length, expected.length, `${what}: sample count`);
  const first = actual.findIndex((value, i) => value !== expected[i]);
  assert.equal(first, -1, `${what}: first different sample at ${first}`);
}

async function rejectsWith(promise, kind, pattern) {
  await assert.rejects(promise, (error) => {
    assert.ok(error instanceof TalvecoError, `not a TalvecoError: ${error}`);
    assert.equal(error.kind, kind, error.message);
    if (pattern) assert.match(error.message, pattern);
    return true;
  });
}

describe('decoding matches the native library and talveco-decode', () => {
  for (const [, name, damaged, pastEnd] of decodeRows) {
    test(name, async () => {
      const stream = file(`${name}.acm`);
      const library = int16(`${name}.pcm`);
      const d = await decode(stream);
      const fields = header(stream);
      const channels = Math.max(fields.channels, 1);
      assert.equal(d.channels, channels);
      assert.equal(d.sampleRate, fields.sampleRate);
      assert.deepEqual([d.levels, d.rows], [fields.levels, fields.rows]);
      // What the library decodes from the data (not what it makes up past
      // its end), in whole frames as talveco-decode keeps them.
      const fromData = library.length - Number(pastEnd);
      const expected = library.subarray(0, fromData - (fromData % channels));
      sameSamples(d.samples, expected, name);
      const counts = Object.fromEntries(d.problems.map((p) => [p.kind, p.count]));
      assert.equal(counts.DamagedBlocks ?? 0, Number(damaged), 'damaged blocks');
      const announced = fields.samples - (fields.samples % channels);
      assert.equal(counts.Truncated ?? 0, Number(pastEnd) > 0 ? announced - expected.length : 0);
      // talveco-decode writes mono and stereo at a rate above 0; its -F output
      // goes on past the end of a file cut short.
      const native = `${name}.native.wav`;
      const written = [1, 2].includes(fields.channels) && fields.sampleRate > 0;
      assert.equal(existsSync(join(corpus, native)), written, `${native} made by talveco-decode`);
      if (!written) return;
      const wav = toWav(d);
      if (Number(pastEnd) === 0) {
        assert.deepEqual(wav, file(native), 'the WAV file talveco-decode writes');
      } else {
        assert.deepEqual(wav.subarray(8, 36), file(native).subarray(8, 36), 'format');
        assert.deepEqual(wav.subarray(44), file(native).subarray(44, wav.length), 'samples');
      }
    });
  }

  test('the sample file', async () => {
    const d = await decode(file('sample.acm'));
    assert.equal(d.problems.length, 0);
    assert.deepEqual(toWav(d), file('sample.wav'));
  });

  test('a damaged stream names each problem in the programs words', async () => {
    const damaged = await decode(file('damaged.acm'));
    assert.deepEqual(
        damaged.problems.map((p) => p.message),
        ['1 damaged block could not be decoded and was skipped'],
    );
    const truncated = await decode(file('truncated.acm'));
    assert.match(
        truncated.problems[0].message,
        /^truncated: the file ends after \d+ of the \d+ samples announced$/);
  });

  test('a header announcing far more than its file holds costs nothing', async () => {
    const lie = file('stereo-7x16.acm').slice(0, 14);
    new DataView(lie.buffer).setUint32(4, 2 ** 30 - 2, true);
    const started = performance.now();
    const d = await decode(lie);
    assert.ok(performance.now() - started < 2000, 'decoded at once');
    assert.equal(d.samples.length, 0);
    assert.deepEqual(d.problems.map((p) => [p.kind, p.count]), [['Truncated', 2 ** 30 - 2]]);
    const chunks = [];
    for await (const chunk of await decoder(lie)) chunks.push(chunk);
    assert.deepEqual(chunks, []);
  });

  test('strict decoding fails at the first damage', async () => {
    await rejectsWith(
        decode(file('damaged.acm'), {strict: true}), 'DamagedBlocks', /damaged block/);
    await rejectsWith(decode(file('truncated.acm'), {strict: true}), 'Truncated', /truncated/);
    const whole = await decode(file('wide-15x2.acm'), {strict: true});
    sameSamples(whole.samples, int16('wide-15x2.pcm'), 'a whole stream');
  });

  test('info gives the header without decoding', async () => {
    for (const name of ['stereo-7x16', 'mono-0x1', 'three-channels', 'empty']) {
      const stream = file(`${name}.acm`);
      const fields = header(stream);
      const i = await info(stream);
      const channels = Math.max(fields.channels, 1);
      assert.deepEqual(i, {
        channels,
        sampleRate: fields.sampleRate,
        frames: Math.floor(fields.samples / channels),
        levels: fields.levels,
        rows: fields.rows,
        duration: fields.sampleRate ? Math.floor(fields.samples / channels) / fields.sampleRate : 0,
      });
    }
  });
});

describe('the streaming decoder', () => {
  test('its chunks make up what decode gives, each small', async () => {
    const stream = file('wide-15x2.acm');
    const whole = await decode(stream);
    const d = await decoder(stream);
    assert.equal(d.frames * d.channels, whole.samples.length);
    const chunks = [];
    for await (const chunk of d) chunks.push(chunk);
    assert.ok(chunks.length > 1, 'more than one chunk');
    assert.ok(chunks.every((c) => c.length <= 1 << 17 && c.length % d.channels === 0));
    const joined = new Int16Array(chunks.reduce((n, c) => n + c.length, 0));
    chunks.reduce((at, c) => (joined.set(c, at), at + c.length), 0);
    sameSamples(joined, whole.samples, 'chunks');
    assert.deepEqual(d.problems, []);
  });

  test('names the damage it met and stops early in strict mode', async () => {
    const d = await decoder(file('damaged-twice.acm'));
    for await (const chunk of d) assert.ok(chunk.length > 0);
    assert.deepEqual(
        d.problems.map((p) => p.kind),
        ['DamagedBlocks', 'EndsEarly'],
    );
    const strict = await decoder(file('damaged.acm'), {strict: true});
    await rejectsWith(
        (async () => {
          for await (const chunk of strict) void chunk;
        })(),
        'DamagedBlocks');
  });

  test('leaving the loop early frees the decoder and the module goes on', async () => {
    for (let i = 0; i < 50; ++i) {
      const d = await decoder(file('wide-15x2.acm'));
      for await (const chunk of d) {
        void chunk;
        break;
      }
    }
    const again = await decode(file('mono-0x1.acm'));
    sameSamples(again.samples, int16('mono-0x1.pcm'), 'after early exits');
  });
});

function settingsOf([, , channels, rate, , quality, bitrate, levels, rows]) {
  const options = {channels: Number(channels), sampleRate: Number(rate)};
  if (quality !== '-') options.quality = Number(quality);
  if (bitrate !== '-') options.bitrate = Number(bitrate);
  if (levels !== '-') options.levels = Number(levels);
  if (rows !== '-') options.rows = Number(rows);
  return options;
}

describe('encoding matches talveco-encode byte for byte', () => {
  for (const row of encodeRows) {
    const [, name, , , format] = row;
    const samples = () => (format === 'float32' ? float32(`${name}.f32`) : int16(`${name}.pcm`));
    test(name, async () => {
      const acm = await encode(samples(), settingsOf(row));
      assert.ok(acm instanceof Uint8Array);
      assert.deepEqual(acm, file(`${name}.acm`));
    });
    test(`${name}, written in uneven pieces`, async () => {
      const all = samples();
      const settings = settingsOf(row);
      const writer = await encoder(settings);
      const frame = settings.channels;
      for (let at = 0, step = 7; at < all.length;
           at += step * frame, step = (step * 5) % 4099 + 1) {
        writer.write(all.subarray(at, Math.min(all.length, at + step * frame)));
      }
      const report = writer.finish();
      assert.deepEqual(report.bytes, file(`${name}.acm`));
      assert.equal(report.samples, all.length);
      assert.equal(report.streamBytes, report.bytes.length);
      const fields = header(report.bytes);
      assert.deepEqual([report.levels, report.rows], [fields.levels, fields.rows]);
    });
  }

  test('the report counts clipped floats and NaN', async () => {
    const writer = await encoder({channels: 1, sampleRate: 8000});
    writer.write(new Float32Array([0.5, 1.5, -2, NaN, 0, 0.25, NaN, 0]));
    const report = writer.finish();
    assert.equal(report.clipped, 2);
    assert.equal(report.notNumbers, 2);
    const back = await decode(report.bytes);
    assert.equal(back.samples.length, 8);
  });

  test('a stream encoded here decodes to what it was made from, near enough', async () => {
    const input = int16('stereo-q9.pcm');
    const acm = await encode(input, {channels: 2, sampleRate: 44100, quality: 9});
    const d = await decode(acm);
    let signal = 0;
    let noise = 0;
    input.forEach((value, i) => {
      signal += value * value;
      noise += (value - d.samples[i]) ** 2;
    });
    assert.equal(d.samples.length, input.length);
    assert.ok(10 * Math.log10(signal / noise) > 20, 'SNR above 20 dB');
  });
});

describe('refusals are TalvecoErrors and leave the module working', () => {
  const stereo = new Int16Array(2000);
  const notAcm = new TextEncoder().encode('RIFF....WAVEfmt this is no ACM stream at all');
  const cases = [
    ['not ACM', () => decode(notAcm), 'NotAcmFile', /does not appear to be a valid ACM file/],
    ['empty input', () => decode(new Uint8Array(0)), 'NotAcmFile'],
    ['a header cut short', () => info(file('stereo-7x16.acm').subarray(0, 9)), 'NotAcmFile'],
    ['a string to decode', () => decode('stereo.acm'), 'InvalidArgument'],
    ['an array to decode', () => decode([0x97, 0x28, 3, 1]), 'InvalidArgument'],
    ['a Float32Array to decode', () => info(new Float32Array(16)), 'InvalidArgument'],
    [
      'decode options that are no object', () => decode(file('empty.acm'), 'strict'),
      'InvalidArgument'
    ],
    ['no encode options', () => encode(stereo), 'InvalidArgument'],
    [
      'an array to encode', () => encode([1, 2], {channels: 2, sampleRate: 8000}), 'InvalidArgument'
    ],
    [
      'an Int32Array to encode', () => encode(new Int32Array(4), {channels: 2, sampleRate: 8000}),
      'InvalidArgument'
    ],
    ['no channels', () => encode(stereo, {sampleRate: 8000}), 'InvalidArgument'],
    [
      'channels as text', () => encode(stereo, {channels: '2', sampleRate: 8000}), 'InvalidArgument'
    ],
    ['half a channel', () => encode(stereo, {channels: 1.5, sampleRate: 8000}), 'InvalidArgument'],
    [
      '0 channels', () => encode(stereo, {channels: 0, sampleRate: 8000}), 'OutsideLimits',
      /channels/
    ],
    ['65536 channels', () => encode(stereo, {channels: 65536, sampleRate: 8000}), 'OutsideLimits'],
    [
      'channels that wrap to 2', () => encode(stereo, {channels: 2 ** 32 + 2, sampleRate: 8000}),
      'OutsideLimits'
    ],
    ['negative channels', () => encode(stereo, {channels: -2, sampleRate: 8000}), 'OutsideLimits'],
    ['a rate of 0', () => encode(stereo, {channels: 2, sampleRate: 0}), 'OutsideLimits', /rate/],
    ['a rate of 65536', () => encode(stereo, {channels: 2, sampleRate: 65536}), 'OutsideLimits'],
    [
      'a rate that wraps to 8000', () => encode(stereo, {channels: 2, sampleRate: 2 ** 32 + 8000}),
      'OutsideLimits'
    ],
    ['a rate of NaN', () => encode(stereo, {channels: 2, sampleRate: NaN}), 'InvalidArgument'],
    [
      'quality 11', () => encode(stereo, {channels: 2, sampleRate: 8000, quality: 11}),
      'OutsideLimits', /quality/
    ],
    [
      'quality -1', () => encode(stereo, {channels: 2, sampleRate: 8000, quality: -1}),
      'OutsideLimits'
    ],
    [
      'quality NaN', () => encode(stereo, {channels: 2, sampleRate: 8000, quality: NaN}),
      'InvalidArgument'
    ],
    [
      'a bitrate below 1 kbit/s',
      () => encode(stereo, {channels: 2, sampleRate: 8000, bitrate: 0.5}), 'OutsideLimits'
    ],
    [
      'a bitrate beyond 16 bits a value',
      () => encode(stereo, {channels: 2, sampleRate: 8000, bitrate: 257}), 'OutsideLimits'
    ],
    [
      'quality and bitrate',
      () => encode(stereo, {channels: 2, sampleRate: 8000, quality: 5, bitrate: 64}),
      'InvalidArgument'
    ],
    [
      '16 levels', () => encode(stereo, {channels: 2, sampleRate: 8000, levels: 16}),
      'OutsideLimits', /levels/
    ],
    [
      'levels that wrap to automatic',
      () => encode(stereo, {channels: 2, sampleRate: 8000, levels: 2 ** 32 - 1}), 'OutsideLimits'
    ],
    [
      '0 rows', () => encode(stereo, {channels: 2, sampleRate: 8000, rows: 0}), 'OutsideLimits',
      /rows/
    ],
    [
      '4096 rows', () => encode(stereo, {channels: 2, sampleRate: 8000, rows: 4096}),
      'OutsideLimits'
    ],
    [
      'half a frame', () => encode(new Int16Array(3), {channels: 2, sampleRate: 8000}),
      'PartialFrame'
    ],
    [
      'half a frame of floats', () => encode(new Float32Array(3), {channels: 2, sampleRate: 8000}),
      'PartialFrame'
    ],
    [
      'WAV of three channels', async () => toWav(await decode(file('three-channels.acm'))),
      'OutsideLimits', /only mono and stereo/
    ],
    [
      'WAV of no decode', async () => toWav({channels: 2, sampleRate: 8000, samples: [1, 2]}),
      'InvalidArgument'
    ],
  ];
  for (const [what, call, kind, pattern] of cases) {
    test(what, () => rejectsWith(call(), kind, pattern));
  }

  test('a finished encoder takes no more calls', async () => {
    const writer = await encoder({channels: 1, sampleRate: 8000});
    writer.write(new Int16Array(100));
    writer.finish();
    assert.throws(
        () => writer.write(new Int16Array(2)),
        (e) => e instanceof TalvecoError && e.kind === 'InvalidCall');
    assert.throws(
        () => writer.finish(), (e) => e instanceof TalvecoError && e.kind === 'InvalidCall');
  });

  test('a failed encoder fails every later call', async () => {
    const writer = await encoder({channels: 2, sampleRate: 8000});
    assert.throws(() => writer.write(new Int16Array(3)), (e) => e.kind === 'PartialFrame');
    assert.throws(() => writer.write(new Int16Array(2)), (e) => e.kind === 'FailedEarlier');
    writer.close();
  });

  test('after every refusal the module still decodes and encodes', async () => {
    const d = await decode(file('wide-15x2.acm'));
    sameSamples(d.samples, int16('wide-15x2.pcm'), 'after the refusals');
    const acm = await encode(int16('speech-default.pcm'), {channels: 1, sampleRate: 22050});
    assert.deepEqual(acm, file('speech-default.acm'));
  });
});

describe('a long input, beyond what the encoder keeps in memory', () => {
  // The 16-bit stereo samples of make_long_wav.mjs's plain 44-byte WAV header.
  const input = () => {
    const wav = file('long.wav');
    return new Int16Array(wav.buffer, wav.byteOffset + 44, (wav.byteLength - 44) / 2);
  };

  test('encodes as talveco-encode -q 5', async () => {
    const acm = await encode(input(), {channels: 2, sampleRate: 22050, quality: 5});
    assert.deepEqual(acm, file('long.acm'));
  });

  test('decodes as talveco-decode, whole and in chunks', async () => {
    const d = await decode(file('long.acm'));
    assert.deepEqual(toWav(d), file('long.native.wav'));
    const native = file('long.native.wav').subarray(44);
    let at = 0;
    for await (const chunk of await decoder(file('long.acm'))) {
      const bytes = new Uint8Array(chunk.buffer, chunk.byteOffset, chunk.byteLength);
      assert.deepEqual(bytes, native.subarray(at, at + bytes.length), `chunk at byte ${at}`);
      at += bytes.length;
    }
    assert.equal(at, native.length);
  });
});

describe('loading the module', () => {
  // A second instance of the package's module, loaded before any call.
  const fresh = (tag) => import(`${pathToFileURL(packagePath).href}?${tag}`);
  const wasm = new URL('talveco.wasm', pathToFileURL(packagePath));

  test('a module that will not load is an IoError, and a later load may succeed', async () => {
    const second = await fresh('failing-load');
    await assert.rejects(second.init(new Uint8Array([0, 97, 115, 109, 9, 9])), (error) => {
      assert.ok(error instanceof second.TalvecoError);
      assert.equal(error.kind, 'IoError');
      assert.match(error.message, /cannot load talveco.wasm/);
      return true;
    });
    await second.init(new Uint8Array(readFileSync(wasm)));
    const d = await second.decode(file('mono-0x1.acm'));
    sameSamples(d.samples, int16('mono-0x1.pcm'), 'after a failed load');
  });

  test('the module may be given as a URL or a compiled WebAssembly.Module', async () => {
    const byUrl = await fresh('by-url');
    await byUrl.init(wasm);
    assert.equal(
        await byUrl.version(),
        JSON.parse(readFileSync(new URL('package.json', pathToFileURL(packagePath)), 'utf8'))
            .version);
    const byModule = await fresh('by-module');
    await byModule.init(new WebAssembly.Module(readFileSync(wasm)));
    assert.equal((await byModule.info(file('wide-15x2.acm'))).levels, 15);
  });
});
