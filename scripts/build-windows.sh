#!/usr/bin/env bash
# Cross-compiles talveco for 64-bit Windows on Debian with mingw-w64:
#
#   scripts/build-windows.sh [BUILD_DIR]      (default: build-windows)
#
# Installs what it needs with apt-get, has scripts/windows-deps.sh build (or
# take from its cache) the third-party libraries for Windows, configures and
# builds the programs, talveco.dll and the tests in BUILD_DIR, and packages
# the zip with scripts/windows-package.sh. The last line printed is the zip's
# path (the build folder's, when there is no packaging script).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-windows}
host=x86_64-w64-mingw32

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

packages=()
needs_command() { command -v "$1" >/dev/null || packages+=("$2"); }
needs_command $host-g++-posix g++-mingw-w64-x86-64-posix
needs_command $host-gcc-posix gcc-mingw-w64-x86-64-posix
needs_command cmake cmake
needs_command make make
needs_command pkg-config pkg-config
# The tests run under wine; GoogleTest is built from Debian's sources.
if ! command -v wine64 >/dev/null && [ ! -x /usr/lib/wine/wine64 ]; then packages+=(wine64); fi
[ -f /usr/src/googletest/CMakeLists.txt ] || packages+=(googletest)
if [ ${#packages[@]} -gt 0 ]; then
    echo "build-windows: installing ${packages[*]}" >&2
    as_root apt-get update -q >&2
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -q --no-install-recommends \
        "${packages[@]}" >&2
fi

prefix=$(bash scripts/windows-deps.sh | tail -n 1)
launchers=()
if command -v ccache >/dev/null; then
    launchers=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DTALVECO_WINDOWS_PREFIX="$prefix" -DTALVECO_BUILD_TESTS=ON -DTALVECO_WERROR=ON \
    "${launchers[@]}" >&2
cmake --build "$build" -j"$(nproc)" >&2

if [ -f scripts/windows-package.sh ]; then
    bash scripts/windows-package.sh "$build" | tail -n 1
else
    realpath "$build"
fi
