#!/usr/bin/env bash
# Makes the .debs, has lintian judge them, checks the shared library's
# package (SONAME, symbols file, the -dev package beside it), unpacks them
# into a temporary root and uses what they hold: the README's folder recipes
# decode with the packaged talveco-decode, name the one bad file and fail,
# and the compressed man pages render.
#   check_deb.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/readme_block.sh"

cpack -G DEB -B "$work/pkg" --config "$build/CPackConfig.cmake" >/dev/null
# The programs, the shared library named after its SONAME, the files to build with.
deb=$(ls "$work"/pkg/talveco_*.deb)
runtime=$(ls "$work"/pkg/libtalveco1_*.deb)
dev=$(ls "$work"/pkg/libtalveco-dev_*.deb)
# Errors fail the check; warnings and notes are shown.
lintian_status=0
lintian --fail-on error "$deb" "$runtime" "$dev" >"$work/lintian.txt" 2>&1 || lintian_status=$?
grep -v "running with root privileges" "$work/lintian.txt" | sed 's/^/lintian: /' || true
[ "$lintian_status" -eq 0 ] || { echo "lintian failed on the packages"; exit 1; }
for package in "$deb" "$runtime" "$dev"; do
    dpkg -x "$package" "$work/root"
    cmp "$work/root/usr/share/doc/$(dpkg-deb --field "$package" Package)/copyright" "$source/LICENSE"
done
library=$(dpkg-deb -c "$runtime" | grep -o '[^ ]*/libtalveco\.so\.1\.[0-9.]*$')
[ "$(readelf -d "$work/root/$library" | grep -o 'soname: \[.*\]')" = "soname: [libtalveco.so.1]" ]
dpkg-deb --ctrl-tarfile "$runtime" | tar -x -O ./symbols >"$work/symbols"
cmp "$work/symbols" "$source/cmake/libtalveco1.symbols"
# ldconfig runs through the trigger alone: the shlibs file is ours, and no
# maintainer script of the library's package calls it a second time.
[ "$(dpkg-deb --ctrl-tarfile "$runtime" | tar -x -O ./shlibs)" = "libtalveco 1 libtalveco1 (>= $(dpkg-deb --field "$runtime" Version | cut -d- -f1))" ]
if dpkg-deb --ctrl-tarfile "$runtime" | tar -t | grep -q -E 'post(inst|rm)'; then
    echo "the library's package has maintainer scripts"
    exit 1
fi
# The library resamples through libsoxr, which its package must bring.
[[ "$(dpkg-deb --field "$runtime" Depends)" == *libsoxr0* ]] ||
    { echo "the library's package does not depend on libsoxr0"; exit 1; }
[ "$(dpkg-deb --field "$dev" Depends)" = "libtalveco1 (= $(dpkg-deb --field "$runtime" Version))" ]
[ -L "$work/root/${library%.so.*}.so" ] && [ -f "$work/root/usr/include/talveco/talveco_c.h" ]

mkdir -p "$work/sounds/a b" "$work/sounds/more"
"$build/tools/make_acm_sample" "$work/sounds/a b/speech.acm"
cp "$work/sounds/a b/speech.acm" "$work/sounds/more/music.ACM"
printf 'not an ACM file' >"$work/sounds/more/broken.acm"

# run_batch N DIR EXPECTED: the README's Nth folder recipe run in DIR under
# sounds/ with the packaged programs; EXPECTED is what it says about failures.
run_batch() {
    rm -rf "$work/sounds/a b/speech.wav" "$work/sounds/more/"*.wav "$work/sounds/more/wav"
    local recipe status=0 said
    recipe=$(readme_block "$source/README.md" "Decoding many files" sh "$1")
    said=$(cd "$work/sounds/$2" && PATH="$work/root/usr/bin:$PATH" bash -c "$recipe" 2>&1) || status=$?
    [ "$status" -ne 0 ] || { echo "recipe $1 exited 0 with a bad file"; exit 1; }
    said=$(printf '%s\n' "$said" | grep '^talveco-decode: ' || true)
    [ "$said" = "$3" ] || { echo "recipe $1 said: $said"; exit 1; }
    [ ! -e "$work/sounds/more/broken.wav" ] && [ ! -e "$work/sounds/more/wav/broken.wav" ]
}
refused="File does not appear to be a valid ACM file"
cp "$work/sounds/a b/speech.acm" "$work/sounds/more/take.acm"
run_batch 1 more "talveco-decode: broken.acm: $refused"
[ -s "$work/sounds/more/wav/take.wav" ] || { echo "recipe 1 wrote no wav/take.wav"; exit 1; }
run_batch 2 . "talveco-decode: ./more/broken.acm: $refused"
[ -s "$work/sounds/a b/speech.wav" ] && [ -s "$work/sounds/more/music.wav" ] \
    || { echo "recipe 2 wrote no WAV beside an ACM file"; exit 1; }
page=$(man -l "$work/root/usr/share/man/man1/talveco-decode.1.gz" 2>/dev/null)
[[ "$page" == *"EXIT STATUS"* ]] || { echo "talveco-decode's man page does not render"; exit 1; }

"$work/root/usr/bin/talveco" >/dev/null  # usage, status 0
page=$(man -l "$work/root/usr/share/man/man1/talveco.1.gz" 2>/dev/null)
[[ "$page" == *"EXIT STATUS"* ]] || { echo "the man page does not render"; exit 1; }
# The encoder: the WAV decoded above goes back to ACM, which decodes again.
"$work/root/usr/bin/talveco-encode" -s -o "$work/again.acm" "$work/sounds/a b/speech.wav"
(cd "$work" && "$work/root/usr/bin/talveco" again.acm >/dev/null)
[ -s "$work/again.wav" ]
page=$(man -l "$work/root/usr/share/man/man1/talveco-encode.1.gz" 2>/dev/null)
[[ "$page" == *"EXIT STATUS"* ]] || { echo "the encoder's man page does not render"; exit 1; }
[[ "$(dpkg-deb --field "$deb" Depends)" == *libsndfile1* ]] || { echo "no libsndfile1 dependency"; exit 1; }
echo "deb: $(basename "$deb"), $(basename "$runtime") and $(basename "$dev") pass lintian;" \
    "they install, convert, encode and document"
