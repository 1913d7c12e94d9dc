// Test sounds, made here so the tests need no sample files: a deterministic mixture of tones,
// a glide and noise, written as WAV in the sample formats the page reads.

// A small linear congruential generator: the same noise on every run.
function noise(seed) {
  let state = seed >>> 0;
  return () => {
    state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
    return state / 2 ** 32 - 0.5;
  };
}

// Full-scale values, interleaved; `peak` above 1 drives the loudest parts beyond full scale.
export function mixture({ channels, sampleRate, seconds, peak = 0.6, seed = 1 }) {
  const frames = Math.round(seconds * sampleRate);
  const random = noise(seed);
  const values = new Float64Array(frames * channels);
  for (let f = 0; f < frames; f++) {
    const t = f / sampleRate;
    const envelope = 0.5 + 0.5 * Math.sin(2 * Math.PI * 1.3 * t);
    for (let c = 0; c < channels; c++) {
      const tone = Math.sin(2 * Math.PI * (220 + 110 * c) * t) + 0.4 * Math.sin(2 * Math.PI * (660 + 400 * t) * t);
      values[f * channels + c] = peak * envelope * (0.7 * tone + 0.3 * random());
    }
  }
  return values;
}

const FORMATS = {
  pcm16: { code: 1, bits: 16, put: (view, at, v) => view.setInt16(at, Math.max(-32768, Math.min(32767, Math.round(v * 32768))), true) },
  pcm24: {
    code: 1,
    bits: 24,
    put: (view, at, v) => {
      const s = Math.max(-8388608, Math.min(8388607, Math.round(v * 8388608)));
      view.setUint16(at, s & 0xffff, true);
      view.setInt8(at + 2, s >> 16);
    },
  },
  float32: { code: 3, bits: 32, put: (view, at, v) => view.setFloat32(at, v, true) },
};

// A canonical RIFF WAVE file: fmt, then data.
export function wavFile(values, { channels, sampleRate, format }) {
  const { code, bits, put } = FORMATS[format];
  const bytesPerSample = bits / 8;
  const dataBytes = values.length * bytesPerSample;
  const buffer = new ArrayBuffer(44 + dataBytes);
  const view = new DataView(buffer);
  const text = (at, s) => [...s].forEach((c, i) => view.setUint8(at + i, c.charCodeAt(0)));
  text(0, 'RIFF');
  view.setUint32(4, 36 + dataBytes, true);
  text(8, 'WAVE');
  text(12, 'fmt ');
  view.setUint32(16, 16, true);
  view.setUint16(20, code, true);
  view.setUint16(22, channels, true);
  view.setUint32(24, sampleRate, true);
  view.setUint32(28, sampleRate * channels * bytesPerSample, true);
  view.setUint16(32, channels * bytesPerSample, true);
  view.setUint16(34, bits, true);
  text(36, 'data');
  view.setUint32(40, dataBytes, true);
  values.forEach((v, i) => put(view, 44 + i * bytesPerSample, v));
  return new Uint8Array(buffer);
}
