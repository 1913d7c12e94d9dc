#!/usr/bin/env bash
# Installs the build into a temporary prefix, builds the example program
# against the installed package outside the source tree, and checks that it
# decodes a stream from memory to exactly the samples the program writes.
#   check_installed.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
cp -r "$source/examples/decode_from_memory" "$work/example"
cmake -S "$work/example" -B "$work/example/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/example/build" >/dev/null

"$build/tools/make_acm_sample" "$work/SAMPLE.ACM"
(cd "$work" && "$work/prefix/bin/talveco" SAMPLE.ACM >/dev/null)
"$work/example/build/decode_from_memory" "$work/SAMPLE.ACM" "$work/samples.raw"

data_bytes=$(stat -c %s "$work/samples.raw")
[ "$data_bytes" -gt 0 ] || { echo "the example decoded nothing"; exit 1; }
cmp -i 44:0 -n "$data_bytes" "$work/SAMPLE.wav" "$work/samples.raw"
# The WAV's data is exactly that long: 44 + data + 72 + the 10-byte name.
[ "$(stat -c %s "$work/SAMPLE.wav")" -eq $((data_bytes + 126)) ]
echo "installed package: example decodes $data_bytes bytes identical to the program's"
