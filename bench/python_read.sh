#!/usr/bin/env bash
# Decoding through Python's talveco.read against the C++ library alone, side
# by side on benchmark streams of about 100 MB of PCM: each run opens the
# file, decodes every sample into one array and closes it (bench/
# library_read.cpp, bench/python_read.py; the time inside the process, after
# Python and numpy have started). The C++ side runs twice: with a plain
# buffer, and with one that asks for huge pages as numpy does for large
# arrays. The three alternate, RUNS times each (default 7) after a warm-up,
# and the table shows the medians; both sides must agree on every sample (a
# checksum). Last, a Python thread counts while read decodes the first
# stream: it goes on while the library works, so the GIL is released.
#
#   bench/python_read.sh [BUILD_DIR] [WORK_DIR]
# Environment: RUNS, PCM_MB (default 100), STREAMS (names as in throughput.sh).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$repo/build-bench}")
work=${2:-/tmp/talveco-bench}
runs=${RUNS:-7}
pcm_mb=${PCM_MB:-100}
streams=${STREAMS:-"realistic-0 realistic-7 realistic-15 dense-7 realistic-7-r1"}

cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTALVECO_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target make_bench_stream library_read talveco_c >/dev/null
export TALVECO_LIBRARY="$build/capi/libtalveco.so.1" PYTHONPATH="$repo/python"
mkdir -p "$work"

median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "library: $TALVECO_LIBRARY; $runs runs each after one warm-up, medians"
printf '\n| %-15s | %7s | %8s | %14s | %9s | %12s | %17s |\n' stream "PCM MB" "C++ ms" \
    "C++ huge ms" "Python ms" "Python / C++" "Python / C++ huge"
printf '|%s|%s|%s|%s|%s|%s|%s|\n' :---------------- --------: ---------: ---------------: \
    ----------: -------------: ------------------:
for stream in $streams; do
    IFS=- read -r kind levels rows <<<"$stream"
    rows=${rows#r}
    input="$work/$stream-${pcm_mb}MB.acm"
    [ -s "$input" ] || "$build/bench/make_bench_stream" "$kind" "$levels" "$input" "$pcm_mb" 1 ${rows:+"$rows"}
    cpp=() huge=() python=()
    cpp_sum=$("$build/bench/library_read" "$input" 1 | tail -1)
    python_sum=$(/usr/bin/python3 "$repo/bench/python_read.py" "$input" 1 | tail -1)
    [ "$cpp_sum" = "$python_sum" ] || { echo "$stream: C++ $cpp_sum, Python $python_sum" >&2; exit 1; }
    for _ in $(seq "$runs"); do
        cpp+=("$("$build/bench/library_read" "$input" 1 | sed -n 1p)")
        huge+=("$("$build/bench/library_read" "$input" 1 huge | sed -n 1p)")
        python+=("$(/usr/bin/python3 "$repo/bench/python_read.py" "$input" 1 | sed -n 1p)")
    done
    c=$(printf '%s\n' "${cpp[@]}" | median)
    h=$(printf '%s\n' "${huge[@]}" | median)
    p=$(printf '%s\n' "${python[@]}" | median)
    awk -v s="$stream" -v m="$pcm_mb" -v c="$c" -v h="$h" -v p="$p" 'BEGIN {
        printf "| %-15s | %7d | %8.1f | %14.1f | %9.1f | %12.3f | %17.3f |\n", s, m, c, h, p, p / c, p / h }'
done

echo
first=${streams%% *}
/usr/bin/python3 "$repo/bench/python_read.py" "$work/$first-${pcm_mb}MB.acm" 3 gil
