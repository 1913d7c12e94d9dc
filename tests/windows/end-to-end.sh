#!/usr/bin/env bash
# The Windows zip, run under wine, against the Linux build:
#
#   tests/windows/end-to-end.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
#
# WINDOWS_BUILD_DIR holds talveco-*-windows-x86_64.zip (scripts/build-windows.sh);
# LINUX_BUILD_DIR a Linux build with the programs, make_acm_sample and
# make_api_streams. Every stream of a corpus made with the project's own tools
# is decoded by both builds' programs, and the outputs, transcripts and exit
# statuses must be byte-identical; so must the encoder's streams. Then the
# Windows-only traps: UTF-8 names, output-is-input, standard output into a
# file and a pipe, -j 2, and a C program linked with the zip's import library.
# Wine runs in the Windows build's own prefix (made when missing) and is
# waited for at the end; no other wine process is touched.
set -uo pipefail
[ $# = 2 ] || {
    echo "usage: tests/windows/end-to-end.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR" >&2
    exit 2
}
[ -d "$2" ] || {
    echo "end-to-end: $2 is no folder: the second argument is the Linux build folder" >&2
    exit 2
}
root=$(cd "$(dirname "$0")/../.." && pwd)
win_build=$(realpath "$1")
lin_build=$(realpath "$2")
host=x86_64-w64-mingw32
started=$SECONDS

export WINEPREFIX=${TALVECO_WINEPREFIX:-$win_build/wineprefix}
export WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
work=$(mktemp -d)
finish() {
    "$wineserver" -w
    rm -rf "$work"
}
trap finish EXIT

# A new prefix is made on the first start, with messages of its own that
# must not land in a transcript under comparison.
[ -d "$WINEPREFIX" ] || "$wine" cmd /c exit >/dev/null 2>&1

failures=0
checks=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { checks=$((checks + 1)); }

zip=$(find "$win_build" -maxdepth 1 -name 'talveco-*-windows-x86_64.zip' | head -n 1)
[ -n "$zip" ] || {
    echo "no zip in $win_build (scripts/windows-package.sh makes it)" >&2
    exit 1
}
unzip -q "$zip" -d "$work/zip"
win_bin=$work/zip/bin
declare -A linux=(
    [talveco]=$lin_build/app/talveco
    [talveco-decode]=$lin_build/app/decode/talveco-decode
    [talveco-encode]=$lin_build/app/encode/talveco-encode
)
for program in "${!linux[@]}"; do
    [ -x "${linux[$program]}" ] || {
        echo "no ${linux[$program]}" >&2
        exit 1
    }
done

# --- The corpus -----------------------------------------------------------
corpus=$work/corpus
sounds=$work/sounds
mkdir -p "$corpus" "$sounds"
make_corpus() {
    "$lin_build/tools/make_acm_sample" "$corpus/sample.acm" >/dev/null
    "$lin_build/tests/capi/make_api_streams" "$work/api" "${linux[talveco-encode]}" >/dev/null
    local stream
    for stream in "$work"/api/*.acm; do cp "$stream" "$corpus/api-$(basename "$stream")"; done
    sox -R -n -r 22050 -c 1 -b 16 "$sounds/sweep.wav" synth 2 sine 100-8000 vol 0.7
    sox -R -n -r 44100 -c 2 -b 16 "$sounds/stereo.wav" synth 1.5 pluck C3 pluck E4 vol 0.6
    sox -R "$sounds/stereo.wav" "$sounds/stereo.flac"
    espeak-ng -w "$sounds/speech.wav" "Windows users get the same bytes." 2>/dev/null ||
        sox -R -n -r 22050 -c 1 -b 16 "$sounds/speech.wav" synth 1 noise vol 0.3
    "${linux[talveco-encode]}" -Q "$sounds/sweep.wav" -o "$corpus/sweep.acm"
    "${linux[talveco-encode]}" -Q "$sounds/stereo.wav" -o "$corpus/stereo.acm"
    "${linux[talveco-encode]}" -Q -b 48 "$sounds/speech.wav" -o "$corpus/speech-48k.acm"
    sox -R -n -r 16000 -c 1 -b 16 "$sounds/tone.wav" synth 1 sine 440 vol 0.5
    "${linux[talveco-encode]}" -Q "$sounds/tone.wav" -o "$corpus/tone-16k.acm"
    # A damaged stream: its tail cut off mid-block.
    head -c 3000 "$corpus/sweep.acm" >"$corpus/cut.acm"
    # Not a stream at all.
    printf 'RIFF not an ACM file' >"$corpus/not-acm.acm"
}
make_corpus
echo "corpus: $(find "$corpus" -name '*.acm' | wc -l) streams"

run_windows() { "$wine" "$win_bin/$1.exe" "${@:2}"; }
run_linux() { "${linux[$1]}" "${@:2}"; }

# same LABEL PROGRAM INPUT_DIR ARGS...: the program of each build runs in a
# copy of INPUT_DIR; the folders afterwards, standard output and error, and
# the exit status must be the same bytes.
same() {
    local label=$1 program=$2 inputs=$3 side
    shift 3
    for side in linux windows; do
        rm -rf "${work:?}/$side"
        mkdir -p "$work/$side/dir"
        cp -r "$inputs/." "$work/$side/dir/"
        (cd "$work/$side/dir" && "run_$side" "$program" "$@" >../out 2>../err
            echo $? >../status)
    done
    if ! diff -r "$work/linux/dir" "$work/windows/dir" >/dev/null; then
        fail "$label: $program's output files differ"
    elif ! cmp -s "$work/linux/out" "$work/windows/out"; then
        fail "$label: $program's standard output differs"
    elif ! cmp -s "$work/linux/err" "$work/windows/err"; then
        fail "$label: $program's standard error differs:"$'\n'"$(diff "$work/linux/err" "$work/windows/err" | head -6)"
    elif ! cmp -s "$work/linux/status" "$work/windows/status"; then
        fail "$label: $program's exit status $(cat "$work/windows/status"), Linux's $(cat "$work/linux/status")"
    else
        pass
    fi
}

# one_stream STREAM: a folder holding only that stream, for same().
one_stream() {
    rm -rf "$work/one"
    mkdir -p "$work/one"
    cp "$1" "$work/one/"
    echo "$work/one"
}

# --- Decoding: every stream, both decoders ---------------------------------
for stream in "$corpus"/*.acm; do
    name=$(basename "$stream")
    dir=$(one_stream "$stream")
    same "$name" talveco "$dir" "$name"
    same "$name" talveco-decode "$dir" "$name"
done

for mono in sample stereo; do
    same "$mono.acm -m" talveco "$(one_stream "$corpus/$mono.acm")" "$mono.acm" -m
done

# --- Decoding to the other formats ------------------------------------------
# The lossy formats are not the same bytes: Ogg's stream serial number is
# random, so two Linux runs differ already; lame (MP3) and Opus compute in
# floating point through the C library's maths, msvcrt's there and glibc's
# here (an MP3 of 5688 bytes had 4371 bytes different, same size). Of those
# only the file's kind is checked.
approximate() { [ "$1" = ogg ] || [ "$1" = mp3 ] || [ "$1" = opus ]; }
magic() {
    case $1 in
    ogg | opus) printf 'OggS' ;;
    mp3) printf '\xff\xf3' ;;
    esac
}
dir=$(one_stream "$corpus/tone-16k.acm")
for format in flac aiff ogg w64 caf raw mp3 opus; do
    if ! approximate "$format"; then
        same "--format=$format" talveco-decode "$dir" --format="$format" -o "out.$format" tone-16k.acm
    else
        run_linux talveco-decode -Q -f --format="$format" -o "$work/lin.$format" "$corpus/tone-16k.acm"
        run_windows talveco-decode -Q -f --format="$format" -o "$work/win.$format" "$corpus/tone-16k.acm"
        for side in lin win; do
            cmp -s -n 2 <(magic "$format") "$work/$side.$format" ||
                fail "--format=$format: $side.$format is no $format file"
        done
    fi
done

# --- Encoding ---------------------------------------------------------------
same "encode -q 5" talveco-encode "$sounds" -q 5 sweep.wav -o sweep.acm
same "encode -b 48" talveco-encode "$sounds" -b 48 speech.wav -o speech.acm
same "encode FLAC" talveco-encode "$sounds" stereo.flac -o flac.acm
same "encode stereo" talveco-encode "$sounds" stereo.wav -o stereo.acm
# libsoxr's output differs from Linux's by up to 1.8e-7 (float, same engine
# cr32s; the C library's maths again), which rounds a few samples the other
# way: the streams then differ a little, and their decoded samples must too.
run_linux talveco-encode -Q --resample 22050 "$sounds/stereo.wav" -o "$work/lin-fitted.acm"
run_windows talveco-encode -Q --resample 22050 "$sounds/stereo.wav" -o "$work/win-fitted.acm"
if ! cmp -s "$work/lin-fitted.acm" "$work/win-fitted.acm"; then
    for side in lin win; do
        run_linux talveco-decode -Q -f --format=raw -o "$work/$side-fitted.raw" "$work/$side-fitted.acm"
    done
    python3 - "$work/lin-fitted.raw" "$work/win-fitted.raw" <<'EOF' || fail "encode --resample: the streams differ by more than rounding"
import array, sys
a, b = (array.array("h", open(name, "rb").read()) for name in sys.argv[1:])
differing = [abs(x - y) for x, y in zip(a, b) if x != y]
print(f"encode --resample: {len(differing)} of {len(a)} decoded samples differ, by at most {max(differing, default=0)}")
sys.exit(len(a) != len(b) or len(differing) * 500 > len(a) or max(differing, default=0) > 256)
EOF
fi
pass

# --- Names, refusals, standard output, threads ------------------------------
utf8=$work/utf8
mkdir -p "$utf8"
cp "$corpus/sweep.acm" "$utf8/Überspielung – 声.acm"
same "UTF-8 name" talveco-decode "$utf8" "Überspielung – 声.acm"
[ -f "$work/windows/dir/Überspielung – 声.wav" ] || fail "UTF-8 name: no Überspielung – 声.wav"
same "UTF-8 name" talveco "$utf8" "Überspielung – 声.acm"

dir=$(one_stream "$corpus/sweep.acm")
same "output is the input" talveco-decode "$dir" -f -o sweep.acm sweep.acm
cmp -s "$work/windows/dir/sweep.acm" "$corpus/sweep.acm" || fail "output is the input: the input changed"
[ "$(cat "$work/windows/status")" != 0 ] || fail "output is the input: not refused"
# The same file under a second name: only the file's identity tells.
mkdir -p "$work/linked"
cp "$corpus/sweep.acm" "$work/linked/sweep.acm"
ln "$work/linked/sweep.acm" "$work/linked/other.wav"
(cd "$work/linked" && run_windows talveco-decode -Q -f -o other.wav sweep.acm >/dev/null 2>&1) &&
    fail "output is the input through a hard link: not refused"
cmp -s "$work/linked/sweep.acm" "$corpus/sweep.acm" || fail "hard link: the input changed"
pass

for stream in sample sweep stereo; do
    run_linux talveco-decode -Q -c "$corpus/$stream.acm" >"$work/lin.wav"
    run_windows talveco-decode -Q -c "$corpus/$stream.acm" >"$work/win.wav"
    cmp -s "$work/lin.wav" "$work/win.wav" || fail "-c into a file: $stream differs"
    run_linux talveco-decode -Q -o - "$corpus/$stream.acm" | cat >"$work/lin-pipe.wav"
    run_windows talveco-decode -Q -o - "$corpus/$stream.acm" | cat >"$work/win-pipe.wav"
    cmp -s "$work/lin-pipe.wav" "$work/win-pipe.wav" || fail "-o - into a pipe: $stream differs"
    run_linux talveco-encode -Q -c "$sounds/sweep.wav" >"$work/lin.acm"
    run_windows talveco-encode -Q -c "$sounds/sweep.wav" >"$work/win.acm"
    cmp -s "$work/lin.acm" "$work/win.acm" || fail "encode -c into a file differs"
    pass
done

many=$work/many
mkdir -p "$many"
cp "$corpus"/sweep.acm "$corpus"/stereo.acm "$corpus"/sample.acm "$corpus"/speech-48k.acm "$many/"
same "-j 2" talveco-decode "$many" -j 2 sweep.acm stereo.acm sample.acm speech-48k.acm

# --- A C program against the zip's header and import library ---------------
$host-gcc -std=c11 -Wall -Werror -O2 -I"$work/zip/include" \
    "$root/tests/windows/decode_with_library.c" -L"$work/zip/lib" -ltalveco \
    -o "$work/zip/bin/decode_with_library.exe" || fail "the C program does not build"
for stream in sweep stereo; do
    run_linux talveco-decode -Q -f --format=raw -o "$work/lin.raw" "$corpus/$stream.acm"
    (cd "$work" && "$wine" "$win_bin/decode_with_library.exe" "corpus/$stream.acm" win.raw >/dev/null) ||
        fail "the C program failed on $stream"
    cmp -s "$work/lin.raw" "$work/win.raw" || fail "the C program's samples of $stream differ"
    pass
done

# --- The package's binary checks refuse what they are there to refuse -------
check() { bash "$root/scripts/windows-package.sh" --check "$@" >/dev/null 2>&1; }
check "$win_bin"/talveco*.exe "$win_bin/talveco.dll" || fail "the zip's binaries fail the package checks"
printf 'int talveco_version(void) { return 1; }\nint helper(void) { return 2; }\n' >"$work/extra.c"
$host-gcc -shared "$work/extra.c" -o "$work/talveco.dll"
check "$work/talveco.dll" && fail "a talveco.dll exporting a helper passes the checks"
printf '#include <iostream>\nint main() { std::cout << 1; }\n' >"$work/dynamic.cpp"
$host-g++ "$work/dynamic.cpp" -o "$work/dynamic.exe"
check "$work/dynamic.exe" && fail "a program needing libstdc++'s DLL passes the checks"
pass

echo "end-to-end: $checks checks passed, $failures failed, in $((SECONDS - started)) s"
[ "$failures" = 0 ]
