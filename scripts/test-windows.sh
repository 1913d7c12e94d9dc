#!/usr/bin/env bash
# Builds talveco for Windows (scripts/build-windows.sh) and tests it under
# wine: the unit and program tests through CTest, then the end-to-end
# comparison with the Linux build (tests/windows/end-to-end.sh).
#
#   scripts/test-windows.sh [BUILD_DIR [LINUX_BUILD_DIR]]
#                               (defaults: build-windows, build)
#
# The end-to-end comparison needs a Linux build; the programs it runs are
# built there (configured first when the folder has no build yet).
#
# Wine runs in a prefix private to the build folder, and the script waits
# for its wine server to end before it returns, so that no wine process of
# this run outlives it; other users' wine processes are never touched.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-windows}
linux_build=${2:-build}

zip=$(bash scripts/build-windows.sh "$build" | tail -n 1)

export WINEPREFIX=$PWD/$build/wineprefix
export WINEDEBUG=-all
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
finish() { "$wineserver" -w || true; }
trap finish EXIT

# The prefix is made once, before the tests, which would otherwise race to
# make it; the first start takes some seconds.
start=$(date +%s)
bash scripts/wine-run.sh "$WINEPREFIX" cmd /c exit >/dev/null 2>&1
echo "test-windows: wine prefix ready in $(($(date +%s) - start)) s"

ctest --test-dir "$build" -L windows --output-on-failure -j2

if [ -f tests/windows/end-to-end.sh ]; then
    [ -f "$linux_build/CMakeCache.txt" ] ||
        cmake -S . -B "$linux_build" -DTALVECO_BUILD_TESTS=ON -DTALVECO_WERROR=ON >&2
    cmake --build "$linux_build" -j"$(nproc)" --target talveco talveco-decode talveco-encode \
        make_acm_sample make_api_streams >&2
    bash tests/windows/end-to-end.sh "$build" "$linux_build"
fi
echo "test-windows: tested $zip"
