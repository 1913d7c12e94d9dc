// talveco: ACM audio streams to 16-bit samples and back, in browsers and in
// node, through talveco's C interface compiled to WebAssembly (talveco.wasm,
// beside this file). The module is loaded on the first call, or by init().

const AUTOMATIC = 0xffffffff;
const UINT32_MAX = 0xffffffff;
// Samples decoded per call into the module: large enough that the calls cost
// nothing, small enough that a streaming reader holds little.
const PIECE_SAMPLES = 1 << 17;
// Samples converted to doubles and written per call when encoding floats.
const FLOAT_PIECE = 1 << 16;
// The output of decode() starts at this many samples per input byte (coded
// sound takes more than 1/8 bit a sample) and grows as samples arrive, so a
// header announcing far more than its file holds costs no memory up front.
const SAMPLES_PER_BYTE = 64;
// What the module answers to the system calls it never needs here (opening
// files, changing modes): "not supported".
const ENOSYS = 52;
const TALVECO_E_INVALID_ARGUMENT = 64;

/**
 * A failure: `kind` names it as the C and Python interfaces do ("NotAcmFile",
 * "OutsideLimits", "PartialFrame", "InvalidArgument", ...; "DamagedBlocks" and
 * "Truncated" for a strict decode), `message` in the talveco programs' words.
 */
export class TalvecoError extends Error {
  constructor(kind, message, code = 0) {
    super(message);
    this.name = 'TalvecoError';
    this.kind = kind;
    this.code = code;
  }
}

function invalid(message) {
  return new TalvecoError('InvalidArgument', message, TALVECO_E_INVALID_ARGUMENT);
}

// ---- Loading ----

let loading = null;

/**
 * Loads the module once; later calls return the same promise. `source` may
 * be the module's bytes, a URL, a Response or a WebAssembly.Module, for
 * hosts that keep talveco.wasm elsewhere; by default it is read from beside
 * this file (fetch in browsers, the file system in node).
 */
export function init(source) {
  if (!loading) {
    loading = instantiate(source).catch((error) => {
      loading = null;  // a failed load may be retried
      throw error instanceof TalvecoError ?
          error :
          new TalvecoError('IoError', `cannot load talveco.wasm: ${error.message ?? error}`);
    });
  }
  return loading;
}

async function instantiate(source) {
  const host = new Host();
  const imports = host.imports();
  let result;
  if (source instanceof WebAssembly.Module) {
    result = {instance: await WebAssembly.instantiate(source, imports)};
  } else {
    result = await WebAssembly.instantiate(await wasmBytes(source), imports);
  }
  return new Codec(result.instance, host);
}

async function wasmBytes(source) {
  if (source instanceof ArrayBuffer || ArrayBuffer.isView(source)) return source;
  if (typeof Response !== 'undefined' && source instanceof Response) return source.arrayBuffer();
  const base = globalThis.location?.href ?? import.meta.url;
  const url =
      source === undefined ? new URL('talveco.wasm', import.meta.url) : new URL(source, base);
  if (url.protocol === 'file:') {
    // Reached in node only; bundlers for the browser are told to leave it.
    const {readFile} =
        await import(/* webpackIgnore: true */ /* @vite-ignore */ 'node:fs/promises');
    return readFile(url);
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`${url}: ${response.status} ${response.statusText}`);
  return response.arrayBuffer();
}

// What the module asks of its host: a clock, an empty environment, writes to
// the console (only for a failure of the module itself) and the system calls
// of file access, which decoding and encoding in memory never make.
class Host {
  constructor() {
    this.memory = null;
    this.text = '';
  }

  imports() {
    const refuse = () => -ENOSYS;
    const env = new Proxy(
        {emscripten_notify_memory_growth: () => {}, __call_sighandler: () => {}},
        {get: (target, name) => target[name] ?? refuse},
    );
    const wasi = {
      clock_time_get: (id, precision, out) => {
        // Clock 0 is the wall clock; the others count from any start.
        const milliseconds = id === 0 ? Date.now() : performance.now();
        const nanoseconds = BigInt(Math.round(milliseconds * 1e6));
        new DataView(this.memory.buffer).setBigUint64(out >>> 0, nanoseconds, true);
        return 0;
      },
      environ_sizes_get: (count, size) => {
        const view = new DataView(this.memory.buffer);
        view.setUint32(count >>> 0, 0, true);
        view.setUint32(size >>> 0, 0, true);
        return 0;
      },
      environ_get: () => 0,
      fd_write: (fd, iovs, iovsLength, written) => this.write(iovs, iovsLength, written),
      proc_exit: (status) => {
        throw new TalvecoError('Internal', `talveco.wasm stopped (status ${status})`, 65);
      },
    };
    const wasiProxy = new Proxy(wasi, {get: (target, name) => target[name] ?? (() => ENOSYS)});
    return {env, wasi_snapshot_preview1: wasiProxy};
  }

  write(iovs, iovsLength, written) {
    const view = new DataView(this.memory.buffer);
    let total = 0;
    for (let i = 0; i < iovsLength; ++i) {
      const at = view.getUint32((iovs >>> 0) + 8 * i, true);
      const length = view.getUint32((iovs >>> 0) + 8 * i + 4, true);
      this.text += new TextDecoder().decode(new Uint8Array(this.memory.buffer, at, length));
      total += length;
    }
    const lines = this.text.split('\n');
    this.text = lines.pop();
    for (const line of lines) console.error(`talveco.wasm: ${line}`);
    view.setUint32(written >>> 0, total, true);
    return 0;
  }
}

// ---- The module's C interface ----

// The C structures are read and written where the module lays them out
// (32-bit pointers, 8-byte aligned doubles and 64-bit integers), in one
// scratch block for the structures and handles the calls fill in: the
// encoder settings take its first 24 bytes, the report 56.
const SETTINGS_SIZE = 24;  // quality, bitrate_kbps, levels, rows
const SCRATCH_SIZE = 128;

class Codec {
  constructor(instance, host) {
    this.c = instance.exports;
    host.memory = this.c.memory;
    this.c._initialize?.();
    this.scratch = this.c.malloc(SCRATCH_SIZE) >>> 0;
    if (this.scratch === 0) throw new TalvecoError('OutOfMemory', 'Out of memory', 7);
  }

  get bytes() {
    return new Uint8Array(this.c.memory.buffer);
  }

  get view() {
    return new DataView(this.c.memory.buffer);
  }

  string(pointer) {
    const bytes = this.bytes;
    let end = pointer >>> 0;
    while (bytes[end] !== 0) ++end;
    return new TextDecoder().decode(bytes.subarray(pointer >>> 0, end));
  }

  version() {
    return this.string(this.c.talveco_version());
  }

  // The failure a C call reported with `code`, in the library's words.
  error(code) {
    const name = this.c.talveco_error_name(code);
    return new TalvecoError(
        name ? this.string(name) : 'Internal',
        this.string(this.c.talveco_error_message()),
        code,
    );
  }

  check(code) {
    if (code !== 0) throw this.error(code);
  }

  // A count returned by a C call, or its failure.
  count(result) {
    const value = Number(result);
    if (value < 0) throw this.error(-value);
    return value;
  }

  allocate(size) {
    const pointer = this.c.malloc(Math.max(size, 1)) >>> 0;
    if (pointer === 0) {
      throw new TalvecoError('OutOfMemory', `Out of memory (${size} bytes wanted)`, 7);
    }
    return pointer;
  }

  // Runs `use` with a copy of `data` (a typed array) in the module's memory.
  withCopy(data, use) {
    const bytes = new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
    const pointer = this.allocate(bytes.length);
    try {
      this.bytes.set(bytes, pointer);
      return use(pointer, bytes.length);
    } finally {
      this.c.free(pointer);
    }
  }
}

async function codec() {
  return init();
}

// ---- Decoding ----

// An open decoder over a copy of the stream; close() frees it.
class StreamReader {
  constructor(codec, bytes) {
    this.codec = codec;
    const c = codec.c;
    codec.withCopy(
        bytes,
        (pointer, size) => codec.check(c.talveco_decoder_open_memory(pointer, size, codec.scratch)),
    );
    this.handle = codec.view.getUint32(codec.scratch, true);
    c.talveco_decoder_info(this.handle, codec.scratch);
    const view = codec.view;
    const field = (i) => view.getUint32(codec.scratch + 4 * i, true);
    // A header of 0 channels is read as mono: its samples are still there.
    this.channels = Math.max(field(0), 1);
    this.sampleRate = field(1);
    this.announced = field(2);
    this.levels = field(3);
    this.rows = field(4);
    this.frames = Math.floor(this.announced / this.channels);
    // Whole frames only, as talveco-decode writes them.
    this.total = this.frames * this.channels;
    this.delivered = 0;
    this.ended = this.total === 0;
    this.cutShort = false;  // the data ended before the samples announced
    this.pieceSamples = this.channels * Math.max(1, Math.floor(PIECE_SAMPLES / this.channels));
    this.buffer = 0;
  }

  // The next piece of samples, empty at the end: a view of the module's
  // memory, valid until the next call into the module.
  read() {
    if (this.ended) return new Int16Array(0);
    const codec = this.codec;
    if (this.buffer === 0) this.buffer = codec.allocate(2 * this.pieceSamples);
    const want = Math.min(this.pieceSamples, this.total - this.delivered);
    const got = codec.count(codec.c.talveco_decoder_read(this.handle, this.buffer, want));
    let kept = got;
    if (got < want || this.delivered + got === this.total) this.ended = true;
    // Past the end of its data the decoder makes up near silence up to the
    // count the header announces. A stream cut short ends with its data
    // here instead, so that a header announcing far more than its file holds
    // (a 14-byte file may announce an hour) costs neither time nor memory.
    const {samplesPastEnd} = this.damage();
    if (samplesPastEnd > 0) {
      kept -= Math.min(got, samplesPastEnd);
      this.cutShort = true;
      this.ended = true;
    }
    // A stream that ends early may end inside a frame.
    if (this.ended) kept -= (this.delivered + kept) % this.channels;
    this.delivered += kept;
    return new Int16Array(codec.c.memory.buffer, this.buffer, kept);
  }

  damage() {
    const codec = this.codec;
    codec.check(
        codec.c.talveco_decoder_damage(this.handle, codec.scratch, codec.scratch + 8),
    );
    const view = codec.view;
    return {
      damagedBlocks: Number(view.getBigUint64(codec.scratch, true)),
      samplesPastEnd: Number(view.getBigUint64(codec.scratch + 8, true)),
    };
  }

  // What went wrong so far, in talveco-decode's words.
  problems() {
    const {damagedBlocks} = this.damage();
    const problems = [];
    if (damagedBlocks > 0) {
      problems.push({
        kind: 'DamagedBlocks',
        count: damagedBlocks,
        message: `${plural(damagedBlocks, 'damaged block')} could not be decoded and ` +
            `${damagedBlocks === 1 ? 'was' : 'were'} skipped`,
      });
    }
    if (this.cutShort) {
      problems.push({
        kind: 'Truncated',
        count: this.total - this.delivered,
        message: `truncated: the file ends after ${this.delivered} of the ${
            this.total} samples announced`,
      });
    } else if (this.ended && this.delivered < this.total) {
      problems.push({
        kind: 'EndsEarly',
        count: this.total - this.delivered,
        message: `ends after ${this.delivered} of the ${this.total} samples announced`,
      });
    }
    return problems;
  }

  // Throws the first problem, for a strict reader.
  refuseDamage() {
    const [first] = this.problems();
    if (first)
      throw new TalvecoError(
          first.kind === 'EndsEarly' ? 'DamagedBlocks' : first.kind, first.message);
  }

  info() {
    return {
      channels: this.channels,
      sampleRate: this.sampleRate,
      frames: this.frames,
      levels: this.levels,
      rows: this.rows,
      duration: this.sampleRate > 0 ? this.frames / this.sampleRate : 0,
    };
  }

  close() {
    if (this.buffer !== 0) this.codec.c.free(this.buffer);
    this.codec.c.talveco_decoder_close(this.handle);
    this.buffer = 0;
    this.handle = 0;
    this.ended = true;
  }
}

function plural(count, noun) {
  return `${count} ${noun}${count === 1 ? '' : 's'}`;
}

function streamBytes(bytes) {
  if (bytes instanceof ArrayBuffer) return new Uint8Array(bytes);
  if (!(bytes instanceof Uint8Array)) {
    throw invalid(`an ACM stream must be a Uint8Array or an ArrayBuffer, not ${describe(bytes)}`);
  }
  return bytes;
}

function describe(value) {
  if (value === null) return 'null';
  if (typeof value !== 'object') return typeof value;
  return value.constructor?.name ?? 'an object';
}

function decodeOptions(options) {
  if (options === undefined) return {strict: false};
  if (options === null || typeof options !== 'object') {
    throw invalid(`options must be an object, not ${describe(options)}`);
  }
  return {strict: Boolean(options.strict)};
}

async function openReader(bytes) {
  const stream = streamBytes(bytes);
  const opened = await codec();
  return guarded(() => new StreamReader(opened, stream));
}

/** The stream's header. */
export async function info(bytes) {
  const reader = await openReader(bytes);
  try {
    return reader.info();
  } finally {
    guarded(() => reader.close());
  }
}

/**
 * Decodes a whole stream: { channels, sampleRate, samples (interleaved
 * Int16Array), levels, rows, problems }. A damaged stream is decoded as
 * talveco-decode -F decodes it (damaged blocks skipped), and one cut short
 * ends where its data ends; `problems` names both. With { strict: true } it
 * fails with a TalvecoError at the first problem instead.
 */
export async function decode(bytes, options) {
  const {strict} = decodeOptions(options);
  const reader = await openReader(bytes);
  try {
    let samples = new Int16Array(
        Math.min(reader.total, Math.max(reader.pieceSamples, SAMPLES_PER_BYTE * bytes.byteLength)),
    );
    let length = 0;
    while (!reader.ended) {
      const piece = reader.read();
      if (length + piece.length > samples.length) {
        samples = grown(samples, Math.min(reader.total, 2 * samples.length + piece.length));
      }
      samples.set(piece, length);
      length += piece.length;
      if (strict) reader.refuseDamage();
    }
    return {
      channels: reader.channels,
      sampleRate: reader.sampleRate,
      samples: length === samples.length ? samples : samples.slice(0, length),
      levels: reader.levels,
      rows: reader.rows,
      problems: reader.problems(),
    };
  } catch (error) {
    throw asTalvecoError(error);
  } finally {
    guarded(() => reader.close());
  }
}

function grown(samples, size) {
  const larger = new Int16Array(size);
  larger.set(samples);
  return larger;
}

// A JavaScript allocation that failed is the library's OutOfMemory. A trap
// of the module (a fault of the library) leaves its memory in doubt: the
// next call starts a fresh instance.
function asTalvecoError(error) {
  if (error instanceof RangeError) {
    return new TalvecoError('OutOfMemory', `Out of memory (${error.message})`, 7);
  }
  if (error instanceof WebAssembly.RuntimeError) {
    loading = null;
    return new TalvecoError('Internal', `talveco.wasm failed: ${error.message}`, 65);
  }
  return error;
}

// Runs `work`, its failures as TalvecoErrors.
function guarded(work) {
  try {
    return work();
  } catch (error) {
    throw asTalvecoError(error);
  }
}

/**
 * A decoder for streams of any length in bounded memory: its header fields
 * (channels, sampleRate, frames, levels, rows, duration) at once, then the
 * samples as interleaved Int16Array chunks:
 *
 *      const d = await decoder(bytes);
 *      for await (const chunk of d) play(chunk);
 *      d.problems   // as decode() names them, for what was read so far
 *
 * Leaving the loop early frees the decoder, as does close().
 */
export async function decoder(bytes, options) {
  const {strict} = decodeOptions(options);
  const reader = await openReader(bytes);
  return new ChunkedDecoder(reader, strict);
}

class ChunkedDecoder {
  constructor(reader, strict) {
    this.reader = reader;
    this.strict = strict;
    Object.assign(this, reader.info());
    this.problems = [];
  }

  async * [Symbol.asyncIterator]() {
    try {
      while (!this.reader.ended) {
        const chunk = guarded(() => this.reader.read().slice());
        this.problems = guarded(() => this.reader.problems());
        if (this.strict) this.reader.refuseDamage();
        if (chunk.length > 0) yield chunk;
      }
    } finally {
      this.close();
    }
  }

  close() {
    if (this.reader.handle !== 0) {
      this.problems = this.reader.problems();
      this.reader.close();
    }
  }
}

// ---- WAV ----

/**
 * The WAV file talveco-decode writes for a decoded stream: a 44-byte 16-bit
 * PCM header and the samples, little-endian. Mono and stereo only, as
 * talveco-decode writes.
 */
export function toWav(decoded) {
  if (decoded === null || typeof decoded !== 'object' || !(decoded.samples instanceof Int16Array)) {
    throw invalid(
        'toWav takes what decode() returns: { channels, sampleRate, samples: Int16Array }');
  }
  const {channels, sampleRate, samples} = decoded;
  if (channels !== 1 && channels !== 2) {
    throw new TalvecoError(
        'OutsideLimits',
        `the header states ${channels} channels; only mono and stereo are decoded`,
        10,
    );
  }
  if (!Number.isInteger(sampleRate) || sampleRate < 1 || sampleRate > UINT32_MAX) {
    throw new TalvecoError('OutsideLimits', `the header states a rate of ${sampleRate} Hz`, 10);
  }
  const frames = Math.floor(samples.length / channels);
  const dataBytes = 2 * frames * channels;
  if (dataBytes + 36 > UINT32_MAX) {
    throw new TalvecoError('OutsideLimits', 'more samples than a WAV file can hold', 10);
  }
  const wav = new Uint8Array(44 + dataBytes);
  const view = new DataView(wav.buffer);
  const text = (at, value) => wav.set(new TextEncoder().encode(value), at);
  text(0, 'RIFF');
  view.setUint32(4, dataBytes + 36, true);
  text(8, 'WAVE');
  text(12, 'fmt ');
  view.setUint32(16, 16, true);
  view.setUint16(20, 1, true);  // PCM
  view.setUint16(22, channels, true);
  view.setUint32(24, sampleRate, true);
  view.setUint32(28, (sampleRate * 2 * channels) >>> 0, true);
  view.setUint16(32, 2 * channels, true);
  view.setUint16(34, 16, true);
  text(36, 'data');
  view.setUint32(40, dataBytes, true);
  const data = new Int16Array(samples.buffer, samples.byteOffset, frames * channels);
  if (littleEndian()) {
    wav.set(new Uint8Array(data.buffer, data.byteOffset, dataBytes), 44);
  } else {
    for (let i = 0; i < data.length; ++i) view.setInt16(44 + 2 * i, data[i], true);
  }
  return wav;
}

function littleEndian() {
  return new Uint8Array(new Uint16Array([1]).buffer)[0] === 1;
}

// ---- Encoding ----

function whole(value, name, {min = 0, max = UINT32_MAX} = {}) {
  if (typeof value !== 'number' || !Number.isInteger(value)) {
    throw invalid(`${name} must be a whole number, not ${
        typeof value === 'number' ? value : describe(value)}`);
  }
  if (value < min || value > max) {
    throw new TalvecoError(
        'OutsideLimits', `${name} must be from ${min} to ${max}, not ${value}`, 10);
  }
  return value;
}

function finite(value, name) {
  if (typeof value !== 'number' || !Number.isFinite(value)) {
    throw invalid(`${name} must be a finite number, not ${
        typeof value === 'number' ? value : describe(value)}`);
  }
  return value;
}

// The settings of an encode, checked for their types here and for their
// ranges by the library, which words its refusals as talveco-encode does.
function encodeSettings(options) {
  if (options === null || typeof options !== 'object') {
    throw invalid(`encode needs options { channels, sampleRate, ... }, not ${describe(options)}`);
  }
  const {channels, sampleRate, quality, bitrate, levels, rows} = options;
  if (quality !== undefined && bitrate !== undefined) {
    throw invalid('quality and bitrate exclude each other: give one');
  }
  const automatic = (value, name) => value === undefined || value === 'auto' ?
      AUTOMATIC :
      whole(value, name, {max: UINT32_MAX - 1});
  return {
    channels: whole(channels, 'channels', {max: UINT32_MAX}),
    sampleRate: whole(sampleRate, 'sampleRate', {max: UINT32_MAX}),
    quality: quality === undefined ? undefined : finite(quality, 'quality'),
    bitrate: bitrate === undefined ? 0 : finite(bitrate, 'bitrate'),
    levels: automatic(levels, 'levels'),
    rows: automatic(rows, 'rows'),
  };
}

/**
 * An encoder that takes interleaved samples in pieces (Int16Array, or
 * Float32Array/Float64Array at full scale -1..1) and finishes with the
 * stream and its report. Call close() to give up before finish().
 */
export async function encoder(options) {
  const settings = encodeSettings(options);
  const opened = await codec();
  return guarded(() => new StreamWriter(opened, settings));
}

class StreamWriter {
  constructor(codec, settings) {
    this.codec = codec;
    const c = codec.c;
    const at = codec.scratch;
    c.talveco_encoder_settings_init(at);
    const view = codec.view;
    if (settings.quality !== undefined) view.setFloat64(at, settings.quality, true);
    view.setFloat64(at + 8, settings.bitrate, true);
    view.setUint32(at + 16, settings.levels, true);
    view.setUint32(at + 20, settings.rows, true);
    codec.check(
        c.talveco_encoder_open_memory(
            settings.channels, settings.sampleRate, at, at + SETTINGS_SIZE),
    );
    this.handle = codec.view.getUint32(at + SETTINGS_SIZE, true);
    this.channels = settings.channels;
  }

  /** Appends samples: whole frames, interleaved. */
  write(samples) {
    guarded(() => this.writeSamples(samples));
  }

  writeSamples(samples) {
    this.refuseClosed();
    if (samples instanceof Int16Array) {
      this.codec.withCopy(
          samples,
          (pointer) => this.codec.check(
              this.codec.c.talveco_encoder_write(this.handle, pointer, samples.length)),
      );
    } else if (samples instanceof Float32Array || samples instanceof Float64Array) {
      this.writeFloats(samples);
    } else {
      throw invalid(`samples must be an Int16Array or a Float32Array, not ${describe(samples)}`);
    }
  }

  // In pieces of whole frames, so that the double copy stays small; a count
  // that is no whole number of frames is left to the library to refuse.
  writeFloats(samples) {
    const piece = this.channels * Math.max(1, Math.floor(FLOAT_PIECE / this.channels));
    for (let start = 0;; start += piece) {
      const part = samples.subarray(start, start + piece);
      const doubles = part instanceof Float64Array ? part : Float64Array.from(part);
      this.codec.withCopy(
          doubles,
          (pointer) => this.codec.check(
              this.codec.c.talveco_encoder_write_double(this.handle, pointer, doubles.length),
              ),
      );
      if (start + piece >= samples.length) return;
    }
  }

  /**
   * Codes the rest: { bytes (the stream, a Uint8Array), snrDb,
   * bitsPerSample, levels, rows, samples, clipped, notNumbers }.
   */
  finish() {
    return guarded(() => this.finishStream());
  }

  finishStream() {
    this.refuseClosed();
    const codec = this.codec;
    const c = codec.c;
    try {
      codec.check(c.talveco_encoder_finish(this.handle, 0, 0));
      const at = codec.scratch;
      codec.check(c.talveco_encoder_report_get(this.handle, at));
      const view = codec.view;
      const report = {
        samples: Number(view.getBigUint64(at, true)),
        streamBytes: Number(view.getBigUint64(at + 8, true)),
        bitsPerSample: view.getFloat64(at + 16, true),
        snrDb: view.getFloat64(at + 24, true),
        levels: view.getUint32(at + 32, true),
        rows: view.getUint32(at + 36, true),
        clipped: Number(view.getBigUint64(at + 40, true)),
        notNumbers: Number(view.getBigUint64(at + 48, true)),
      };
      codec.check(c.talveco_encoder_bytes(this.handle, at, at + 4));
      const pointer = codec.view.getUint32(at, true);
      const size = codec.view.getUint32(at + 4, true);
      const bytes = codec.bytes.slice(pointer, pointer + size);
      return {bytes, ...report};
    } finally {
      this.close();
    }
  }

  refuseClosed() {
    if (this.handle === 0) {
      throw new TalvecoError(
          'InvalidCall', 'the encoder is finished or closed and takes no more calls', 12);
    }
  }

  close() {
    if (this.handle !== 0) this.codec.c.talveco_encoder_close(this.handle);
    this.handle = 0;
  }
}

/**
 * Encodes interleaved samples (Int16Array, or Float32Array at full scale)
 * to an ACM stream, as talveco-encode encodes them with the same settings:
 * { channels, sampleRate, quality (0..10, default 5) or bitrate (kbit/s),
 * levels, rows (default automatic) }.
 */
export async function encode(samples, options) {
  const writer = await encoder(options);
  try {
    writer.write(samples);
    return writer.finish().bytes;
  } catch (error) {
    throw asTalvecoError(error);
  } finally {
    writer.close();
  }
}

/** The library's version, "MAJOR.MINOR.PATCH". */
export async function version() {
  return (await codec()).version();
}
