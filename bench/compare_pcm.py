#!/usr/bin/env python3
"""Compares decoded 16-bit samples with the original ones.

    compare_pcm.py ORIGINAL.wav DECODED.wav CHANNELS RATE

Both files are RIFF WAVE files whose data chunk holds 16-bit little-endian samples; only the
data chunks are compared (talveco's header always states 22050 Hz stereo, whatever the
stream). Prints one line: SNR in dB, segmental SNR in dB, wrapped-sample count, samples
compared.

Segmental SNR: the mean of per-segment SNRs over 20 ms segments (all channels of a segment
together), each clamped to [-10, 60] dB; segments whose original is quieter than -60 dBFS RMS
are left out. A wrapped sample is a decoded sample whose sign is opposite to that of an
original sample of magnitude 8192 or more and that lies 32768 or more away from it: the
16-bit wrap-around of a sample pushed past full scale.
"""
import math
import struct
import sys
from array import array


def data_chunk(path):
    with open(path, "rb") as f:
        blob = f.read()
    if blob[:4] != b"RIFF" or blob[8:12] != b"WAVE":
        sys.exit(f"{path}: not a RIFF WAVE file")
    pos = 12
    while pos + 8 <= len(blob):
        tag, size = blob[pos:pos + 4], struct.unpack_from("<I", blob, pos + 4)[0]
        if tag == b"data":
            body = blob[pos + 8:pos + 8 + size]
            samples = array("h")
            samples.frombytes(body[:len(body) // 2 * 2])
            if sys.byteorder != "little":
                samples.byteswap()
            return samples
        pos += 8 + size + (size & 1)
    sys.exit(f"{path}: no data chunk")


def snr_db(signal, noise):
    if noise == 0:
        return math.inf
    if signal == 0:
        return -math.inf
    return 10 * math.log10(signal / noise)


def main():
    original, decoded = data_chunk(sys.argv[1]), data_chunk(sys.argv[2])
    channels, rate = int(sys.argv[3]), int(sys.argv[4])
    n = min(len(original), len(decoded))
    segment = max(1, rate // 50) * channels
    quiet = segment * (32768 * 10 ** (-60 / 20)) ** 2
    total_signal = total_noise = 0
    seg_values = []
    wrapped = 0
    for start in range(0, n, segment):
        stop = min(n, start + segment)
        signal = noise = 0
        for x, y in zip(original[start:stop], decoded[start:stop]):
            signal += x * x
            d = x - y
            noise += d * d
            if abs(x) >= 8192 and x * y < 0 and abs(d) >= 32768:
                wrapped += 1
        total_signal += signal
        total_noise += noise
        if stop - start == segment and signal >= quiet:
            seg_values.append(min(60.0, max(-10.0, snr_db(signal, noise))))
    seg = sum(seg_values) / len(seg_values) if seg_values else float("nan")
    print(f"{snr_db(total_signal, total_noise):.2f} {seg:.2f} {wrapped} {n}")


if __name__ == "__main__":
    main()
