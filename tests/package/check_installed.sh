#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses it as the people who
# build on talveco do, outside the source tree: the README's program is built
# with the README's CMakeLists.txt (no C++ standard set there) and with
# pkg-config, so is the README's C program, and the example program too; all
# must decode a stream to exactly the samples the talveco program writes.
#   check_installed.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/readme_block.sh"

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
targets_file=$(find "$prefix" -name talvecoTargets.cmake)
pc_file=$(find "$prefix" -name talveco.pc)

# A plain install is no Debian package: no changelogs, no per-package folders.
debian_only=$(cd "$prefix" && find . -name 'changelog.Debian*' -o -path '*/doc/libtalveco*' | xargs)
[ -z "$debian_only" ] || { echo "a plain install holds Debian files: $debian_only"; exit 1; }

# Only the public libraries are targets of the package: the platform layer
# travels inside them and the warning flags stay in this build.
exported=$(grep -o 'add_library(talveco::[a-z_]*' "$targets_file" | cut -d'(' -f2 | sort | xargs)
[ "$exported" = "talveco::c talveco::decoder talveco::encoder" ] || { echo "exported targets: $exported"; exit 1; }

"$build/tools/make_acm_sample" "$work/SAMPLE.ACM"
(cd "$work" && "$prefix/bin/talveco" SAMPLE.ACM >/dev/null)
data_bytes=$(($(stat -c %s "$work/SAMPLE.wav") - 126))  # 44-byte header, 82-byte LIST/INFO
[ "$data_bytes" -gt 0 ]

# The README's program, built both ways; it prints how many samples it decoded.
readme="$work/readme"
mkdir "$readme"
readme_block "$source/README.md" "Using the decoder in your own program" cmake 1 >"$readme/CMakeLists.txt"
readme_block "$source/README.md" "Using the decoder in your own program" cpp 1 >"$readme/main.cpp"
cmake -S "$readme" -B "$readme/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$readme/build" >/dev/null
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$pc_file")
(cd "$readme" && c++ main.cpp $(pkg-config --cflags --libs talveco) -o with_pkg_config)
for program in "$readme/build/my_program" "$readme/with_pkg_config"; do
    said=$("$program" "$work/SAMPLE.ACM")
    [[ "$said" == *$'\n'"$((data_bytes / 2)) samples decoded" ]] ||
        { echo "$(basename "$program") said: $said"; exit 1; }
done

# The README's C program, with pkg-config (talveco-c) and with CMake (talveco::c).
readme_c="$work/readme-c"
mkdir "$readme_c"
readme_block "$source/README.md" "From C and other languages" c 1 >"$readme_c/main.c"
readme_block "$source/README.md" "From C and other languages" cmake 1 >"$readme_c/CMakeLists.txt"
(cd "$readme_c" && cc -std=c11 -Wall -Werror main.c $(pkg-config --cflags --libs talveco-c) \
    -o with_pkg_config)
cmake -S "$readme_c" -B "$readme_c/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$readme_c/build" >/dev/null
for program in "$readme_c/build/my_program" "$readme_c/with_pkg_config"; do
    said=$(LD_LIBRARY_PATH=$(dirname "$pc_file")/.. "$program" "$work/SAMPLE.ACM")
    [[ "$said" == *$'\n'"$((data_bytes / 2)) samples decoded" ]] ||
        { echo "$(basename "$program") (C) said: $said"; exit 1; }
done

# The example writes the samples themselves: byte for byte the WAV's data.
cp -r "$source/examples/decode_from_memory" "$work/example"
cmake -S "$work/example" -B "$work/example/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/example/build" >/dev/null
"$work/example/build/decode_from_memory" "$work/SAMPLE.ACM" "$work/samples.raw" >/dev/null
[ "$(stat -c %s "$work/samples.raw")" -eq "$data_bytes" ]
cmp -i 44:0 -n "$data_bytes" "$work/SAMPLE.wav" "$work/samples.raw"
echo "installed package: README programs in C++ and C (CMake and pkg-config) and example decode $data_bytes bytes as the program does"
