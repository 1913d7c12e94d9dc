#!/usr/bin/env bash
# Builds the web package and page (scripts/build-web.sh) and tests them: the
# package under node against the native programs' outputs, then the page in
# headless Chromium.
#
#   scripts/test-web.sh     TALVECO_NATIVE_BUILD=DIR uses a configured native
#                           build (with the tests) instead of making one
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${TALVECO_WEB_BUILD:-$root/build-web}
export TALVECO_WEB_BUILD=$out

site=$(bash "$root/scripts/build-web.sh" | tail -n 1)
echo "site: $site"

native=${TALVECO_NATIVE_BUILD:-$out/native}
if [ -z "${TALVECO_NATIVE_BUILD:-}" ]; then
    launcher=()
    command -v ccache >/dev/null &&
        launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    cmake -S "$root" -B "$native" -DTALVECO_BUILD_TESTS=ON -DTALVECO_WERROR=ON "${launcher[@]}" \
        >/dev/null
fi
cmake --build "$native" -j"${TALVECO_JOBS:-2}" \
    --target talveco-decode talveco-encode make_acm_sample make_api_streams >/dev/null
decoder=$native/app/decode/talveco-decode
encoder=$native/app/encode/talveco-encode

# The corpus: the C interface's test streams and what talveco-decode makes of
# each mono or stereo one (damaged ones too, with -F), and the sample file.
corpus=$out/corpus
"$native/tests/capi/make_api_streams" "$corpus" "$encoder"
"$native/tools/make_acm_sample" "$corpus/sample.acm" >/dev/null
"$decoder" -s -f -o "$corpus/sample.wav" "$corpus/sample.acm"
while IFS=$'\t' read -r kind name _; do
    [ "$kind" = decode ] || continue
    # Exit status 1 for the damaged streams and those it refuses (which the
    # tests expect no WAV for); anything else is a failure of the program.
    status=0
    "$decoder" -s -f -F -o "$corpus/$name.native.wav" "$corpus/$name.acm" 2>/dev/null || status=$?
    [ "$status" -le 1 ] || {
        echo "talveco-decode failed on $name.acm (exit status $status)" >&2
        exit 1
    }
done <"$corpus/streams.tsv"

# An input longer than the encoder holds in memory before it needs scratch
# room, and what the native programs make of it.
node "$root/web/test/make_long_wav.mjs" "$corpus/long.wav" 40
"$encoder" -s -f -q 5 -o "$corpus/long.acm" "$corpus/long.wav"
"$decoder" -s -f -o "$corpus/long.native.wav" "$corpus/long.acm"

# The package as npm pack made it.
version=$(node -p "require('$root/web/package/package.json').version")
rm -rf "$out/unpacked"
mkdir -p "$out/unpacked"
tar -xzf "$out/talveco-$version.tgz" -C "$out/unpacked"
TALVECO_PACKAGE=$out/unpacked/package/index.js TALVECO_CORPUS=$corpus \
    node --test "$root/web/test/package.test.mjs"

# The page in headless Chromium (Debian's, driven by puppeteer-core from npm),
# against the same native programs; sox makes its FLAC input.
install_page_needs() {
    local packages=()
    command -v chromium >/dev/null || packages+=(chromium)
    command -v sox >/dev/null || packages+=(sox)
    [ ${#packages[@]} -gt 0 ] || return 0
    echo "installing ${packages[*]}" >&2
    local as_root=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || {
            echo "as root: apt-get install ${packages[*]}" >&2
            exit 1
        }
        as_root=(sudo)
    fi
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq >&2
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${packages[@]}" \
        </dev/null >&2
}
install_page_needs
(cd "$root/web/test" && npm ci --no-audit --no-fund --loglevel=error)
TALVECO_SITE=$site TALVECO_DECODE=$decoder TALVECO_ENCODE=$encoder TALVECO_SCREENSHOT=$out/page.png \
    node --test "$root/web/test/page-modules.test.mjs" "$root/web/test/page.browser.test.mjs"
