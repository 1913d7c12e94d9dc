#!/usr/bin/env bash
# Packages a Windows build (scripts/build-windows.sh) as a zip for users:
#
#   scripts/windows-package.sh BUILD_DIR
#       makes BUILD_DIR/talveco-VERSION-windows-x86_64.zip and prints its path
#       as the last line. It holds bin/ (the three programs and talveco.dll),
#       include/talveco/talveco_c.h, lib/ (libtalveco.dll.a for mingw,
#       talveco.lib and talveco.def for MSVC), README.txt, LICENSE.txt and the
#       manuals as text, all text with CR LF line ends.
#   scripts/windows-package.sh --check FILE...
#       only the checks the zip's binaries pass: every .exe and .dll imports
#       nothing but Windows' own DLLs, and a talveco.dll exports exactly the
#       C interface's functions (the list the Linux library is held to).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
host=x86_64-w64-mingw32

die() {
    echo "windows-package: $*" >&2
    exit 1
}

# Windows' own DLLs that a program may import; anything else (libstdc++,
# libwinpthread, a codec) would be missing on a user's machine.
system_dlls='^(kernel32|msvcrt|shell32|shlwapi|user32|advapi32|ole32|ws2_32|bcrypt|ucrtbase)\.dll$|^api-ms-win-'

imports_of() { $host-objdump -p "$1" | awk '/DLL Name:/ { print $3 }'; }

# The names in the export table: objdump lists them after the line
# "[Ordinal/Name Pointer] Table" as "[ N] name".
exports_of() {
    $host-objdump -p "$1" | awk '/\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
        table && /^\t\[ *[0-9]+\]/ { print $NF; next } table { table = 0 }'
}

# The C interface's functions, as the Debian symbols file holds them.
interface_functions() {
    awk '/^ talveco_/ { sub(/@.*/, "", $1); print $1 }' "$root/cmake/libtalveco1.symbols" | sort
}

check_imports() {
    local file=$1 dll
    for dll in $(imports_of "$file"); do
        echo "${dll,,}" | grep -Eq "$system_dlls" || die "$file imports $dll, which Windows lacks"
    done
}

check_exports() {
    local file=$1 difference
    difference=$(diff <(interface_functions) <(exports_of "$file" | sort)) ||
        die "$file does not export exactly the talveco_* functions:"$'\n'"$difference"
}

check_binary() {
    [ -f "$1" ] || die "no $1"
    check_imports "$1"
    case ${1,,} in */talveco.dll | talveco.dll) check_exports "$1" ;; esac
}

# crlf SOURCE TARGET: a text file with Windows line ends (none doubled).
crlf() { sed 's/\r$//; s/$/\r/' "$1" >"$2"; }

# manual PAGE TARGET: a man page as plain text, without the overstriking
# that terminals render as bold and underline.
manual() {
    groff -man -Tutf8 -P-cbou -rLL=78n -rHY=0 "$1" | crlf /dev/stdin "$2"
}

build_version() {
    sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"
}

stage() {
    local build=$1 stage=$2 program page
    rm -rf "$stage"
    mkdir -p "$stage/bin" "$stage/include/talveco" "$stage/lib" "$stage/doc"
    for program in app/talveco.exe app/decode/talveco-decode.exe app/encode/talveco-encode.exe \
        capi/talveco.dll; do
        [ -f "$build/$program" ] || die "no $build/$program (build it first)"
        cp "$build/$program" "$stage/bin/"
    done
    # Without the debugging information, a tenth of the size.
    $host-strip --strip-unneeded "$stage"/bin/*
    cp "$root/include/talveco/talveco_c.h" "$stage/include/talveco/"
    cp "$build/capi/libtalveco.dll.a" "$stage/lib/"
    # The .def lists what the DLL really exports, for MSVC's import library.
    { echo "LIBRARY talveco.dll" && echo "EXPORTS" && exports_of "$stage/bin/talveco.dll" |
        sed 's/^/    /'; } | crlf /dev/stdin "$stage/lib/talveco.def"
    $host-dlltool -d "$stage/lib/talveco.def" -D talveco.dll -l "$stage/lib/talveco.lib"
    crlf "$root/README.md" "$stage/README.txt"
    crlf "$root/LICENSE" "$stage/LICENSE.txt"
    for page in "$root"/doc/*.1; do
        manual "$page" "$stage/doc/$(basename "$page" .1).txt"
    done
}

install_tools() {
    local missing=()
    command -v zip >/dev/null || missing+=(zip)
    command -v groff >/dev/null || missing+=(groff-base)
    command -v $host-dlltool >/dev/null || missing+=(binutils-mingw-w64-x86-64)
    [ ${#missing[@]} = 0 ] && return
    echo "windows-package: installing ${missing[*]}" >&2
    local sudo=()
    [ "$(id -u)" = 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >&2
}

install_tools
if [ "${1:-}" = --check ]; then
    shift
    [ $# -gt 0 ] || die "usage: scripts/windows-package.sh --check FILE..."
    for file in "$@"; do check_binary "$file"; done
    exit 0
fi
[ $# = 1 ] || die "usage: scripts/windows-package.sh BUILD_DIR"
build=$(realpath "$1")
version=$(build_version "$build")
[ -n "$version" ] || die "$build is not a configured build folder"
name=talveco-$version-windows-x86_64
staging=$build/package/$name
stage "$build" "$staging"
for file in "$staging"/bin/*; do check_binary "$file"; done
zip=$build/$name.zip
rm -f "$zip"
(cd "$staging" && zip -q -X -r "$zip" .)
echo "$zip"
