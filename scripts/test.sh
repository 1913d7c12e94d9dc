#!/usr/bin/env bash
# Builds the project and runs every test: the decoder's and the library's
# under ThreadSanitizer, then all in a normal build, the WebAssembly package
# and page, the Windows build under wine, and once more all with
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

# The decoder may unpack on a second thread, encoders on two threads write
# files at once, and talveco-decode and talveco-encode code several files on
# threads of their own: the decoder's, the library's, the encoder's and both
# programs' tests run under ThreadSanitizer too (the other suites' summaries
# come last).
echo "== thread sanitizer build (decoder, library and the programs' -j tests)"
cmake -S . -B build-tsan -DTALVECO_WERROR=ON -DTALVECO_SANITIZE_THREAD=ON >/dev/null
cmake --build build-tsan -j"$jobs" --target acm_tests encoder_tests decode_app_tests \
    encode_app_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j"$jobs" \
    -L '^(acm|encoder|decode_app|encode_app)_tests$'

echo "== normal build"
run_suite build
# The WebAssembly package under node and the page in headless Chromium, both
# against the programs of the normal build; then the Windows build under wine.
echo "== WebAssembly package and page"
TALVECO_NATIVE_BUILD=build bash scripts/test-web.sh
echo "== Windows build under wine"
bash scripts/test-windows.sh
echo "== sanitizer build (ASan + UBSan)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_suite build-asan -DTALVECO_SANITIZE=ON
