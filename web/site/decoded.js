// Audio the browser decoded (one Float32Array per channel) back to 16-bit samples.
//
// Browsers hand 16-bit sources over as floating point, and not all with one scale: Chromium
// divides negative samples by 32768 and positive ones by 32767, others all by 32768 (or
// 32767). Rounding such values at 32768 throughout would move positive samples above half
// scale by one, and a lossless file (FLAC of 16-bit audio) would no longer code as
// talveco-encode codes it. So where every value is a whole number of steps of one of those
// scalings, those whole numbers are the samples; anything else (lossy sources) is rounded as
// talveco-encode rounds floating-point input.
import { sixteenBits } from './wav.js';

const SIXTEEN_BIT_SCALINGS = [
  (value) => value * (value < 0 ? 32768 : 32767),
  (value) => value * 32768,
  (value) => value * 32767,
];
// float32 keeps 24 bits, so a value of a 16-bit step lies within 32768 * 2^-24 (0.002) of
// its whole number; decoded lossy audio practically never does, sample after sample.
const TOLERANCE = 0.01;

function wholeStepsOf(channelData, toSteps) {
  for (const data of channelData) {
    for (let i = 0; i < data.length; i++) {
      const steps = toSteps(data[i]);
      if (!(Math.abs(steps - Math.round(steps)) <= TOLERANCE)) return false;
    }
  }
  return true;
}

// Returns { samples: Int16Array (interleaved), clipped, notNumbers, exact (whether the
// values were 16-bit samples of one of those scalings) }.
export function sixteenBitsFromDecoded(channelData) {
  const channels = channelData.length;
  const frames = channelData[0]?.length ?? 0;
  const samples = new Int16Array(frames * channels);
  const counts = { clipped: 0, notNumbers: 0 };
  const toSteps = SIXTEEN_BIT_SCALINGS.find((candidate) => wholeStepsOf(channelData, candidate));
  for (let c = 0; c < channels; c++) {
    const data = channelData[c];
    for (let f = 0; f < frames; f++) {
      samples[f * channels + c] =
        toSteps ? Math.max(-32768, Math.min(32767, Math.round(toSteps(data[f])))) : sixteenBits(data[f], counts);
    }
  }
  return { samples, ...counts, exact: toSteps !== undefined };
}
