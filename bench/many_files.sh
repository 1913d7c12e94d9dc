#!/usr/bin/env bash
# Many small files: 1,000 ACM files of 2 s each, decoded side by side in one
# run by
#   - a shell loop of talveco, one process per file (what a batch of the
#     historical program costs),
#   - a shell loop of cp over the same files (the cost of a process alone),
#   - talveco-decode -d out *.acm, one process (default jobs, and -j 1),
#   - flac -d of the same audio as 1,000 FLAC files in one call.
# Builds Release into BUILD_DIR (default build-bench), makes the material once
# in WORK_DIR (default /tmp/talveco-many): speech-like tones and noise written
# by Debian's python3 with numpy, encoded by talveco-encode, and the FLAC files
# by flac from talveco-decode's WAV files, so the two decoders get the same
# audio. Prints the median wall-clock time of RUNS runs (default 5) after one
# warm-up, the CPU time and the peak resident memory of each.
#
#   bench/many_files.sh [BUILD_DIR] [WORK_DIR]
# Environment: RUNS, FILES (default 1000), SECONDS_EACH (default 2),
# CHANNELS (default 1), RATE (default 22050).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$repo/build-bench}")
work=${2:-/tmp/talveco-many}
runs=${RUNS:-5}
files=${FILES:-1000}
seconds=${SECONDS_EACH:-2}
channels=${CHANNELS:-1}
rate=${RATE:-22050}

for tool in /usr/bin/time flac /usr/bin/python3; do
    command -v "$tool" >/dev/null || { echo "many_files.sh: $tool missing" >&2; exit 1; }
done

cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target talveco talveco-decode talveco-encode >/dev/null
talveco="$build/app/talveco"
decoder="$build/app/decode/talveco-decode"
encoder="$build/app/encode/talveco-encode"

mkdir -p "$work"
cd "$work"
material="$files x $seconds s, $channels channel(s), $rate Hz, with a fade-in"
if [ "$(cat material 2>/dev/null)" != "$material" ]; then
    rm -rf acm flac source material
    mkdir -p acm flac source
    /usr/bin/python3 - "$files" "$seconds" "$channels" "$rate" <<'PY'
import sys, wave
import numpy as np
files, seconds, channels, rate = (int(v) for v in sys.argv[1:])
t = np.arange(seconds * rate) / rate
for n in range(files):
    rng = np.random.default_rng(n)
    pitch = 110 + 5 * (n % 40)
    voice = sum(np.sin(2 * np.pi * pitch * k * t) / k for k in range(1, 8))
    envelope = 0.5 + 0.5 * np.sin(2 * np.pi * (2 + n % 5) * t)
    fade = np.minimum(1.0, np.arange(t.size) / 2048)  # the transform starts from silence
    signal = fade * (3000 * voice * envelope + rng.normal(0, 300, t.size))
    frames = np.repeat(signal[:, None], channels, axis=1)
    with wave.open(f"source/s{n:04d}.wav", "wb") as out:
        out.setnchannels(channels)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(np.clip(frames, -32768, 32767).astype("<i2").tobytes())
PY
    (cd source && "$encoder" -s -- *.wav) && mv source/*.acm acm/
    "$decoder" -s -d flac acm/*.acm
    (cd flac && flac -s --delete-input-file -- *.wav)
    echo "$material" >material
fi

# Nanoseconds of one run of "$@" on the wall clock; peak resident KiB and CPU
# seconds (user + system) into the file "usage".
timed() {
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f "%M %U %S" -o usage "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    echo $((end - start))
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The commands, each run writing into a new folder $out. Nothing is deleted
# until all runs are done: ext4 allocates inodes slowly for some minutes
# after many were freed (its search skips recently deleted ones), which
# would burden whichever command runs after a clean-up.
# talveco writes beside a path with directories, so it runs in acm/, and its
# outputs are moved to $out afterwards, untimed.
talveco_loop() { cd "$work/acm" && for f in *.acm; do "$talveco" "$f" >/dev/null; done; }
cp_loop() { cd "$out" && for f in "$work"/acm/*.acm; do cp "$f" .; done; }
decode_all() { "$decoder" -d "$out" "$@" "$work"/acm/*.acm; }
flac_all() { cd "$work/flac" && flac -s -d -f --output-prefix="$out/" -- *.flac; }
export -f talveco_loop cp_loop decode_all flac_all
export talveco decoder work

declare -A label=(
    [talveco_loop]="shell loop of talveco"
    [cp_loop]="shell loop of cp"
    [decode_all]="talveco-decode -d out *.acm"
    [decode_one_job]="talveco-decode -j 1 -d out *.acm"
    [flac_all]="flac -d *.flac (one call)"
)
command_of() {
    case $1 in
        decode_one_job) echo "decode_all -j 1" ;;
        *) echo "$1" ;;
    esac
}

echo "material: $material in $work ($(df --output=fstype "$work" | tail -1)); processors usable: $(nproc)"
echo "$runs timed runs after one warm-up, medians"
printf '\n| %-34s | %8s | %8s | %9s |\n' command "wall ms" "CPU ms" "peak RSS"
printf '|%s|%s|%s|%s|\n' :----------------------------------- ---------: ---------: ----------:
declare -A wall
work=$(pwd)
[ ! -e runs ] || mv runs "runs.old.$$"  # deleted at the end, with this run's
for name in talveco_loop cp_loop decode_all decode_one_job flac_all; do
    times=() cpu=() peak=0
    for run in $(seq 0 "$runs"); do
        export out="$work/runs/$name-$run"
        mkdir -p "$out"
        ns=$(timed bash -c "$(command_of $name)")
        [ "$name" != talveco_loop ] || mv "$work"/acm/*.wav "$out"/
        [ "$run" -eq 0 ] && continue  # warm-up
        times+=("$ns")
        cpu+=("$(awk '{ printf "%d\n", ($2 + $3) * 1000 }' usage)")
        rss=$(awk '{ print $1 }' usage)
        peak=$(( rss > peak ? rss : peak ))
    done
    ms=$(printf '%s\n' "${times[@]}" | median | awk '{ printf "%d", $1 / 1e6 }')
    wall[$name]=$ms
    printf '| %-34s | %8s | %8s | %6s KiB |\n' "${label[$name]}" "$ms" \
        "$(printf '%s\n' "${cpu[@]}" | median)" "$peak"
done
# talveco-decode's WAV files hold the samples flac gives back.
for f in runs/decode_all-1/*.wav; do
    cmp -s <(tail -c +45 "$f") <(tail -c +45 "runs/flac_all-1/$(basename "$f")") \
        || { echo "many_files.sh: $f differs from flac's"; exit 1; }
done
rm -rf runs runs.old.*
echo
awk -v loop="${wall[talveco_loop]}" -v dec="${wall[decode_all]}" -v flac="${wall[flac_all]}" \
    'BEGIN { printf "talveco-decode: %.1fx faster than the shell loop of talveco, %.2fx the speed of flac -d\n", loop / dec, flac / dec }'
echo "peak RSS is that of the whole command: for the loops the largest single process, for the others the one process"
