// What the page shows of a stream besides the encoder's own report: its bits per sample,
// computed as talveco-encode's summary states them, and a waveform.

// The whole stream, header included, over the samples of all channels.
export function bitsPerSample(streamBytes, samples) {
  return samples === 0 ? 0 : (streamBytes * 8) / samples;
}

// The lowest and highest sample (of any channel, -1 to 1) in each of `columns` equal stretches
// of the sound: [min0, max0, min1, max1, ...]; a sound of fewer frames than columns repeats them.
export function peaks(samples, channels, columns) {
  const out = new Float32Array(columns * 2);
  const frames = Math.floor(samples.length / channels);
  if (frames === 0) return out;
  for (let column = 0; column < columns; column++) {
    const first = Math.floor((column * frames) / columns);
    const end = Math.max(first + 1, Math.floor(((column + 1) * frames) / columns));
    let low = 0;
    let high = 0;
    for (let i = first * channels; i < Math.min(end, frames) * channels; i++) {
      low = Math.min(low, samples[i]);
      high = Math.max(high, samples[i]);
    }
    out[column * 2] = low / 32768;
    out[column * 2 + 1] = high / 32768;
  }
  return out;
}
