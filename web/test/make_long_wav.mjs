// Writes a 16-bit stereo WAV file of SECONDS at 22050 Hz, a gliding tone over
// quiet noise that fades in, the same on every run: an input longer than the
// encoder keeps in memory before it needs scratch room.
//   node web/test/make_long_wav.mjs OUT.wav SECONDS
import {writeFileSync} from 'node:fs';

const [out, seconds] = process.argv.slice(2);
const rate = 22050;
const frames = Math.round(Number(seconds) * rate);
const wav = Buffer.alloc(44 + 4 * frames);
wav.write('RIFF', 0);
wav.writeUInt32LE(36 + 4 * frames, 4);
wav.write('WAVEfmt ', 8);
wav.writeUInt32LE(16, 16);
wav.writeUInt16LE(1, 20);
wav.writeUInt16LE(2, 22);
wav.writeUInt32LE(rate, 24);
wav.writeUInt32LE(4 * rate, 28);
wav.writeUInt16LE(4, 32);
wav.writeUInt16LE(16, 34);
wav.write('data', 36);
wav.writeUInt32LE(4 * frames, 40);
let seed = 12345;
const noise = () => {
  seed = (Math.imul(seed, 1103515245) + 12345) >>> 0;
  return (seed >>> 16) / 32768 - 1;
};
let phase = 0;
for (let i = 0; i < frames; ++i) {
  const t = i / rate;
  phase += (2 * Math.PI * (200 + 1800 * (0.5 + 0.5 * Math.sin(t / 3)))) / rate;
  const fade = Math.min(1, i / 2000);
  const left = fade * (9000 * Math.sin(phase) + 600 * noise());
  const right = fade * (7000 * Math.sin(1.5 * phase) + 600 * noise());
  wav.writeInt16LE(Math.round(left), 44 + 4 * i);
  wav.writeInt16LE(Math.round(right), 46 + 4 * i);
}
writeFileSync(out, wav);
