#!/usr/bin/env python3
"""The encoder on signals that are hard for the format, beside IMA ADPCM (sox).

    hard_signals.py ENCODER DECODER WORK_DIR [MAKE_BENCH_STREAM]
    hard_signals.py --quality-table ENCODER DECODER WORK_DIR FILE...

Makes the material in WORK_DIR (sox, espeak-ng and the sample writer below), encodes each
file at -q 0, -q 5 and 4 bits per sample, decodes it with talveco and prints Markdown tables:
the hard signals with the share of each that is measured, the SNR of each at -q 0 to 10 (with
a ramped and a band-limited square and a tone mixture of changing level besides), five
generations at 3 bits per sample and at -q 5, and --like on edited copies (of streams of
make_bench_stream too, when given; with LIKE_ONLY set in the environment, only that table).
With --quality-table, only the -q 0 to 10 table, of the WAV files given.
"""
import math
import os
import struct
import subprocess
import sys
from array import array

RATE = 22050


def write_wav(path, samples):
    data = array("h", (max(-32768, min(32767, int(round(s)))) for s in samples))
    if sys.byteorder != "little":
        data.byteswap()
    body = data.tobytes()
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + len(body)) + b"WAVEfmt ")
        f.write(struct.pack("<IHHIIHH", 16, 1, 1, RATE, RATE * 2, 2, 16))
        f.write(b"data" + struct.pack("<I", len(body)) + body)


def read_data(path):
    with open(path, "rb") as f:
        blob = f.read()
    pos = 12
    while pos + 8 <= len(blob):
        tag, size = blob[pos:pos + 4], struct.unpack_from("<I", blob, pos + 4)[0]
        if tag == b"data":
            samples = array("h")
            samples.frombytes(blob[pos + 8:pos + 8 + size // 2 * 2])
            if sys.byteorder != "little":
                samples.byteswap()
            return samples
        pos += 8 + size + (size & 1)
    sys.exit(f"{path}: no data chunk")


def snr(x, y, first=0, last=None):
    last = min(len(x), len(y)) if last is None else last
    signal = noise = 0
    for a, b in zip(x[first:last], y[first:last]):
        signal += a * a
        noise += (a - b) * (a - b)
    if noise == 0:
        return math.inf
    return 10 * math.log10(signal / noise) if signal else -math.inf


def sox(*args):
    subprocess.run(["sox", "-D", *args], check=True, env=dict(os.environ, SOX_OPTS="-R"))


def make_material():
    """Name -> (file, (first, last) shares of the file over which the SNR is measured, what
    it is)."""
    n = 5 * RATE
    write_wav("square.wav", (32767 if (i // 110) % 2 == 0 else -32768 for i in range(n)))
    sox("-n", "-r", str(RATE), "-b", "16", "-c", "1", "-e", "signed-integer", "tone0dB.wav",
        "synth", "5", "sine", "1000", "gain", "-n", "-0.01")
    sox("-n", "-r", str(RATE), "-b", "16", "-c", "1", "-e", "signed-integer", "beep.wav",
        "synth", "0.2", "sine", "1000", "gain", "-n", "-10")
    subprocess.run(["espeak-ng", "-v", "en+m3", "-s", "165", "-w", "speech.raw.wav",
                    "The north wind and the sun were disputing which was the stronger, when a "
                    "traveller came along wrapped in a warm cloak."], check=True)
    sox("speech.raw.wav", "-r", str(RATE), "-c", "1", "-b", "16", "-e", "signed-integer",
        "speech.wav")
    for name, gain in (("quiet", "-60"), ("loud", "-0.01")):
        sox("-n", "-r", str(RATE), "-b", "16", "-c", "1", "-e", "signed-integer",
            f"{name}tone.wav", "synth", "5", "sine", "440", "gain", "-n", gain)
        sox("speech.wav", f"{name}tone.wav", f"{name}_after_speech.wav")
    sox("-n", "-r", str(RATE), "-b", "16", "-c", "1", "-e", "signed-integer", "chord.wav",
        "synth", "6", "sawtooth", "220", "sawtooth", "277.18", "sawtooth", "329.63", "remix",
        "-", "lowpass", "2000", "gain", "-n", "-3")
    chord = read_data("chord.wav")
    # 1 s steady at about -13 dBFS RMS, then down 90 dB over 4 s: from 3.53 s to 3.98 s it
    # passes from -70 to -80 dBFS.
    write_wav("fade.wav", (v * 10 ** (-90 * min(1, max(0, (i / RATE - 1) / 4)) / 20)
                           for i, v in enumerate(chord)))
    write_wav("constant.wav", [1000] * RATE)
    write_wav("one_sample.wav", [12345])
    speech_share = len(read_data("speech.wav")) / len(read_data("quiet_after_speech.wav"))
    whole = (0, 1)
    return {
        "square": ("square.wav", whole, "100 Hz square, +32767/-32768, 5 s"),
        "tone0dB": ("tone0dB.wav", whole, "1 kHz sine at -0.01 dBFS, no fade-in, 5 s"),
        "beep": ("beep.wav", whole, "1 kHz sine at -10 dBFS, 0.2 s, no fade-in"),
        "fade": ("fade.wav", (3.53 / 6, 3.98 / 6),
                 "chords faded by 90 dB over 4 s; SNR where the input is at -70 to -80 dBFS"),
        "quiet_after_speech": ("quiet_after_speech.wav", (speech_share, 1),
                               "-60 dBFS (peak) tone after speech; SNR of the tone"),
        "loud_after_speech": ("loud_after_speech.wav", (speech_share, 1),
                              "0 dBFS tone after speech; SNR of the tone"),
        "constant": ("constant.wav", whole, "constant 1000, 1 s"),
        "one_sample": ("one_sample.wav", whole, "one sample of 12345"),
    }


def more_for_quality_table():
    """Signals for the -q 0 to 10 table besides the hard ones: name -> (file, what it is)."""
    n = 2 * RATE
    ramped = []
    for i in range(n):
        phase = i % 220
        v = -32768 + 8192 * phase if phase < 110 else 32767 - 8192 * (phase - 110)
        ramped.append(max(-32768, min(32767, v)))
    write_wav("ramped_square.wav", ramped)
    write_wav("bl_square.wav", (4 / math.pi * 0.89 * 32767 *
                                sum(math.sin(2 * math.pi * 100 * k * i / RATE) / k
                                    for k in range(1, 110, 2)) for i in range(n)))
    write_wav("tone_mixture.wav", (0.15 * 32767 * 10 ** (10 * math.sin(i / 2000) / 20) *
                                   sum(math.sin(2 * math.pi * f * i / RATE)
                                       for f in (150, 440, 1250, 3300))
                                   for i in range(3 * RATE)))
    for name, wave, hz in (("sawtooth", "sawtooth", "220"), ("square_330", "square", "330")):
        sox("-n", "-r", str(RATE), "-b", "16", "-c", "1", "-e", "signed-integer", f"{name}.wav",
            "synth", "3", wave, hz, "gain", "-n", "-0.1")
    write_wav("clipped_chord.wav", (0.85 * 32767 * sum(math.sin(2 * math.pi * f * i / RATE)
                                                       for f in (220, 277.18, 329.63))
                                    for i in range(n)))
    return {
        "ramped_square": ("ramped_square.wav",
                          "full-scale 100 Hz square, its edges ramps of 8 samples, 2 s"),
        "bl_square": ("bl_square.wav", "100 Hz square of its odd harmonics below 11025 Hz, "
                      "0.89 of full scale (its overshoot clipped), 2 s"),
        "tone_mixture": ("tone_mixture.wav", "tones of 150, 440, 1250 and 3300 Hz, their level "
                         "swinging by +-10 dB (clipped where loudest), 3 s"),
        "sawtooth": ("sawtooth.wav", "220 Hz sawtooth from sox at -0.1 dBFS (its peaks clipped "
                     "by the resampling), 3 s"),
        "square_330": ("square_330.wav", "330 Hz square from sox at -0.1 dBFS, 3 s"),
        "clipped_chord": ("clipped_chord.wav", "sines of 220, 277.18 and 329.63 Hz at 0.85 of "
                          "full scale each, clipped where they meet, 2 s"),
    }


class Codec:
    def __init__(self, encoder, decoder):
        self.encoder, self.decoder = encoder, decoder

    def acm(self, wav, out, *options):
        """Encodes and decodes; returns (bits per sample, decoded samples, stderr)."""
        run = subprocess.run([self.encoder, "-f", *options, "-o", out + ".acm", wav],
                             capture_output=True, text=True)
        if os.path.exists(out + ".wav"):
            os.remove(out + ".wav")
        subprocess.run([self.decoder, out + ".acm", "-m"], capture_output=True, check=True)
        count = len(read_data(wav))
        return os.path.getsize(out + ".acm") * 8 / count, read_data(out + ".wav")[:count], \
            run.stderr

    @staticmethod
    def ima(wav, out):
        sox(wav, "-e", "ima-adpcm", out + ".ima.wav")
        sox(out + ".ima.wav", "-e", "signed-integer", "-b", "16", out + ".imad.wav")
        count = len(read_data(wav))
        return os.path.getsize(out + ".ima.wav") * 8 / count, read_data(out + ".imad.wav")[:count]


def cell(bits, value):
    return f"{bits:.3f} | {value:.2f}" if math.isfinite(value) else f"{bits:.3f} | exact"


def hard_table(codec, material):
    print("| signal | IMA b/s | IMA SNR | -q 0 b/s | SNR | -q 5 b/s | SNR | -b 4 b/s: b/s | SNR |")
    print("|:--|--:|--:|--:|--:|--:|--:|--:|--:|")
    notes = []
    for name, (wav, (start, end), what) in material.items():
        x = read_data(wav)
        first, last = int(start * len(x)), int(end * len(x))
        row = [name]
        bits, y = codec.ima(wav, name)
        row.append(cell(bits, snr(x, y, first, last)))
        for label, options in (("q0", ["-q", "0"]), ("q5", ["-q", "5"]),
                               ("b4", ["-b", str(4 * RATE / 1000)])):
            bits, y, errors = codec.acm(wav, f"{name}.{label}", *options)
            row.append(cell(bits, snr(x, y, first, last)))
            if "bitrate reached" in errors:
                notes.append(f"{name} at {' '.join(options)}: " +
                             errors.split("warning: ")[-1].strip())
        print("| " + " | ".join(row) + " |")
    print()
    for name, (_, _, what) in material.items():
        print(f"- {name}: {what}")
    for note in notes:
        print(f"- warned: {note}")


FALL_DB = 0.05  # what the table lets the SNR fall by from one point to the next: rounding


def geometry(acm):
    with open(acm, "rb") as f:
        value = struct.unpack_from("<H", f.read(14), 12)[0]
    return f"L{value & 15} R{value >> 4}"


def quality_table(codec, files):
    """-q 0 to 10 of each (name, wav): the SNR over the whole file, a mark where it falls
    below an earlier point's by more than FALL_DB, the geometry where it changes, and the bits
    at -q 0, 5 and 10."""
    print("| signal | " + " | ".join(f"-q {q}" for q in range(11)) + " | b/s at -q 0, 5, 10 |")
    print("|:--|" + "--:|" * 12)
    falls = 0
    for name, wav in files:
        x = read_data(wav)
        row, bits, best, shape = [name], [], -math.inf, None
        for q in range(11):
            b, y, _ = codec.acm(wav, f"{name}.q{q}", "-q", str(q))
            value, now = snr(x, y), geometry(f"{name}.q{q}.acm")
            text = "exact" if math.isinf(value) else f"{value:.2f}"
            if value < best - FALL_DB:
                text = f"**{text} ↓**"
                falls += 1
            if now != shape:
                text += f" ({now})"
            row.append(text)
            bits.append(b)
            best, shape = max(best, value), now
        row.append(f"{bits[0]:.2f}, {bits[5]:.2f}, {bits[10]:.2f}")
        print("| " + " | ".join(row) + " |")
    print()
    print(f"Points below an earlier point by more than {FALL_DB} dB: {falls}.")


def generations(codec, names):
    print("| material | setting | SNR after 1 | 2 | 3 | 4 | 5 | loss |")
    print("|:--|:--|--:|--:|--:|--:|--:|--:|")
    for name in names:
        x = read_data(name + ".wav")
        for label, options in (("-b 3 b/s", ["-b", str(3 * RATE / 1000)]), ("-q 5", [])):
            current, values = name + ".wav", []
            for g in range(5):
                _, y, _ = codec.acm(current, f"{name}.gen", *options)
                write_wav(f"{name}.gen{g}.wav", y)
                current = f"{name}.gen{g}.wav"
                values.append(snr(x, y))
            print(f"| {name} | {label} | " + " | ".join(f"{v:.2f}" for v in values) +
                  f" | {values[0] - values[-1]:.2f} |")


def edits(n):
    """The edits --like is measured on: name -> (edit of a list of samples, the edited copy's
    untouched samples as a predicate on its positions)."""
    middle, half = n // 2, RATE // 2
    # 1024 samples are whole rows at every level up to 10; 1000 are whole rows up to 3 levels
    # only, and move the rest against the block grid beyond that.
    return {
        "cut of 1000": (lambda x: x[:middle] + x[middle + 1000:], lambda i: True),
        "cut of 1024": (lambda x: x[:middle] + x[middle + 1024:], lambda i: True),
        "+6 dB on 0.5 s": (lambda x: x[:middle] + [2 * v for v in x[middle:middle + half]] +
                           x[middle + half:],
                           lambda i: not middle <= i < middle + half),
    }


def like(codec, old, label, options):
    """Edits the decoded OLD.acm, encodes the edit --like OLD with `options` and plainly, and
    prints a row per edit: exact samples of all and of the untouched ones, and the bits."""
    if os.path.exists(old + ".wav"):
        os.remove(old + ".wav")
    subprocess.run([codec.decoder, old + ".acm", "-m"], capture_output=True, check=True)
    decoded = list(read_data(old + ".wav"))
    for edit_name, (edit, untouched) in edits(len(decoded)).items():
        edited = [max(-32768, min(32767, v)) for v in edit(decoded)]
        write_wav("like.edit.wav", edited)
        bits, y, _ = codec.acm("like.edit.wav", "like.new", *options, "--like", old + ".acm")
        plain, _, _ = codec.acm("like.edit.wav", "like.plain", *options)
        exact = [p == q for p, q in zip(edited, y)]
        kept = [e for i, e in enumerate(exact) if untouched(i)]
        print(f"| {label} | {edit_name} | {sum(exact)} of {len(exact)} | {sum(kept)} of "
              f"{len(kept)} | {bits:.3f} | {plain:.3f} |")


def like_table(codec, make_stream):
    print("| stream | edit | exact | exact of the untouched | --like b/s | plain b/s |")
    print("|:--|:--|--:|--:|--:|--:|")
    for name in ("speech", "chord"):
        for label, options in (("-q 5", ["-q", "5"]), ("-b 3 b/s", ["-b", str(3 * RATE / 1000)])):
            codec.acm(name + ".wav", "like.old", *options)
            like(codec, "like.old", f"{name} {label}", options)
    if make_stream:
        for levels in (2, 4, 7):
            subprocess.run([make_stream, "realistic", str(levels), "like.old.acm", "0.2", "1"],
                           check=True)
            like(codec, "like.old", f"builder, {levels} levels", ["-q", "5"])


def main():
    if sys.argv[1] == "--quality-table":
        encoder, decoder, work = (os.path.abspath(p) for p in sys.argv[2:5])
        files = [(os.path.basename(f)[:-4], os.path.abspath(f)) for f in sys.argv[5:]]
        os.makedirs(work, exist_ok=True)
        os.chdir(work)
        quality_table(Codec(encoder, decoder), files)
        return
    encoder, decoder, work = (os.path.abspath(p) for p in sys.argv[1:4])
    make_stream = os.path.abspath(sys.argv[4]) if len(sys.argv) > 4 else None
    os.makedirs(work, exist_ok=True)
    os.chdir(work)
    codec = Codec(encoder, decoder)
    material = make_material()
    if os.environ.get("LIKE_ONLY"):
        like_table(codec, make_stream)
        return
    print("### Hard signals (SNR in dB over the part named below; b/s = file bits / samples)")
    print()
    hard_table(codec, material)
    print()
    print("### -q 0 to 10 (SNR in dB over the whole file; ↓ where it falls below an earlier "
          "point's; the geometry, levels and rows, where it changes)")
    print()
    more = more_for_quality_table()
    quality_table(codec, [(name, wav) for name, (wav, _, _) in material.items()] +
                  [(name, wav) for name, (wav, _) in more.items()])
    print()
    for name, (_, what) in more.items():
        print(f"- {name}: {what}")
    print()
    print("### Five generations (each decoded file encoded again with the same setting)")
    print()
    generations(codec, ["speech", "chord"])
    print()
    print("### --like on an edited copy (a cut or a gain change in the middle; plain: the same")
    print("edit encoded without --like)")
    print()
    like_table(codec, make_stream)


if __name__ == "__main__":
    main()
