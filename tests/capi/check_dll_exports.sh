#!/usr/bin/env bash
# talveco.dll exports exactly the functions the Debian symbols file lists,
# as libtalveco.so.1 does: the C interface, and nothing of the C++ inside.
#   check_dll_exports.sh DLL SYMBOLS_FILE
set -euo pipefail
exported=$(x86_64-w64-mingw32-objdump -p "$1" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\[/ && NR > 1 { print $NF }' | sort)
listed=$(awk 'NR > 1 { sub(/@.*/, "", $1); print $1 }' "$2" | sort)
if [ -z "$exported" ] || [ "$exported" != "$listed" ]; then
    diff <(echo "$listed") <(echo "$exported") | sed 's/^/listed < > exported: /'
    exit 1
fi
echo "$(echo "$exported" | wc -l) functions exported, all talveco_*, as listed"
