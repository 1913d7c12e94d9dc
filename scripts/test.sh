#!/usr/bin/env bash
# Builds the project and runs every test: once in a normal build, once with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
# talveco-encode reads its inputs with libsndfile.
if [ ! -f /usr/include/sndfile.h ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq libsndfile1-dev </dev/null
fi

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DTALVECO_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
    ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}

echo "== normal build"
run_suite build
echo "== sanitizer build (ASan + UBSan)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_suite build-asan -DTALVECO_SANITIZE=ON
