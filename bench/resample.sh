#!/usr/bin/env bash
# Times talveco-encode --resample 22050 on 10 minutes of 48 kHz stereo next to the two steps
# users took before it: sox ... rate 22050 into a scratch WAV, then talveco-encode; once keeping
# stereo and once folded to mono (--channels 1, sox's channels 1). Prints a Markdown table of
# the best of three wall-clock runs of each and the kbit/s and SNR the summary line reports.
#   bench/resample.sh [WORK_DIR]
# BUILD=dir uses an existing build (Release or RelWithDebInfo) instead of making build-quality/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
command -v sox >/dev/null || {
    echo "needs sox (scripts/install-deps.sh test)" >&2
    exit 1
}
build=${BUILD:-$root/build-quality}
if [ -z "${BUILD:-}" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTALVECO_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" -j2 --target talveco-encode >/dev/null
fi
encoder="$build/app/encode/talveco-encode"
work=${1:-$(mktemp -d)}
mkdir -p "$work"
cd "$work"
# The same noise on every run.
export SOX_OPTS="-R"
# Two pink noises at -16 dBFS, one a channel, with a tone over each: material that has sound
# up to the top of the band, so that the resampler's filter does real work.
[ -f in48k.wav ] || sox -n -r 48000 -c 2 -b 16 in48k.wav synth 600 pinknoise pinknoise \
    gain -16 remix 1v1,2v0.05 1v0.05,2v1

# best COMMAND...: the shortest wall-clock time of three runs, in seconds; the summary of the
# last run is left in summary.txt.
best() {
    local fastest=0
    for _ in 1 2 3; do
        local start elapsed
        start=$(date +%s%N)
        "$@" >/dev/null 2>summary.txt
        elapsed=$(($(date +%s%N) - start))
        if [ "$fastest" = 0 ] || [ "$elapsed" -lt "$fastest" ]; then fastest=$elapsed; fi
    done
    printf '%d.%02d' $((fastest / 1000000000)) $((fastest % 1000000000 / 10000000))
}
# The kbit/s and SNR of the last summary line.
reported() { sed -n 's/.*, \([0-9.]* kbit\/s\), .*, \(SNR [0-9.]* dB\).*/\1, \2/p' summary.txt | tail -1; }

two_steps() {  # CHANNELS
    local remix=()
    [ "$1" = 1 ] && remix=(channels 1)
    sox -D in48k.wav -b 16 scratch.wav rate 22050 "${remix[@]}" &&
        "$encoder" -f -o two.acm scratch.wav
}

echo "| way | channels | seconds | reported |"
echo "|:--|--:|--:|:--|"
for channels in 2 1; do
    t=$(best "$encoder" -f --resample 22050 --channels "$channels" -o one.acm in48k.wav)
    echo "| talveco-encode --resample 22050 --channels $channels | $channels | $t | $(reported) |"
    t=$(best two_steps "$channels")
    way="sox rate 22050"
    [ "$channels" = 1 ] && way+=" channels 1"
    echo "| $way, then talveco-encode | $channels | $t | $(reported) |"
done
