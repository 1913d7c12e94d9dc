#!/usr/bin/env bash
# Cross-builds, for 64-bit Windows (x86_64-w64-mingw32, posix threads), the
# static libraries the Windows programs link: libsndfile with every codec it
# reads and writes on Linux (FLAC, Ogg, Vorbis, Opus, MP3 through lame and
# mpg123), libFLAC for talveco-decode's FLAC pipe, and libsoxr.
#
#   scripts/windows-deps.sh [PREFIX]
#
# The sources are Debian bookworm's source packages, so the Windows build uses
# the versions (and Debian's patches) that the Linux build links. The build is
# cached under ${XDG_CACHE_HOME:-$HOME/.cache}/talveco-windows/, keyed by
# those versions and by this script, and reused while both stay the same.
# Without PREFIX the libraries are installed into the cache. The last line
# printed is the prefix, ready for CMAKE_PREFIX_PATH and PKG_CONFIG_LIBDIR.
set -euo pipefail

host=x86_64-w64-mingw32
# Build order: each library after the ones it links.
packages=(libogg libvorbis opus flac lame mpg123 libsndfile libsoxr)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/talveco-windows
sources=$cache/sources
jobs=$(nproc)

log() { echo "windows-deps: $*" >&2; }

# quietly COMMAND...: its output only when it fails.
quietly() {
    local output
    if ! output=$("$@" 2>&1); then
        echo "$output" | tail -n 40 >&2
        log "failed: $*"
        return 1
    fi
}

as_root() {
    if [ "$(id -u)" = 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

install_tools() {
    local missing=()
    command -v $host-gcc-posix >/dev/null || missing+=(mingw-w64)
    command -v cmake >/dev/null || missing+=(cmake)
    command -v ninja >/dev/null || missing+=(ninja-build)
    command -v make >/dev/null || missing+=(make)
    command -v pkg-config >/dev/null || missing+=(pkg-config)
    command -v patch >/dev/null || missing+=(patch)
    command -v bzip2 >/dev/null || missing+=(bzip2)
    if [ ${#missing[@]} -gt 0 ]; then
        log "installing ${missing[*]}"
        as_root apt-get update -qq
        DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq "${missing[@]}" >&2
    fi
}

# apt-get source needs a deb-src entry; the machine's sources often have none.
# The entry added is bookworm's, from the mirror the machine already uses.
ensure_source_index() {
    if apt-cache showsrc --only-source libsndfile 2>/dev/null | grep -q '^Version:'; then
        return
    fi
    local list=/etc/apt/sources.list.d/talveco-bookworm-src.sources
    log "adding $list"
    as_root tee "$list" >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    as_root apt-get update -qq -o Dir::Etc::sourcelist="$list" -o Dir::Etc::sourceparts=- \
        -o APT::Get::List-Cleanup=0
}

# newest_version PACKAGE: the highest version of the source package on offer.
newest_version() {
    apt-cache showsrc --only-source "$1" | awk '/^Version:/ { print $2 }' |
        sort -V | tail -n 1
}

# fetch PACKAGE VERSION: the source package's files into $sources. apt-get
# checks each file against the signed index; it also asks for upstream
# signatures (.asc), which the mirror does not always hold and which the
# index already vouches for, so only the tarballs must arrive.
fetch() {
    local dsc=$sources/$1_${2#*:}.dsc
    [ -f "$dsc" ] && return
    mkdir -p "$sources"
    (cd "$sources" && apt-get source --download-only -qq "$1=$2" >/dev/null 2>&1) || true
    [ -f "$dsc" ] || {
        log "could not fetch $1 $2"
        exit 1
    }
    local file
    for file in $(tarballs "$dsc"); do
        [ -f "$sources/$file" ] || {
            log "could not fetch $file"
            exit 1
        }
    done
}

# tarballs DSC: the tar files the source package is made of.
tarballs() {
    awk '/^Files:/ { files = 1; next } /^[^ ]/ { files = 0 }
         files && $3 ~ /\.tar\.[a-z0-9]+$/ { print $3 }' "$1"
}

# unpack PACKAGE VERSION DIR: upstream sources with Debian's patches applied.
unpack() {
    local dsc=$sources/$1_${2#*:}.dsc dir=$3 file
    mkdir -p "$dir"
    for file in $(tarballs "$dsc"); do
        case $file in
        *.debian.tar.*) tar -xf "$sources/$file" -C "$dir" ;;
        *) tar -xf "$sources/$file" -C "$dir" --strip-components=1 ;;
        esac
    done
    if [ -f "$dir/debian/patches/series" ]; then
        local patch
        while read -r patch _; do
            case $patch in '' | '#'*) continue ;; esac
            patch -d "$dir" -p1 -s -N <"$dir/debian/patches/$patch" >&2
        done <"$dir/debian/patches/series"
    fi
}

write_toolchain() {
    cat >"$1" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $host-gcc-posix)
set(CMAKE_CXX_COMPILER $host-g++-posix)
set(CMAKE_RC_COMPILER $host-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$host "$prefix")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
}

# cmake_build SOURCE_DIR OPTIONS...: configure, build and install a static
# release build into the prefix.
cmake_build() {
    local src=$1
    shift
    quietly cmake -S "$src" -B "$src/_build" -G Ninja -Wno-dev \
        -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
        -DBUILD_SHARED_LIBS=OFF "$@"
    quietly cmake --build "$src/_build" -j "$jobs"
    quietly cmake --install "$src/_build"
}

# autotools_configure SOURCE_DIR OPTIONS...: the same for configure scripts.
autotools_configure() {
    local src=$1
    shift
    (cd "$src" && quietly ./configure --host=$host --prefix="$prefix" --disable-shared \
        --enable-static --disable-dependency-tracking "$@" \
        CC=$host-gcc-posix CFLAGS=-O2 CPPFLAGS="-I$prefix/include ${extra_cppflags:-}" \
        LDFLAGS="-L$prefix/lib")
}

# autotools_build SOURCE_DIR OPTIONS...: configure, build and install.
autotools_build() {
    autotools_configure "$@"
    quietly make -C "$1" -j "$jobs"
    quietly make -C "$1" install
}

build_package() {
    local src=$2
    case $1 in
    libogg) cmake_build "$src" -DINSTALL_DOCS=OFF -DBUILD_TESTING=OFF ;;
    libvorbis) cmake_build "$src" ;;
    # The stack protector and _FORTIFY_SOURCE would need mingw's libssp
    # beside every program; configure adds the latter unless it is set.
    opus)
        extra_cppflags=-D_FORTIFY_SOURCE=0 autotools_build "$src" --disable-stack-protector \
            --disable-doc --disable-extra-programs
        ;;
    flac)
        cmake_build "$src" -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_CXXLIBS=OFF \
            -DBUILD_DOCS=OFF -DBUILD_TESTING=OFF -DINSTALL_MANPAGES=OFF -DWITH_STACK_PROTECTOR=OFF \
            -DWITH_FORTIFY_SOURCE=OFF
        # The headers declare the functions as imported from a DLL unless
        # FLAC__NO_DLL is set; the prefix holds the static library only, so
        # whoever compiles against it through pkg-config must set it.
        sed -i 's/^Cflags: .*/& -DFLAC__NO_DLL/' "$prefix/lib/pkgconfig/flac.pc"
        ;;
    lame) autotools_build "$src" --disable-frontend --disable-gtktest --disable-decoder ;;
    # Only libmpg123: its programs, libout123 and libsyn123 would take
    # longer to build than the library itself.
    mpg123)
        autotools_configure "$src" --disable-modules
        quietly make -C "$src" -j "$jobs" install-libLTLIBRARIES install-includeHEADERS \
            install-nodist_includeHEADERS install-pkgconfigDATA \
            lib_LTLIBRARIES=src/libmpg123/libmpg123.la \
            nodist_include_HEADERS=src/libmpg123/mpg123.h pkgconfig_DATA=libmpg123.pc
        ;;
    libsndfile)
        cmake_build "$src" -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DENABLE_CPACK=OFF \
            -DENABLE_EXTERNAL_LIBS=ON -DENABLE_MPEG=ON -DCMAKE_C_FLAGS=-DFLAC__NO_DLL
        ;;
    # No OpenMP: the programs would need its runtime DLL.
    libsoxr)
        cmake_build "$src" -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF -DWITH_AVFFT=OFF -DBUILD_TESTS=OFF \
            -DBUILD_EXAMPLES=OFF
        ;;
    esac
}

install_tools
ensure_source_index

declare -A version
for package in "${packages[@]}"; do
    version[$package]=$(newest_version "$package")
    [ -n "${version[$package]}" ] || {
        log "no source package $package"
        exit 1
    }
done
key=$( (
    for package in "${packages[@]}"; do echo "$package=${version[$package]}"; done
    cat "$0"
) | sha256sum | cut -c1-16)
prefix=${1:-$cache/$key}
prefix=$(realpath -m "$prefix")

if [ -f "$prefix/.talveco-deps" ] && [ "$(cat "$prefix/.talveco-deps")" = "$key" ]; then
    log "cached: $prefix"
    echo "$prefix"
    exit 0
fi

# A build that stopped half-way (a killed CI job) resumes after the last
# library it finished, so long as the key is the same.
work=$cache/work-$key
if [ "$(cat "$prefix/.talveco-deps-partial" 2>/dev/null)" != "$key" ]; then
    rm -rf "$work" "$prefix"
    mkdir -p "$prefix"
    echo "$key" >"$prefix/.talveco-deps-partial"
fi
rm -rf "$work"
mkdir -p "$work" "$prefix/.built"
write_toolchain "$work/toolchain.cmake"
export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig PKG_CONFIG_PATH=
for package in "${packages[@]}"; do
    [ -f "$prefix/.built/$package" ] && continue
    log "$package ${version[$package]}"
    started=$SECONDS
    fetch "$package" "${version[$package]}"
    unpack "$package" "${version[$package]}" "$work/$package"
    build_package "$package" "$work/$package"
    rm -rf "${work:?}/$package"
    touch "$prefix/.built/$package"
    log "$package built in $((SECONDS - started)) s"
done
rm -rf "$work" "$prefix/.built" "$prefix/.talveco-deps-partial"
echo "$key" >"$prefix/.talveco-deps"
echo "$prefix"
