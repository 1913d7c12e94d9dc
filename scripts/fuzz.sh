#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UBSan) and
# runs each of them in turn for SECONDS, one process on one core.
#
#   scripts/fuzz.sh SECONDS [TARGET...]     TARGET: decode, convert, encode (default: all)
#
# The corpus grows in fuzz-corpus/TARGET and is kept between runs; it starts
# from seeds that the project's own stream builder writes at every run. A
# finding is saved in fuzz-artifacts/ and ends the script with status 1.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: scripts/fuzz.sh SECONDS [TARGET...]}
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(decode convert encode)
build=${TALVECO_FUZZ_BUILD:-build-fuzz}

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DTALVECO_BUILD_FUZZERS=ON \
    -DTALVECO_BUILD_TESTS=OFF -DTALVECO_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)"

seeds="$build/fuzz-seeds"
rm -rf "$seeds"
mkdir -p "$seeds" fuzz-artifacts
"$build/fuzz/make_fuzz_seeds" "$seeds"

for target in "${targets[@]}"; do
    corpus="fuzz-corpus/$target"
    mkdir -p "$corpus"
    echo "== fuzzing $target for ${seconds}s"
    # Reads of at most 4 KiB keep each input cheap; 2 GiB leaves room for the
    # sanitizer's shadow memory over the largest buffers an input can ask for.
    "$build/fuzz/talveco_${target}_fuzzer" -max_total_time="$seconds" -max_len=4096 \
        -rss_limit_mb=2048 -timeout=30 -print_final_stats=1 \
        -artifact_prefix="fuzz-artifacts/$target-" "$corpus" "$seeds/$target" 2>&1 |
        grep -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE)|^[[:space:]]+NEW_FUNC'
done
