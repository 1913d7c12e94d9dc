// Reads RIFF WAVE files into the 16-bit samples the encoder takes, the way talveco-encode reads
// them: 8- and 16-bit samples as they are, wider integers and floating point rounded to nearest
// (halves away from zero), values beyond full scale clipped and NaN made silent, both counted.
// The browser's own decoder would resample to its audio clock; this keeps the file's rate and
// samples exact, so the page's stream is the program's.

export class WavError extends Error {}

const PCM = 1;
const IEEE_FLOAT = 3;
const EXTENSIBLE = 0xfffe;
// A header written to a pipe cannot state its length: the data runs to the end of the file.
const UNKNOWN_LENGTH = 0xffffffff;

function fourCC(view, at) {
  return String.fromCharCode(
    view.getUint8(at),
    view.getUint8(at + 1),
    view.getUint8(at + 2),
    view.getUint8(at + 3),
  );
}

export function looksLikeWav(bytes) {
  if (bytes.length < 12) return false;
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  return fourCC(view, 0) === 'RIFF' && fourCC(view, 8) === 'WAVE';
}

function readFormat(view, at, size) {
  if (size < 16) throw new WavError('its fmt chunk is too short');
  let code = view.getUint16(at, true);
  const format = {
    channels: view.getUint16(at + 2, true),
    sampleRate: view.getUint32(at + 4, true),
    blockAlign: view.getUint16(at + 12, true),
    bits: view.getUint16(at + 14, true),
  };
  if (code === EXTENSIBLE) {
    if (size < 26) throw new WavError('its extensible fmt chunk is too short');
    code = view.getUint16(at + 24, true);  // the first two bytes of the sub-format GUID
  }
  const integer = code === PCM && [8, 16, 24, 32].includes(format.bits);
  const float = code === IEEE_FLOAT && [32, 64].includes(format.bits);
  if (!integer && !float) {
    const error = new WavError(`its sample format (code ${code}, ${format.bits} bits) is not linear PCM or float`);
    error.otherCoding = true;
    throw error;
  }
  if (format.channels < 1) throw new WavError('it states no channels');
  if (format.sampleRate < 1) throw new WavError(`${format.sampleRate} Hz: not a sample rate`);
  if (format.blockAlign !== (format.bits / 8) * format.channels) {
    throw new WavError(`its block alignment ${format.blockAlign} does not match ${format.channels} channels of ${format.bits} bits`);
  }
  return { ...format, float };
}

// Finds the fmt and data chunks; chunks are padded to even sizes.
function findChunks(view) {
  let fmt = null;
  let data = null;
  let at = 12;
  while (at + 8 <= view.byteLength && (fmt === null || data === null)) {
    const id = fourCC(view, at);
    const size = view.getUint32(at + 4, true);
    if (id === 'fmt ') fmt = readFormat(view, at + 8, Math.min(size, view.byteLength - at - 8));
    if (id === 'data') data = { offset: at + 8, announced: size };
    at += 8 + size + (size & 1);
  }
  if (fmt === null) throw new WavError('it has no fmt chunk');
  if (data === null) throw new WavError('it has no data chunk');
  return { fmt, data };
}

// Whether the file's samples are coded in a way this reader takes (linear PCM or float). A file
// of another coding (A-law, ADPCM) is left to the browser's decoder; any other fault is the
// reader's to name.
export function linearCoding(bytes) {
  try {
    findChunks(new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength));
    return true;
  } catch (error) {
    return !error.otherCoding;
  }
}

// Rounds a full-scale value (-1 to 1) to 16 bits as the encoder's own rounding does.
export function sixteenBits(value, counts) {
  if (Number.isNaN(value)) {
    counts.notNumbers++;
    return 0;
  }
  const scaled = value * 32768;
  if (scaled >= 32767.5 || scaled < -32768.5) counts.clipped++;
  const clamped = Math.min(Math.max(scaled, -32768), 32767);
  const whole = Math.trunc(clamped);
  return Math.abs(clamped - whole) >= 0.5 ? whole + Math.sign(clamped) : whole;
}

function sampleReader(view, format) {
  switch (format.float ? -format.bits : format.bits) {
    case 8: return (at) => (view.getUint8(at) - 128) << 8;
    case 16: return (at) => view.getInt16(at, true);
    case 24: return (at) => ((view.getInt8(at + 2) << 16) | view.getUint16(at, true)) / 8388608;
    case 32: return (at) => view.getInt32(at, true) / 2147483648;
    case -32: return (at) => view.getFloat32(at, true);
    default: return (at) => view.getFloat64(at, true);
  }
}

// Returns { channels, sampleRate, bits, float, samples: Int16Array (interleaved), clipped,
// notNumbers, notes: [] }.
export function readWav(bytes) {
  if (!looksLikeWav(bytes)) throw new WavError('not a RIFF WAVE file');
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const { fmt, data } = findChunks(view);
  const present = view.byteLength - data.offset;
  const notes = [];
  let size = data.announced;
  if (size > present) {
    if (size !== UNKNOWN_LENGTH && present % fmt.blockAlign !== 0) {
      throw new WavError(`truncated in the middle of a frame: the header announces ${size} bytes of audio, the file holds ${present}`);
    }
    if (size !== UNKNOWN_LENGTH) {
      notes.push(`the header announces ${size} bytes of audio, the file holds ${present}; encoded those`);
    }
    size = present;
  }
  const count = Math.floor(size / fmt.blockAlign) * fmt.channels;
  const samples = new Int16Array(count);
  const counts = { clipped: 0, notNumbers: 0 };
  const read = sampleReader(view, fmt);
  const step = fmt.bits / 8;
  const exact = !fmt.float && fmt.bits <= 16;
  for (let i = 0, at = data.offset; i < count; i++, at += step) {
    samples[i] = exact ? read(at) : sixteenBits(read(at), counts);
  }
  return {
    channels: fmt.channels,
    sampleRate: fmt.sampleRate,
    bits: fmt.bits,
    float: fmt.float,
    samples,
    clipped: counts.clipped,
    notNumbers: counts.notNumbers,
    notes,
  };
}
