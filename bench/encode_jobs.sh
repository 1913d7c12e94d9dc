#!/usr/bin/env bash
# Many small files encoded in one run of talveco-encode, with one job and with
# two (and the default, the usable processors): 1,000 two-second 22050 Hz mono
# WAV files by default, the material of bench/many_files.sh (speech-like tones
# and noise after a fade-in, written by Debian's python3 with numpy). Checks
# that every run wrote the same streams and printed the same messages as the
# one-job run, and prints the median wall-clock time of RUNS runs (default 5)
# after one warm-up, the CPU time and peak resident memory, and the load
# average before and after, since the machine may be shared.
#
#   bench/encode_jobs.sh [BUILD_DIR] [WORK_DIR]
# Environment: RUNS, FILES (default 1000), SECONDS_EACH (default 2).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$repo/build-bench}")
work=${2:-/tmp/talveco-encode-jobs}
runs=${RUNS:-5}
files=${FILES:-1000}
seconds=${SECONDS_EACH:-2}
rate=22050

for tool in /usr/bin/time /usr/bin/python3; do
    command -v "$tool" >/dev/null || { echo "encode_jobs.sh: $tool missing" >&2; exit 1; }
done

if [ ! -x "$build/app/encode/talveco-encode" ] || [ -z "${NO_BUILD:-}" ]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j"$(nproc)" --target talveco-encode >/dev/null
fi
encoder="$build/app/encode/talveco-encode"

mkdir -p "$work"
cd "$work"
material="$files x $seconds s, mono, $rate Hz, with a fade-in"
if [ "$(cat material 2>/dev/null)" != "$material" ]; then
    rm -rf source material
    mkdir -p source
    /usr/bin/python3 - "$files" "$seconds" "$rate" <<'PY'
import sys, wave
import numpy as np
files, seconds, rate = (int(v) for v in sys.argv[1:])
t = np.arange(seconds * rate) / rate
for n in range(files):
    rng = np.random.default_rng(n)
    pitch = 110 + 5 * (n % 40)
    voice = sum(np.sin(2 * np.pi * pitch * k * t) / k for k in range(1, 8))
    envelope = 0.5 + 0.5 * np.sin(2 * np.pi * (2 + n % 5) * t)
    fade = np.minimum(1.0, np.arange(t.size) / 2048)  # the transform starts from silence
    signal = fade * (3000 * voice * envelope + rng.normal(0, 300, t.size))
    with wave.open(f"source/s{n:04d}.wav", "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(np.clip(signal, -32768, 32767).astype("<i2").tobytes())
PY
    echo "$material" >material
fi

median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
load() { cut -d' ' -f1-3 /proc/loadavg; }

echo "material: $material in $work; processors usable: $(nproc); load average before: $(load)"
echo "$runs timed runs after one warm-up, medians"
printf '\n| %-36s | %8s | %8s | %9s |\n' command "wall ms" "CPU ms" "peak RSS"
printf '|%s|%s|%s|%s|\n' :------------------------------------- ---------: ---------: ----------:
[ ! -e runs ] || mv runs "runs.old.$$"
declare -A wall
for jobs in 1 2 default; do
    times=() cpu=() peak=0
    option=(-j "$jobs")
    [ "$jobs" != default ] || option=()
    for run in $(seq 0 "$runs"); do
        out="runs/j$jobs-$run"
        mkdir -p "$out"
        start=$(date +%s%N)
        /usr/bin/time -f "%M %U %S" -o usage "$encoder" "${option[@]}" -d "$out" source/*.wav \
            2>"$out.messages"
        end=$(date +%s%N)
        # The messages name the output folder: the same text once it is taken out.
        sed "s|$out/|OUT/|" "$out.messages" >"$out.said"
        if [ -e runs/j1-0.said ]; then
            cmp -s runs/j1-0.said "$out.said" || { echo "encode_jobs.sh: $out: other messages"; exit 1; }
            diff -rq runs/j1-0 "$out" >/dev/null || { echo "encode_jobs.sh: $out: other streams"; exit 1; }
        fi
        [ "$run" -eq 0 ] && continue  # warm-up
        times+=("$((end - start))")
        cpu+=("$(awk '{ printf "%d\n", ($2 + $3) * 1000 }' usage)")
        rss=$(awk '{ print $1 }' usage)
        peak=$(( rss > peak ? rss : peak ))
    done
    ms=$(printf '%s\n' "${times[@]}" | median | awk '{ printf "%d", $1 / 1e6 }')
    wall[$jobs]=$ms
    label="talveco-encode ${option[*]} -d out *.wav"
    printf '| %-36s | %8s | %8s | %6s KiB |\n' "${label//  / }" "$ms" \
        "$(printf '%s\n' "${cpu[@]}" | median)" "$peak"
done
rm -rf runs runs.old.*
echo
echo "every run wrote the streams and printed the messages of the first -j 1 run"
awk -v one="${wall[1]}" -v two="${wall[2]}" 'BEGIN { printf "-j 2: %.2fx the speed of -j 1\n", one / two }'
echo "load average after: $(load)"
