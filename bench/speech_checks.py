#!/usr/bin/env python3
"""The encoder on speech of several espeak-ng voices, beside IMA ADPCM (sox).

    speech_checks.py ENCODER DECODER WORK_DIR [COUNT [SEED]]

Prints Markdown tables:
- clicks at the start of short sounds: COUNT slices each of cut speech (0.5-2 s, cut at
  random points), drum hits and square bursts, encoded at -q 5 and at 3 bits per sample and
  decoded with talveco. A click: the first 64 samples' worst error is more than 1024 and more
  than twice the worst error after them. With the mean bits per sample of the files, their
  median SNR (dB) and whether talveco-encode warned of the start.
- a -60 dBFS 440 Hz tone (2 s) after about 10 s of speech (up to a pause), per voice: the
  tone's SNR at -q 3 to 10.
- five generations at -b 66.15 (3 bits per sample) of 10 s of speech, two voices.
"""
import os
import subprocess
import sys

import numpy as np

RATE = 22050
ONSET = 64
VOICES = ("en+m3", "en+f3", "en-us+m1", "en-gb-scotland+f2")
TEXT = ("The north wind and the sun were disputing which was the stronger, when a traveller "
        "came along wrapped in a warm cloak. They agreed that the one who first succeeded in "
        "making the traveller take his cloak off should be considered stronger than the other. "
        "Then the north wind blew as hard as he could, but the more he blew the more closely "
        "did the traveller fold his cloak around him.")


def sox(*args):
    subprocess.run(["sox", "-D", *args], check=True, env=dict(os.environ, SOX_OPTS="-R"))


def write_raw_wav(path, samples):
    data = np.clip(np.round(samples), -32768, 32767).astype("<i2").tobytes()
    header = (b"RIFF" + (36 + len(data)).to_bytes(4, "little") + b"WAVEfmt " +
              (16).to_bytes(4, "little") + (1).to_bytes(2, "little") + (1).to_bytes(2, "little") +
              RATE.to_bytes(4, "little") + (2 * RATE).to_bytes(4, "little") +
              (2).to_bytes(2, "little") + (16).to_bytes(2, "little") + b"data" +
              len(data).to_bytes(4, "little"))
    with open(path, "wb") as f:
        f.write(header + data)


def read_wav(path):
    blob = open(path, "rb").read()
    pos = 12
    while pos + 8 <= len(blob):
        tag, size = blob[pos:pos + 4], int.from_bytes(blob[pos + 4:pos + 8], "little")
        if tag == b"data":
            return np.frombuffer(blob[pos + 8:pos + 8 + size // 2 * 2], "<i2").astype(np.int64)
        pos += 8 + size + (size & 1)
    sys.exit(f"{path}: no data chunk")


def speech_sources():
    out = []
    for voice in VOICES:
        name = "speech_" + voice.replace("+", "_")
        if not os.path.exists(name + ".wav"):
            subprocess.run(["espeak-ng", "-v", voice, "-s", "165", "-w", name + ".raw.wav", TEXT],
                           check=True)
            sox(name + ".raw.wav", "-r", str(RATE), "-c", "1", "-b", "16", "-e",
                "signed-integer", name + ".wav")
        out.append(read_wav(name + ".wav"))
    return out


def cut_speech(rng, sources):
    source = sources[rng.integers(len(sources))]
    length = int(rng.uniform(0.5, 2.0) * RATE)
    first = int(rng.integers(len(source) - length))
    return source[first:first + length]


def drum_hit(rng):
    n = int(rng.uniform(0.1, 0.4) * RATE)
    t = np.arange(n) / RATE
    decay = np.exp(-t * rng.uniform(8, 30))
    if rng.random() < 0.5:  # a kick: a falling sine from a random phase
        f = rng.uniform(60, 150) * np.exp(-t * 6)
        phase = 2 * np.pi * np.cumsum(f) / RATE + rng.uniform(0, 2 * np.pi)
        body = np.sin(phase)
    else:  # a snare: noise and a tone
        body = 0.6 * rng.normal(size=n) / 2 + 0.4 * np.sin(2 * np.pi * 190 * t)
    return np.clip(rng.uniform(0.3, 0.95) * 32767 * decay * body, -32768, 32767)


def square_burst(rng):
    n = int(rng.uniform(0.05, 0.5) * RATE)
    period = rng.uniform(20, 300)
    phase = rng.uniform(0, period)
    level = rng.uniform(0.1, 1.0) * 32767
    return np.where(((np.arange(n) + phase) // (period / 2)) % 2 == 0, level, -level)


def clicks(x, y):
    error = np.abs(y[: len(x)] - x)
    onset = error[:ONSET].max()
    after = error[ONSET:].max() if len(x) > ONSET else 0
    return onset > max(1024, 2 * after), onset


def encode(encoder, decoder, wav, out, options):
    run = subprocess.run([encoder, "-f", *options, "-o", out + ".acm", wav], capture_output=True,
                         text=True, check=True)
    if os.path.exists(out + ".wav"):
        os.remove(out + ".wav")
    subprocess.run([decoder, out + ".acm", "-m"], capture_output=True, check=True)
    return read_wav(out + ".wav"), "warning" in run.stderr and "start" in run.stderr


def ima(wav):
    sox(wav, "-e", "ima-adpcm", "s.ima.wav")
    sox("s.ima.wav", "-e", "signed-integer", "-b", "16", "s.imad.wav")
    return read_wav("s.imad.wav")


def bits_per_sample(path, x):
    """The file's bits per input sample, headers included, as the summary lines count them."""
    return os.path.getsize(path) * 8 / len(x)


def snr(x, y):
    noise = ((y[: len(x)] - x) ** 2).sum()
    return np.inf if noise == 0 else 10 * np.log10((x ** 2).sum() / noise)


def up_to_pause(speech, seconds):
    """The speech up to the end of its last pause (50 ms under -50 dBFS) before `seconds`."""
    quiet = np.abs(speech) < 100
    run = 0
    for i in range(int(seconds * RATE), 0, -1):
        run = run + 1 if quiet[i] else 0
        if run >= RATE // 20:
            return speech[: i + RATE // 20]
    return speech[: int(seconds * RATE)]


def quiet_after_speech(encoder, decoder, sources):
    t = np.arange(2 * RATE) / RATE
    tone = np.round(32767 * 10 ** (-3) * np.sin(2 * np.pi * 440 * t)).astype(np.int64)
    qualities = ("3", "5", "7", "9", "10")
    print("| voice | speech s | IMA | " + " | ".join(f"-q {q}" for q in qualities) + " |")
    print("|:--|--:|--:|" + "--:|" * len(qualities))
    for voice, source in zip(VOICES, sources):
        speech = up_to_pause(source, 10)
        x = np.concatenate([speech, tone])
        write_raw_wav("qa.wav", x)
        cells = [f"{snr(tone, ima('qa.wav')[len(speech):]):.1f}"]
        for q in qualities:
            y, _ = encode(encoder, decoder, "qa.wav", "qa.out", ["-q", q])
            cells.append(f"{snr(tone, y[len(speech):len(x)]):.1f}")
        print(f"| {voice} | {len(speech) / RATE:.2f} | " + " | ".join(cells) + " |")


def generations(encoder, decoder, sources):
    print("| voice | setting | SNR after 1 | 2 | 3 | 4 | 5 | loss |")
    print("|:--|:--|--:|--:|--:|--:|--:|--:|")
    for voice, source in list(zip(VOICES, sources))[:2]:
        x = source[: 10 * RATE]
        write_raw_wav("gen.wav", x)
        current, values = "gen.wav", []
        for g in range(5):
            y, _ = encode(encoder, decoder, current, "gen.out", ["-b", str(3 * RATE / 1000)])
            y = y[: len(x)]
            current = f"gen{g}.wav"
            write_raw_wav(current, y)
            values.append(snr(x, y))
        print(f"| {voice} | -b {3 * RATE / 1000} | " + " | ".join(f"{v:.2f}" for v in values) +
              f" | {values[0] - values[-1]:.2f} |")


def main():
    encoder, decoder, work = (os.path.abspath(p) for p in sys.argv[1:4])
    count = int(sys.argv[4]) if len(sys.argv) > 4 else 200
    seed = int(sys.argv[5]) if len(sys.argv) > 5 else 32
    os.makedirs(work, exist_ok=True)
    os.chdir(work)
    rng = np.random.default_rng(seed)
    sources = speech_sources()
    kinds = {"cut speech": lambda: cut_speech(rng, sources), "drum hits": lambda: drum_hit(rng),
             "square bursts": lambda: square_burst(rng)}
    modes = {"-q 5": ["-q", "5"], "-b 3 b/s": ["-b", str(3 * RATE / 1000)]}
    print("### Quiet passage after speech (SNR of the tone, dB)")
    print()
    quiet_after_speech(encoder, decoder, sources)
    print()
    print("### Five generations of speech")
    print()
    generations(encoder, decoder, sources)
    print()
    print("### Clicks at onsets")
    print()
    print(f"{count} slices of each kind, seed {seed}; voices {', '.join(VOICES)}")
    print()
    print("| material | coder | clicks | onset error median | max | bits/sample | SNR median | "
          "warned on clicks | warned on clean starts |")
    print("|:--|:--|--:|--:|--:|--:|--:|--:|--:|")
    for kind, make in kinds.items():
        rows = {"IMA ADPCM": [], **{m: [] for m in modes}}
        for i in range(count):
            x = np.asarray(make(), dtype=np.int64)
            write_raw_wav("s.wav", x)
            y = ima("s.wav")
            rows["IMA ADPCM"].append(
                (*clicks(x, y), False, bits_per_sample("s.ima.wav", x), snr(x, y)))
            for label, options in modes.items():
                y, warned = encode(encoder, decoder, "s.wav", "s.acm", options)
                rows[label].append(
                    (*clicks(x, y), warned, bits_per_sample("s.acm.acm", x), snr(x, y)))
        for label, row in rows.items():
            errors = np.array([e for _, e, _, _, _ in row])
            click = sum(c for c, _, _, _, _ in row)
            warned_click = sum(w for c, _, w, _, _ in row if c)
            warned_clean = sum(w for c, _, w, _, _ in row if not c)
            bits = np.mean([b for _, _, _, b, _ in row])
            snr_median = np.median([v for *_, v in row])
            warn_cells = ("–", "–") if label == "IMA ADPCM" else (
                f"{warned_click} of {click}", f"{warned_clean} of {len(row) - click}")
            print(f"| {kind} | {label} | {click}/{len(row)} | {np.median(errors):.0f} | "
                  f"{errors.max():.0f} | {bits:.2f} | {snr_median:.2f} | {warn_cells[0]} | "
                  f"{warn_cells[1]} |")


if __name__ == "__main__":
    main()
