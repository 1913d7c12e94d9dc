#!/usr/bin/env bash
# The WebAssembly package against the native build, in one run: decoding the
# 100 MB-PCM bench stream (make_bench_stream realistic 7) into memory, and
# encoding 10 minutes of 22050 Hz mono speech at -q 5, in node and in headless
# Chromium beside the native library and programs; then the size of
# talveco.wasm, raw and gzipped. Prints a Markdown table.
#
#   bench/web.sh [WORK_DIR]
# Environment: BUILD (a native build to use, else build-bench-web/ is made),
# RUNS (timed runs of each, default 3, after one warm-up; the best run is
# shown, as the machine is shared and a slower run measures the others),
# TALVECO_WEB_BUILD (scripts/build-web.sh's folder, default build-web/; built
# when it has no package).
#
# Native decoding is timed with library_read (the C++ library decoding a file
# into one buffer) on both processors and on one (taskset -c 0: the module
# has no threads); native encoding is talveco-encode -q 5, file to file.
# Every side's stream must equal talveco-encode's, and the decoded samples'
# checksums must agree, or the bench fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(realpath -m "${1:-/tmp/talveco-bench-web}")
runs=${RUNS:-3}
web=${TALVECO_WEB_BUILD:-$root/build-web}
mkdir -p "$work"

need=()
for tool in espeak-ng sox taskset gzip; do
    command -v "$tool" >/dev/null || need+=("$tool")
done
[ ${#need[@]} -eq 0 ] || {
    echo "bench/web.sh needs: ${need[*]} (apt-get install espeak-ng sox util-linux gzip)" >&2
    exit 1
}

build=${BUILD:-$root/build-bench-web}
if [ -z "${BUILD:-}" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTALVECO_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target talveco-encode make_bench_stream library_read >/dev/null
[ -f "$web/package/talveco.wasm" ] || TALVECO_WEB_BUILD=$web bash "$root/scripts/build-web.sh" >/dev/null

# puppeteer-core drives Debian's chromium; it is installed once into the work folder.
if [ ! -f "$work/npm/node_modules/puppeteer-core/package.json" ]; then
    npm install --prefix "$work/npm" --no-save --no-audit --no-fund --loglevel=error \
        puppeteer-core@24.43.1 >&2
fi

stream=$work/realistic-7-100MB.acm
[ -s "$stream" ] || "$build/bench/make_bench_stream" realistic 7 "$stream" 100 1
speech=$work/speech-10min.wav
if [ ! -s "$speech" ]; then
    espeak-ng -s 165 -w "$work/speech.raw.wav" "The north wind and the sun were disputing which \
was the stronger, when a traveller came along wrapped in a warm cloak. They agreed that the one \
who first succeeded in making the traveller take his cloak off should be considered stronger."
    sox -D "$work/speech.raw.wav" -r 22050 -c 1 -b 16 -e signed-integer "$work/speech.wav"
    # Repeated to ten minutes, plain 16-bit PCM without dither.
    sox -D $(for _ in $(seq 80); do echo "$work/speech.wav"; done) "$speech" trim 0 600
    rm "$work/speech.raw.wav" "$work/speech.wav"
fi

best() {
    sort -n | head -1
}

# Native: library_read prints each run's milliseconds, then the checksum.
native_read() {
    "$@" "$build/bench/library_read" "$stream" $((runs + 1)) >"$work/read.txt"
    sed -n "2,$((runs + 1))p" "$work/read.txt" | best
}
read_two=$(native_read)
read_one=$(native_read taskset -c 0)
native_sum=$(sed -n 's/^checksum //p' "$work/read.txt")
encode_ms=()
for _ in $(seq $((runs + 1))); do
    start=$(date +%s%N)
    "$build/app/encode/talveco-encode" -s -f -q 5 -o "$work/speech.acm" "$speech"
    encode_ms+=($((($(date +%s%N) - start) / 1000000)))
done
native_encode=$(printf '%s\n' "${encode_ms[@]:1}" | best)

node "$root/bench/web_bench.mjs" "$web/package" "$stream" "$speech" "$work/speech.acm" "$runs" \
    "$work/npm" >"$work/web.jsonl"

# One row per side: the best decode and encode and their ratios to native.
rows=$(node --input-type=module -e '
import { readFileSync } from "node:fs";
const [file, nativeSum, readTwo, readOne, encode] = process.argv.slice(1);
for (const line of readFileSync(file, "utf8").trim().split("\n")) {
  const r = JSON.parse(line);
  if (r.decodedChecksum !== nativeSum) throw new Error(`${r.side}: checksum ${r.decodedChecksum}, native ${nativeSum}`);
  const d = Math.min(...r.decodeMs), e = Math.min(...r.encodeMs);
  console.log(`| ${r.side} | ${d.toFixed(0)} | ${(d / readTwo).toFixed(2)} | ${(d / readOne).toFixed(2)} | ${e.toFixed(0)} | ${(e / encode).toFixed(2)} |`);
}' "$work/web.jsonl" "$native_sum" "$read_two" "$read_one" "$native_encode")

wasm=$web/package/talveco.wasm
echo "stream: $(basename "$stream") ($(stat -c %s "$stream") bytes); encoded: 10 min of 22050 Hz mono speech;"
echo "best of $runs timed runs after a warm-up; load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| where | decode ms | / native (2 threads) | / native (1 thread) | encode -q 5 ms | / native |"
echo "|:--|--:|--:|--:|--:|--:|"
echo "| native | $read_two (1 thread: $read_one) | 1.00 | 1.00 | $native_encode | 1.00 |"
echo "$rows"
echo
echo "talveco.wasm: $(stat -c %s "$wasm") bytes, $(gzip -9c "$wasm" | wc -c) gzipped (gzip -9)"
