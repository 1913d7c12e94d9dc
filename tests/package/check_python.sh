#!/usr/bin/env bash
# The Python module installed as the README says, with the README's own
# commands, in a copy of python/ (the source tree stays clean) beside a
# build/ folder as CMake's in the project root, with this build's library:
# pip into a venv, and a wheel into a second one. The README's example runs
# in both, on the module's own copy of the library.
#   check_python.sh BUILD_DIR SOURCE_DIR LIBRARY
set -euo pipefail
build=$1
source=$(realpath "$2")
export TALVECO_LIBRARY=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/readme_block.sh"

mkdir -p "$work/root/build"
cp -r "$source/python" "$work/root/python"
readme_block "$source/README.md" "From C and other languages" sh 1 >"$work/install.sh"
"$build/tools/make_acm_sample" "$work/speech.acm"
readme_block "$source/README.md" "From C and other languages" python 1 >"$work/example.py"

# run_example VENV: the README's example with the installed module alone.
run_example() {
    local said
    said=$(cd "$work" && env -u TALVECO_LIBRARY "$1/bin/python" -I example.py)
    [[ "$said" == *"bits/sample, SNR"* ]] || { echo "the example said: $said"; exit 1; }
    [ -s "$work/copy.acm" ] && rm "$work/copy.acm"
    (cd "$work" && env -u TALVECO_LIBRARY "$1/bin/python" -I -c \
        'import talveco, os; assert os.path.dirname(talveco._library.lib._name) == os.path.dirname(talveco.__file__)')
}

(cd "$work/root" && bash -euo pipefail "$work/install.sh" >/dev/null)
run_example "$work/root/.venv"

wheel=$(ls "$work"/root/python/dist/talveco-*.whl)
[[ "$(/usr/bin/python3 -m zipfile -l "$wheel")" == *talveco/libtalveco.so.1* ]] ||
    { echo "no library in $wheel"; exit 1; }
/usr/bin/python3 -m venv --system-site-packages "$work/wheel-venv"
"$work/wheel-venv/bin/pip" install -q --no-index "$wheel"
run_example "$work/wheel-venv"
echo "python: pip install and $(basename "$wheel") both run the README example"
