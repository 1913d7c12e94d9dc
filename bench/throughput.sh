#!/usr/bin/env bash
# Whole-program throughput of talveco on benchmark streams of about 100 MB of
# PCM each. Builds the project with the benchmarks into BUILD_DIR (default
# build-bench), makes the streams once in WORK_DIR (default
# /tmp/talveco-bench), then for every stream converts it with the built
# talveco and copies the resulting WAV file with cp, each RUNS times (default
# 5) after one warm-up run, and prints the median times as a table.
#
#   bench/throughput.sh [BUILD_DIR] [WORK_DIR]
#   taskset -c 0 bench/throughput.sh ...   (the same on one processor)
#
# Stream names are KIND-LEVELS (blocks of 16 rows) or KIND-LEVELS-rROWS.
# Environment: RUNS (timed runs per stream), PCM_MB (PCM megabytes per
# stream), STREAMS (space-separated subset of the stream names below),
# TALVECO (another talveco binary to measure, such as an older build),
# SAME_AS (a talveco binary whose output every stream's output must equal
# byte for byte, checked once the table is printed: the script fails at the
# first difference).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$repo/build-bench}")
work=${2:-/tmp/talveco-bench}
runs=${RUNS:-5}
pcm_mb=${PCM_MB:-100}
streams=${STREAMS:-"realistic-0 realistic-4 realistic-7 realistic-9 realistic-10 realistic-12 realistic-15 dense-7 realistic-7-r1 realistic-7-r4 realistic-7-r64"}

[ -x /usr/bin/time ] || { echo "throughput.sh: /usr/bin/time missing (apt-get install time)" >&2; exit 1; }

cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTALVECO_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target talveco make_bench_stream >/dev/null
talveco=$(realpath "${TALVECO:-$build/app/talveco}")
generator="$build/bench/make_bench_stream"

mkdir -p "$work"
cd "$work"

# Nanoseconds of one run of "$@" on the wall clock; its peak resident KiB
# and its CPU seconds (user + system) into the file "usage". The CPU time
# shows the program's own work when other processes share the cores.
timed() {
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f "%M %U %S" -o usage "$@" >/dev/null
    end=$(date +%s%N)
    echo $((end - start))
}

cpu_ms() {
    awk '{ printf "%d\n", ($2 + $3) * 1000 }' usage
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "talveco: $talveco${SAME_AS:+ (outputs compared with those of $SAME_AS after the table)}"
echo "directory: $work ($(df --output=fstype "$work" | tail -1)), $runs timed runs after one warm-up, medians"
printf '\n| %-15s | %7s | %8s | %7s | %8s | %9s | %10s | %9s |\n' \
    stream "PCM MB" "conv ms" "cp ms" "PCM MB/s" "conv / cp" "conv CPU ms" "peak RSS"
printf '|%s|%s|%s|%s|%s|%s|%s|%s|\n' :---------------- --------: ---------: --------: ---------: ----------: -----------: ----------:
for stream in $streams; do
    # KIND-LEVELS, or KIND-LEVELS-rROWS for blocks of other than 16 rows.
    IFS=- read -r kind levels rows <<<"$stream"
    rows=${rows#r}
    input="$stream-${pcm_mb}MB.acm"
    output="${input%.acm}.wav"
    [ -s "$input" ] || "$generator" "$kind" "$levels" "$input" "$pcm_mb" 1 ${rows:+"$rows"}
    rm -f "$output" copy.wav
    "$talveco" "$input" >/dev/null  # warm-up: the input into the page cache
    cp "$output" copy.wav
    conv=() copy=() cpu=() peak=0
    for _ in $(seq "$runs"); do
        rm -f "$output"
        conv+=("$(timed "$talveco" "$input")")
        rss=$(awk '{ print $1 }' usage)
        peak=$(( rss > peak ? rss : peak ))
        cpu+=("$(cpu_ms)")
        rm -f copy.wav
        copy+=("$(timed cp "$output" copy.wav)")
    done
    bytes=$(( $(stat -c %s "$output") - 116 - ${#input} ))
    conv_ns=$(printf '%s\n' "${conv[@]}" | median)
    copy_ns=$(printf '%s\n' "${copy[@]}" | median)
    cpu_median=$(printf '%s\n' "${cpu[@]}" | median)
    awk -v s="$stream" -v b="$bytes" -v c="$conv_ns" -v k="$copy_ns" -v u="$cpu_median" -v r="$peak" 'BEGIN {
        printf "| %-15s | %7.1f | %8.1f | %7.1f | %8.0f | %9.2f | %10d | %5.1f MiB |\n",
            s, b / 1e6, c / 1e6, k / 1e6, b * 1e3 / c, c / k, u, r / 1024 }'
    rm -f copy.wav usage
done

# The outputs are compared once every stream is timed, so that the other
# build's conversions and the comparisons (300 MB of file traffic a stream)
# do not run between the timings.
if [ -n "${SAME_AS:-}" ]; then
    for stream in $streams; do
        input="$stream-${pcm_mb}MB.acm"
        output="${input%.acm}.wav"
        mv "$output" mine.wav
        "$SAME_AS" "$input" >/dev/null
        cmp "$output" mine.wav || { echo "throughput.sh: $stream: output differs from that of $SAME_AS" >&2; exit 1; }
        rm mine.wav
    done
    echo
    echo "Every output is byte-identical to that of $SAME_AS."
fi
