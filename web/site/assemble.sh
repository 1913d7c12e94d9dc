#!/usr/bin/env bash
# Puts the page together in DEST: its own files, the zip library from npm, and the talveco
# module (its JavaScript and its .wasm, from PACKAGE_DIR) in DEST/talveco/, as the worker
# imports it. Needs npm (the zip library is fetched once into web/site/node_modules).
#
#   web/site/assemble.sh DEST PACKAGE_DIR
set -euo pipefail
dest=${1:?usage: assemble.sh DEST PACKAGE_DIR}
package=${2:?usage: assemble.sh DEST PACKAGE_DIR}
here=$(cd "$(dirname "$0")" && pwd)

if [ ! -f "$here/node_modules/fflate/esm/browser.js" ]; then
    (cd "$here" && npm ci --no-audit --no-fund --loglevel=error)
fi
rm -rf "$dest"
mkdir -p "$dest/vendor" "$dest/talveco"
cp "$here"/*.html "$here"/*.js "$here"/*.css "$dest/"
cp "$here/node_modules/fflate/esm/browser.js" "$dest/vendor/fflate.js"
cp "$here/node_modules/fflate/LICENSE" "$dest/vendor/fflate.LICENSE"
found=0
for file in "$package"/*.js "$package"/*.mjs "$package"/*.wasm; do
    [ -f "$file" ] || continue
    cp "$file" "$dest/talveco/"
    found=1
done
[ "$found" = 1 ] || { echo "assemble.sh: no module in $package" >&2; exit 1; }
[ -f "$dest/talveco/index.js" ] || { echo "assemble.sh: $package has no index.js" >&2; exit 1; }
