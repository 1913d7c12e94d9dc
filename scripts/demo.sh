#!/usr/bin/env bash
# Builds talveco, makes a sample ACM file with the project's own stream
# builder and converts it, in out/. Installs the compiler and CMake first if
# the machine lacks them; the tests and their framework are not built.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh demo
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=Release -DTALVECO_BUILD_TESTS=OFF >/dev/null
cmake --build build-demo -j"$(nproc 2>/dev/null || echo 2)" --target talveco make_acm_sample
mkdir -p out
./build-demo/tools/make_acm_sample out/SAMPLE.ACM
cd out
../build-demo/app/talveco SAMPLE.ACM
ls -l SAMPLE.ACM SAMPLE.wav
