// What kind of file the page was given, and for compressed audio the sample rate its header
// states. The browser's decoder resamples to the rate of the audio context it decodes in, so the
// page decodes in a context of the file's own rate: the ACM stream then keeps the rate of the
// source instead of the sound card's.

export const ACM_SIGNATURE = [0x97, 0x28, 0x03, 0x01];

export function startsWith(bytes, signature, at = 0) {
  if (bytes.length < at + signature.length) return false;
  return signature.every((byte, i) => bytes[at + i] === byte);
}

const ascii = (text) => [...text].map((c) => c.charCodeAt(0));

export function isAcm(bytes) {
  return startsWith(bytes, ACM_SIGNATURE);
}

export function isWav(bytes) {
  return startsWith(bytes, ascii('RIFF')) && startsWith(bytes, ascii('WAVE'), 8);
}

// An ID3v2 tag (before MP3 and sometimes FLAC data) states its size in 7-bit bytes.
function afterId3(bytes) {
  if (!startsWith(bytes, ascii('ID3')) || bytes.length < 10) return 0;
  const size = (bytes[6] << 21) | (bytes[7] << 14) | (bytes[8] << 7) | bytes[9];
  const footer = bytes[5] & 0x10 ? 10 : 0;
  return 10 + size + footer;
}

function flacRate(bytes, at) {
  // At `at` "fLaC", then the STREAMINFO block: a 4-byte block header, 10 bytes of block and frame
  // sizes, and the rate in the next 20 bits.
  const rate = at + 18;
  if (bytes.length < rate + 3) return null;
  return (bytes[rate] << 12) | (bytes[rate + 1] << 4) | (bytes[rate + 2] >> 4);
}

function littleEndian32(bytes, at) {
  return (bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (bytes[at + 3] << 24)) >>> 0;
}

function oggRate(bytes) {
  // The first page's first packet names the codec; its segment table follows the 27-byte
  // page header.
  if (bytes.length < 27) return null;
  const packet = 27 + bytes[26];
  if (startsWith(bytes, [0x01, ...ascii('vorbis')], packet)) {
    return bytes.length >= packet + 16 ? littleEndian32(bytes, packet + 12) : null;
  }
  if (startsWith(bytes, ascii('OpusHead'), packet)) return 48000;  // Opus always decodes at 48 kHz
  if (startsWith(bytes, [0x7f, ...ascii('FLAC')], packet)) return flacRate(bytes, packet + 9);
  return null;
}

const MPEG_RATES = {
  3: [44100, 48000, 32000],  // MPEG 1
  2: [22050, 24000, 16000],  // MPEG 2
  0: [11025, 12000, 8000],  // MPEG 2.5
};
// Layer III bitrates in kbit/s by index (0: free format, 15: invalid).
const LAYER3_KBPS = {
  3: [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
  2: [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
};

// A Layer III frame header at `at`: its rate and length in bytes, or null.
function layer3Frame(bytes, at) {
  if (at + 4 > bytes.length || bytes[at] !== 0xff || (bytes[at + 1] & 0xe0) !== 0xe0) return null;
  const version = (bytes[at + 1] >> 3) & 3;
  const layer = (bytes[at + 1] >> 1) & 3;
  const bitrateIndex = bytes[at + 2] >> 4;
  const rateIndex = (bytes[at + 2] >> 2) & 3;
  if (version === 1 || layer !== 1 || rateIndex === 3 || bitrateIndex === 0 || bitrateIndex === 15) return null;
  const rate = MPEG_RATES[version][rateIndex];
  const kbps = LAYER3_KBPS[version === 3 ? 3 : 2][bitrateIndex];
  const padding = (bytes[at + 2] >> 1) & 1;
  const length = Math.floor(((version === 3 ? 144000 : 72000) * kbps) / rate) + padding;
  return { rate, length };
}

// Two frames in a row, or one that ends the file: one sync pattern alone is too easily found
// in other data.
function mpegRate(bytes, start) {
  const end = Math.min(bytes.length, start + 65536);
  for (let at = start; at < end; at++) {
    const frame = layer3Frame(bytes, at);
    if (!frame) continue;
    const next = at + frame.length;
    if (next === bytes.length || layer3Frame(bytes, next)?.rate === frame.rate) return frame.rate;
  }
  return null;
}

// The fmt chunk's rate: a WAV file the page's reader leaves to the browser (A-law, ADPCM).
function wavRate(bytes) {
  for (let at = 12; at + 16 <= bytes.length; ) {
    const size = littleEndian32(bytes, at + 4);
    if (startsWith(bytes, ascii('fmt '), at)) return littleEndian32(bytes, at + 12);
    at += 8 + size + (size & 1);
  }
  return null;
}

// The rate the file's header states, or null where the page cannot tell (the browser's
// decoder then picks one, and the page says so).
export function statedRate(bytes) {
  if (isWav(bytes)) return wavRate(bytes);
  const start = afterId3(bytes);
  if (startsWith(bytes, ascii('fLaC'), start)) return flacRate(bytes, start);
  if (startsWith(bytes, ascii('OggS'))) return oggRate(bytes);
  return mpegRate(bytes, start);
}
