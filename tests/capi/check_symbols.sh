#!/usr/bin/env bash
# The shared library exports exactly the functions its Debian symbols file
# lists: the C interface, and nothing of the C++ layers inside it.
#   check_symbols.sh LIBRARY SYMBOLS_FILE
set -euo pipefail
exported=$(nm -D --defined-only "$1" | awk '{ print $3 }' | sort)
listed=$(awk 'NR > 1 { sub(/@.*/, "", $1); print $1 }' "$2" | sort)
if [ "$exported" != "$listed" ]; then
    diff <(echo "$listed") <(echo "$exported") | sed 's/^/listed < > exported: /'
    exit 1
fi
echo "$(echo "$exported" | wc -l) symbols, all talveco_*, as listed"
