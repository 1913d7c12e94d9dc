#!/usr/bin/env bash
# Builds talveco for browsers and node: the C interface compiled to WebAssembly
# with emscripten, the npm package build-web/talveco-VERSION.tgz (npm pack) and
# the page in build-web/site/, whose folder is the last line printed.
#
#   scripts/build-web.sh            (TALVECO_WEB_BUILD=DIR builds elsewhere)
#
# Installs what it lacks from Debian (emscripten, node, npm) like
# scripts/install-deps.sh, as root or through sudo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${TALVECO_WEB_BUILD:-$root/build-web}

install_missing() {
    local packages=()
    command -v cmake >/dev/null || packages+=(cmake)
    command -v make >/dev/null || packages+=(make)
    command -v emcc >/dev/null || packages+=(emscripten)
    command -v node >/dev/null || packages+=(nodejs)
    # A node from elsewhere brings its own npm; Debian's would replace it.
    command -v npm >/dev/null || packages+=(npm)
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

project_version() {
    sed -n 's/^project(talveco VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt"
}

build_module() {
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # Debian's emscripten runs its JavaScript tools with the node it finds,
    # which may not look in Debian's own module folder.
    export NODE_PATH=${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs
    emcmake cmake -S "$root" -B "$out/wasm" -DCMAKE_BUILD_TYPE=Release -DTALVECO_WERROR=ON \
        "${launcher[@]}" >&2
    cmake --build "$out/wasm" -j"${TALVECO_JOBS:-2}" --target talveco_wasm >&2
}

# The package's files in $out/package, packed into $out/talveco-VERSION.tgz.
pack_package() {
    local version package_version
    version=$(project_version)
    package_version=$(node -p "require('$root/web/package/package.json').version")
    if [ "$version" != "$package_version" ]; then
        echo "build-web.sh: web/package/package.json says $package_version, the project $version" >&2
        exit 1
    fi
    rm -rf "$out/package"
    mkdir -p "$out/package"
    cp "$root"/web/package/{package.json,index.js,index.d.ts,README.md} "$root/LICENSE" \
        "$out/wasm/web/talveco.wasm" "$out/package/"
    rm -f "$out"/talveco-*.tgz
    (cd "$out" && npm pack --silent "$out/package" >&2)
    [ -f "$out/talveco-$version.tgz" ] || {
        echo "build-web.sh: npm pack made no talveco-$version.tgz" >&2
        exit 1
    }
}

# The page's own files, its npm libraries and the module, as web/site puts them together.
assemble_site() {
    bash "$root/web/site/assemble.sh" "$out/site" "$out/package" >&2
}

install_missing
mkdir -p "$out"
build_module
pack_package
assemble_site
echo "$out/site"
