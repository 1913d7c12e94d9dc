#!/usr/bin/env bash
# Builds talveco, talveco-decode and talveco-encode, makes a sample ACM file
# with the project's own stream builder, converts it, then encodes the WAV
# back to ACM and decodes that with talveco-decode, in out/. Installs what the machine lacks for the build
# first; the tests and their framework are not built.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh demo
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=Release -DTALVECO_BUILD_TESTS=OFF >/dev/null
cmake --build build-demo -j"$(nproc 2>/dev/null || echo 2)" \
    --target talveco talveco-decode talveco-encode make_acm_sample
mkdir -p out
./build-demo/tools/make_acm_sample out/SAMPLE.ACM
cd out
../build-demo/app/talveco SAMPLE.ACM
ls -l SAMPLE.ACM SAMPLE.wav
# And back: the WAV encoded again, then described and decoded beside it with
# the rate and channels it states, and to FLAC.
../build-demo/app/encode/talveco-encode -f -o AGAIN.acm SAMPLE.wav
../build-demo/app/decode/talveco-decode --info AGAIN.acm
../build-demo/app/decode/talveco-decode -f AGAIN.acm
../build-demo/app/decode/talveco-decode -f --format=flac AGAIN.acm
ls -l AGAIN.acm AGAIN.wav AGAIN.flac
