#!/usr/bin/env bash
# Builds the project and runs every test: once in a normal build, once with
# AddressSanitizer and UndefinedBehaviorSanitizer. Installs what the machine
# lacks for them first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DTALVECO_BUILD_TESTS=ON -DTALVECO_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
    ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}

echo "== normal build"
run_suite build
echo "== sanitizer build (ASan + UBSan)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_suite build-asan -DTALVECO_SANITIZE=ON
