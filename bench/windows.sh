#!/usr/bin/env bash
# Decode and encode times of the Windows programs under wine beside the Linux
# build's, on the same files:
#
#   bench/windows.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR [SECONDS]
#
# The input is SECONDS (default 120) of 22050 Hz stereo from sox, encoded by
# the Linux talveco-encode; each time is the best of three wall-clock runs.
# "wine start" is a program that does nothing (--version), the cost every
# run under wine pays before its work.
set -euo pipefail
[ $# -ge 2 ] || {
    echo "usage: bench/windows.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR [SECONDS]" >&2
    exit 2
}
win=$(realpath "$1")
lin=$(realpath "$2")
seconds=${3:-120}
export WINEPREFIX=${TALVECO_WINEPREFIX:-$win/wineprefix}
export WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
work=$(mktemp -d)
trap '"$wineserver" -w; rm -rf "$work"' EXIT

# best COMMAND...: the shortest of three runs, in seconds.
best() {
    local start end shortest=
    for _ in 1 2 3; do
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        shortest=$(echo "$end - $start" | bc -l | awk -v s="$shortest" '{ print (s == "" || $1 < s) ? $1 : s }')
    done
    printf '%.2f' "$shortest"
}

sox -R -n -r 22050 -c 2 -b 16 "$work/in.wav" synth "$seconds" sine 200-3000 pinknoise vol 0.5
"$lin/app/encode/talveco-encode" -Q "$work/in.wav" -o "$work/in.acm"
[ -d "$WINEPREFIX" ] || "$wine" cmd /c exit >/dev/null 2>&1

echo "$seconds s of 22050 Hz stereo ($(stat -c %s "$work/in.acm") bytes of ACM), best of 3, wall seconds;"
echo "load average $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) processors"
echo
echo "| | Linux | wine |"
echo "|---|---:|---:|"
echo "| wine start (\`talveco-decode --version\`) | $(best "$lin/app/decode/talveco-decode" --version) | $(best "$wine" "$win/app/decode/talveco-decode.exe" --version) |"
echo "| talveco (decode to WAV) | $(cd "$work" && best "$lin/app/talveco" in.acm) | $(cd "$work" && best "$wine" "$win/app/talveco.exe" in.acm) |"
echo "| talveco-decode -f | $(best "$lin/app/decode/talveco-decode" -Q -f -o "$work/out.wav" "$work/in.acm") | $(best "$wine" "$win/app/decode/talveco-decode.exe" -Q -f -o "$work/out.wav" "$work/in.acm") |"
echo "| talveco-decode --format=flac | $(best "$lin/app/decode/talveco-decode" -Q -f -o "$work/out.flac" "$work/in.acm") | $(best "$wine" "$win/app/decode/talveco-decode.exe" -Q -f -o "$work/out.flac" "$work/in.acm") |"
echo "| talveco-encode -q 5 | $(best "$lin/app/encode/talveco-encode" -Q -f -q 5 "$work/in.wav" -o "$work/out.acm") | $(best "$wine" "$win/app/encode/talveco-encode.exe" -Q -f -q 5 "$work/in.wav" -o "$work/out.acm") |"
