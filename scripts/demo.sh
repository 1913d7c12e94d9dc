#!/usr/bin/env bash
# Builds talveco, makes a sample ACM file with the project's own stream
# builder and converts it, then encodes the WAV back to ACM, in out/.
set -euo pipefail
cd "$(dirname "$0")/.."
# talveco-encode reads its inputs with libsndfile.
if [ ! -f /usr/include/sndfile.h ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq libsndfile1-dev </dev/null
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target talveco talveco-encode make_acm_sample
mkdir -p out
./build/tools/make_acm_sample out/SAMPLE.ACM
cd out
../build/app/talveco SAMPLE.ACM
ls -l SAMPLE.ACM SAMPLE.wav
# And back: the WAV encoded again, then decoded under another name.
../build/app/encode/talveco-encode -f -o AGAIN.acm SAMPLE.wav
../build/app/talveco AGAIN.acm
ls -l AGAIN.acm AGAIN.wav
