#!/usr/bin/env bash
# Makes the .deb, unpacks it into a temporary root, and uses what it holds:
# the program converts a sample (also in a batch over a folder, relying on the
# exit status) and the man page renders.
#   check_deb.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack -G DEB -B "$work/pkg" --config "$build/CPackConfig.cmake" >/dev/null
deb=$(ls "$work"/pkg/*.deb)
# (grep reads all of its input: an early exit would fail the pipeline)
[[ "$(dpkg-deb --info "$deb")" == *"Package: talveco"* ]]
dpkg -x "$deb" "$work/root"
program="$work/root/usr/bin/talveco"

mkdir -p "$work/sounds/a b" "$work/sounds/more"
"$build/tools/make_acm_sample" "$work/sounds/a b/speech.acm"
cp "$work/sounds/a b/speech.acm" "$work/sounds/more/music.ACM"
printf 'not an ACM file' >"$work/sounds/more/broken.acm"

# The batch of the README and the man page.
failed=$(cd "$work/sounds" && PATH="$work/root/usr/bin:$PATH" find . -iname '*.acm' -execdir sh -c \
    'talveco "$1" >/dev/null || echo "failed: $PWD/$1" >&2' sh {} \; 2>&1)
[ "$failed" = "failed: $work/sounds/more/./broken.acm" ] || { echo "batch said: $failed"; exit 1; }
[ -s "$work/sounds/a b/speech.wav" ]
[ -s "$work/sounds/more/music.wav" ]
[ ! -e "$work/sounds/more/broken.wav" ]
if cmp -s "$work/sounds/a b/speech.wav" "$work/sounds/more/music.wav"; then
    echo "the INAM names should differ"
    exit 1
fi

# The parallel batch, over the same files again.
rm "$work/sounds/a b/speech.wav" "$work/sounds/more/music.wav"
failed=$(cd "$work/sounds" && find . -iname '*.acm' -print0 | PATH="$work/root/usr/bin:$PATH" \
    xargs -0 -P4 -n1 sh -c \
    'cd "$(dirname "$1")" && talveco "$(basename "$1")" >/dev/null || echo "failed: $1" >&2' sh 2>&1)
[ "$failed" = "failed: ./more/broken.acm" ] || { echo "parallel batch said: $failed"; exit 1; }
[ -s "$work/sounds/a b/speech.wav" ]
[ -s "$work/sounds/more/music.wav" ]

"$program" >/dev/null  # usage, status 0
page=$(man -l "$work/root/usr/share/man/man1/talveco.1" 2>/dev/null)
[[ "$page" == *"EXIT STATUS"* ]] || { echo "the man page does not render"; exit 1; }
# The encoder: the WAV decoded above goes back to ACM, which decodes again.
"$work/root/usr/bin/talveco-encode" -s -o "$work/again.acm" "$work/sounds/a b/speech.wav"
(cd "$work" && "$program" again.acm >/dev/null)
[ -s "$work/again.wav" ]
page=$(man -l "$work/root/usr/share/man/man1/talveco-encode.1" 2>/dev/null)
[[ "$page" == *"EXIT STATUS"* ]] || { echo "the encoder's man page does not render"; exit 1; }
[[ "$(dpkg-deb --field "$deb" Depends)" == *libsndfile1* ]] || { echo "no libsndfile1 dependency"; exit 1; }
echo "deb: $(basename "$deb") installs, converts and documents"
