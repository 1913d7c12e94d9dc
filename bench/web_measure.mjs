// The timed work of bench/web.sh, the same in node and in the browser: a
// whole decode of an ACM stream and a -q 5 encode of 16-bit mono samples
// through the talveco package, RUNS times each after one warm-up run (which
// also loads the module). Returns the times in milliseconds and what the
// runs made, so that the caller can check them against the native programs.
export async function measure(talveco, acm, samples, sampleRate, runs) {
  const timed = async (work) => {
    const start = performance.now();
    const result = await work();
    return [performance.now() - start, result];
  };
  const decodeOnce = () => talveco.decode(acm);
  const encodeOnce = () => talveco.encode(samples, {channels: 1, sampleRate, quality: 5});
  const [, decoded] = await timed(decodeOnce);
  const [, encoded] = await timed(encodeOnce);
  const decodeMs = [];
  const encodeMs = [];
  for (let run = 0; run < runs; ++run) {
    decodeMs.push((await timed(decodeOnce))[0]);
    encodeMs.push((await timed(encodeOnce))[0]);
  }
  return {
    decodeMs,
    encodeMs,
    decodedChecksum: checksum(decoded.samples),
    decodedSamples: decoded.samples.length,
    encoded: fingerprint(encoded),
  };
}

// Length and FNV-1a hash of a stream: enough to tell two streams apart.
export function fingerprint(bytes) {
  let hash = 0x811c9dc5;
  for (const byte of bytes) hash = Math.imul(hash ^ byte, 0x01000193) >>> 0;
  return `${bytes.length}:${hash.toString(16)}`;
}

// The checksum library_read prints: the sum of (i + 1) * sample, modulo 2^64.
export function checksum(samples) {
  let sum = 0n;
  const mask = (1n << 64n) - 1n;
  // In runs of plain numbers, exact below 2^53, then folded into the BigInt.
  const run = 4096;
  for (let start = 0; start < samples.length; start += run) {
    let weighted = 0;
    let plain = 0;
    const end = Math.min(samples.length, start + run);
    for (let i = start; i < end; ++i) {
      weighted += (i - start) * samples[i];
      plain += samples[i];
    }
    sum = (sum + BigInt(weighted) + BigInt(start + 1) * BigInt(plain)) & mask;
  }
  return sum.toString();
}

// The 16-bit samples of a PCM WAV file.
export function wavSamples(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  let rate = 0;
  for (let at = 12; at + 8 <= bytes.length;) {
    const id = String.fromCharCode(...bytes.subarray(at, at + 4));
    const size = view.getUint32(at + 4, true);
    if (id === 'fmt ') rate = view.getUint32(at + 12, true);
    if (id === 'data') {
      const data = bytes.slice(at + 8, at + 8 + size);
      return {rate, samples: new Int16Array(data.buffer, 0, size >> 1)};
    }
    at += 8 + size + (size & 1);
  }
  throw new Error('no data chunk');
}
