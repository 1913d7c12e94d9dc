#!/usr/bin/env bash
# Builds talveco, makes a sample ACM file with the project's own stream
# builder and converts it, in out/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target talveco make_acm_sample
mkdir -p out
./build/tools/make_acm_sample out/SAMPLE.ACM
cd out
../build/app/talveco SAMPLE.ACM
ls -l SAMPLE.ACM SAMPLE.wav
