#!/usr/bin/env bash
# The encoder's speed against flac -8 on two files of 10 minutes of 22050 Hz mono:
#   bench  the quality bench's own (bench/quality.sh's long.wav): espeak-ng speech of two
#          voices, sawtooth chords, a sweep, pink noise, drums and a full-scale sine, over and over;
#   mixed  speech of four espeak-ng voices between the chords, the pink noise and the drums.
# Runs talveco-encode -q 5, talveco-encode -b 66.15 (3 bits a sample) and flac -8 in turn, RUNS
# times (default 5), and prints the median wall and user time of each, their ratio to flac -8's,
# and the load average before and after, since the machine may be shared. With BASE=ENCODER an
# earlier talveco-encode runs in the same turns, and the streams of the two are compared (cmp).
#
#   bench/encode_speed.sh [BUILD_DIR] [WORK_DIR]
# Environment: RUNS, BASE, NO_BUILD=1 (use BUILD_DIR's talveco-encode as it is).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$repo/build-bench}")
work=${2:-/tmp/talveco-encode-speed}
runs=${RUNS:-5}
base=${BASE:-}
rate=22050
# shellcheck source=bench/drums.sh
source "$repo/bench/drums.sh"
export SOX_OPTS="-R"  # the same noise on every run

need=()
command -v espeak-ng >/dev/null || need+=(espeak-ng)
command -v sox >/dev/null || need+=(sox)
command -v flac >/dev/null || need+=(flac)
[ -x /usr/bin/time ] || need+=(time)
command -v python3 >/dev/null || need+=(python3)
if [ ${#need[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${need[@]}" </dev/null >/dev/null
fi

if [ ! -x "$build/app/encode/talveco-encode" ] || [ -z "${NO_BUILD:-}" ]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j2 --target talveco-encode >/dev/null
fi
encoder="$build/app/encode/talveco-encode"

mkdir -p "$work"
cd "$work"
to16() { sox -D "$1" -r $rate -c 1 -e signed-integer -b 16 "$2"; }
speech() {  # NAME VOICE
    espeak-ng -v "$2" -s 165 -w "$1.raw.wav" "The north wind and the sun were disputing which \
was the stronger, when a traveller came along wrapped in a warm cloak. They agreed that the one \
who first succeeded in making the traveller take his cloak off should be considered stronger \
than the other."
    to16 "$1.raw.wav" "$1.wav"
    rm "$1.raw.wav"
}
synth() { sox -D -n -r $rate -b 16 -c 1 -e signed-integer "$@"; }

# The material of bench/quality.sh, made the same way.
make_material() {
    speech male en+m3
    speech female en+f3
    speech voice3 en-us+m1
    speech voice4 en-gb-scotland+f2
    local parts=() i=0
    for chord in "220 277.18 329.63 440" "196 246.94 293.66 392" "174.61 220 261.63 349.23" \
        "164.81 207.65 246.94 329.63"; do
        local tones=()
        for f in $chord; do tones+=(sawtooth "$f"); done
        synth "chord$i.wav" synth 2.5 "${tones[@]}" remix - lowpass 2000 fade 0.01 2.5 0.3 gain -n -3
        parts+=("chord$i.wav")
        i=$((i + 1))
    done
    sox -D "${parts[@]}" chords.wav
    rm "${parts[@]}"
    synth sweep.wav synth 10 sine 20/10000 fade 0.005 gain -n -6
    synth pink.raw.wav synth 10 pinknoise
    local rms
    rms=$(sox pink.raw.wav -n stats 2>&1 | awk '/RMS lev dB/ {print $4}')
    sox -D pink.raw.wav pink.wav fade 0.005 gain "$(python3 -c "print(-20 - ($rms))")"
    rm pink.raw.wav
    make_drums
    synth sine0dB.wav synth 10 sine 1000 fade 0.005 gain -n -0.01
    sox -D $(for _ in $(seq 9); do for n in male female chords sweep pink drums sine0dB; do
        echo "$n.wav"; done; done) bench.wav trim 0 600
    sox -D $(for _ in $(seq 12); do echo male.wav chords.wav female.wav pink.wav voice3.wav \
        drums.wav voice4.wav; done) mixed.wav trim 0 600
}
[ -f bench.wav ] && [ -f mixed.wav ] || make_material

commands=(q b flac)
[ -n "$base" ] && commands=(q b baseq baseb flac)
run() {  # WHAT INPUT: one timed run, "WHAT wall user" appended to times.txt
    local what=$1 input=$2 out
    case $what in
        q) out=(/usr/bin/time -f "q %e %U" "$encoder" -s -f -q 5 -o q.acm "$input") ;;
        b) out=(/usr/bin/time -f "b %e %U" "$encoder" -s -f -b 66.15 -o b.acm "$input") ;;
        baseq) out=(/usr/bin/time -f "baseq %e %U" "$base" -s -f -q 5 -o baseq.acm "$input") ;;
        baseb) out=(/usr/bin/time -f "baseb %e %U" "$base" -s -f -b 66.15 -o baseb.acm "$input") ;;
        flac) out=(/usr/bin/time -f "flac %e %U" flac -8 -f -s -o out.flac "$input") ;;
    esac
    "${out[@]}" 2>>times.txt >/dev/null
}

for input in bench mixed; do
    rm -f times.txt
    before=$(cut -d' ' -f1-3 /proc/loadavg)
    for _ in $(seq "$runs"); do
        for what in "${commands[@]}"; do run "$what" "$input.wav"; done
    done
    after=$(cut -d' ' -f1-3 /proc/loadavg)
    same=""
    if [ -n "$base" ]; then
        if cmp -s q.acm baseq.acm && cmp -s b.acm baseb.acm; then
            same="; the streams of the two encoders are the same (cmp)"
        else
            same="; THE STREAMS DIFFER"
        fi
    fi
    echo "### $input.wav, 600 s: median of $runs runs (load average $before before, $after after$same)"
    echo
    python3 - times.txt <<'PY'
import statistics, sys
runs = {}
for line in open(sys.argv[1]):
    what, wall, user = line.split()
    runs.setdefault(what, []).append((float(wall), float(user)))
median = {k: (statistics.median(w for w, _ in v), statistics.median(u for _, u in v))
          for k, v in runs.items()}
names = {"q": "talveco-encode -q 5", "b": "talveco-encode -b 66.15",
         "baseq": "BASE -q 5", "baseb": "BASE -b 66.15", "flac": "flac -8"}
flac = median["flac"]
print("| command | wall s | user s | wall / flac -8 | user / flac -8 |")
print("|:--|--:|--:|--:|--:|")
for k in ("baseq", "q", "baseb", "b", "flac"):
    if k in median:
        w, u = median[k]
        print(f"| {names[k]} | {w:.2f} | {u:.2f} | {w / flac[0]:.2f} | {u / flac[1]:.2f} |")
PY
    echo
done
