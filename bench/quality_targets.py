#!/usr/bin/env python3
"""Checks the quality bench's results against the encoder's targets.

    quality_targets.py results.tsv

results.tsv is written by bench/quality.sh, one result a line, tab-separated:
    ima  NAME BITS SNR SEGSNR WRAPPED
    acm  NAME ASKED_BITS GOT_BITS SNR SEGSNR WRAPPED SECONDS
    q5   NAME GOT_BITS SNR SEGSNR WRAPPED
    time LABEL SECONDS              (LABEL: quality, bitrate, flac)
Prints a Markdown table: each target, what was measured, met or missed.
"""
import sys
from collections import defaultdict


def load(path):
    ima, acm, q5, times = {}, defaultdict(list), {}, {}
    with open(path) as f:
        for line in f:
            kind, *v = line.rstrip("\n").split("\t")
            if kind == "ima":
                ima[v[0]] = (float(v[1]), float(v[2]))
            elif kind == "acm":
                acm[v[0]].append(dict(asked=float(v[1]), got=float(v[2]), snr=float(v[3]),
                                      wrapped=int(v[5]), seconds=float(v[6])))
            elif kind == "q5":
                q5[v[0]] = dict(got=float(v[1]), snr=float(v[2]), wrapped=int(v[4]))
            elif kind == "time":
                times[v[0]] = float(v[1])
    return ima, acm, q5, times


def best_at_most(rows, bits):
    """The best SNR among the encodings of at most `bits` bits per sample."""
    fitting = [r for r in rows if r["got"] <= bits + 1e-9]
    return max(fitting, key=lambda r: r["snr"]) if fitting else None


def main():
    ima, acm, q5, times = load(sys.argv[1])
    lines = []

    def target(text, measured, met):
        lines.append(f"| {text} | {measured} | {'met' if met else 'MISSED'} |")

    def snr_target(name, bits, margin, label):
        row = best_at_most(acm[name], bits)
        need = ima[name][1] + margin
        if row is None:
            target(f"{label}: {name} at <= {bits} b/s >= {need:.2f} dB", "no encoding that small",
                   False)
            return
        target(f"{label}: {name} at <= {bits} b/s >= IMA {ima[name][1]:.2f} + {margin} dB",
               f"{row['snr']:.2f} dB at {row['got']:.3f} b/s", row["snr"] >= need)

    for name in ("male", "female"):
        snr_target(name, 3.0, 6, "speech")
        snr_target(name, 2.1, 0, "speech, IMA's SNR")
    for name in ("chords", "sweep"):
        snr_target(name, 3.0, 12, "tonal")
    pink = [r for r in acm["pink"] if r["asked"] == 4.0]
    if pink:
        need = ima["pink"][1] + 1.5
        target(f"pink noise at 4.0 b/s >= IMA {ima['pink'][1]:.2f} + 1.5 dB",
               f"{pink[0]['snr']:.2f} dB at {pink[0]['got']:.3f} b/s", pink[0]["snr"] >= need)
    row = best_at_most(acm["sine0dB"], 4.1)
    if row:
        target(f"0 dBFS sine at <= 4.1 b/s within 1 dB of IMA {ima['sine0dB'][1]:.2f} dB",
               f"{row['snr']:.2f} dB at {row['got']:.3f} b/s",
               row["snr"] >= ima["sine0dB"][1] - 1)
    else:
        target("0 dBFS sine at <= 4.1 b/s within 1 dB of IMA", "no encoding that small", False)
    wrapped = sum(r["wrapped"] for rows in acm.values() for r in rows)
    wrapped += sum(r["wrapped"] for r in q5.values())
    target("no wrapped sample anywhere", f"{wrapped} wrapped", wrapped == 0)
    long_rows = [(n, r) for n, rows in acm.items() for r in rows if r["seconds"] > 2]
    worst_name, worst = max(long_rows, key=lambda nr: abs(nr[1]["got"] / nr[1]["asked"] - 1))
    error = (worst["got"] / worst["asked"] - 1) * 100
    off = sum(1 for _, r in long_rows if abs(r["got"] / r["asked"] - 1) > 0.02)
    target("average bitrate within 2 % on files > 2 s",
           f"worst {error:+.2f} % ({worst_name} at {worst['asked']} b/s); {off} of "
           f"{len(long_rows)} outside", off == 0)
    if {"quality", "bitrate", "flac"} <= times.keys():
        target("constant quality at least as fast as flac -8",
               f"{times['quality']:.2f} s vs {times['flac']:.2f} s",
               times["quality"] <= times["flac"])
        target("bitrate mode within 3x of flac -8",
               f"{times['bitrate']:.2f} s = {times['bitrate'] / times['flac']:.2f}x",
               times["bitrate"] <= 3 * times["flac"])

    print("| target | measured | result |")
    print("|:--|:--|:--|")
    print("\n".join(lines))


if __name__ == "__main__":
    main()
