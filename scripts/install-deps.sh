#!/usr/bin/env bash
# Installs the Debian packages that this machine lacks for one use of the
# project, with apt-get (as root, or through sudo):
#
#   scripts/install-deps.sh demo   build the programs and the sample tool
#   scripts/install-deps.sh test   also the tests: GoogleTest, the independent
#                                  WAV readers, sox, the man page and package checks,
#                                  the Python module's numpy, pytest and packaging
#   scripts/install-deps.sh ci     also the fuzzers: clang and libFuzzer's runtime
set -euo pipefail
use=${1:-}
case "$use" in
demo | test | ci) ;;
*)
    echo "usage: scripts/install-deps.sh demo|test|ci" >&2
    exit 2
    ;;
esac

packages=()
# needs_command COMMAND PACKAGE: the package, unless the command is there.
needs_command() { command -v "$1" >/dev/null || packages+=("$2"); }
# needs_package PACKAGE: for libraries, which have no command to look for.
needs_package() {
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ] ||
        packages+=("$1")
}

needs_command cmake cmake
needs_command make make
needs_command g++ g++
# talveco-encode reads its inputs with libsndfile and resamples them with
# libsoxr; talveco-decode writes FLAC into pipes with libFLAC (which
# libsndfile1-dev already pulls in).
needs_package libsndfile1-dev
needs_package libsoxr-dev
needs_package libflac-dev
if [ "$use" != demo ]; then
    needs_package libgtest-dev
    needs_package libgmock-dev
    needs_command python3 python3
    needs_command sndfile-info sndfile-programs
    # sox resamples the reference that talveco-encode --resample is checked against.
    needs_command sox sox
    needs_command man man-db
    needs_command pkg-config pkg-config
    needs_command lintian lintian
    # The Python module's tests and packaging, on Debian's Python with numpy.
    needs_package python3-numpy
    needs_package python3-pytest
    needs_package python3-venv
    needs_package python3-build
    needs_package python3-setuptools
    needs_package python3-wheel
fi
if [ "$use" = ci ]; then
    needs_command clang++ clang
    # libFuzzer's runtime: clang only recommends it, and a minimal install skips it.
    if ! command -v clang++ >/dev/null ||
        [ ! -f "$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a" ]; then
        packages+=(libclang-rt-dev)
    fi
fi
[ ${#packages[@]} -gt 0 ] || exit 0

echo "installing ${packages[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || {
        echo "as root: apt-get install ${packages[*]}" >&2
        exit 1
    }
    as_root=(sudo)
fi
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${packages[@]}" </dev/null
