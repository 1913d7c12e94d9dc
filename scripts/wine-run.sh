#!/bin/sh
# Runs a Windows program under wine: wine-run.sh PREFIX PROGRAM ARGS...
# PREFIX is a wine prefix private to one build folder, so that its wine
# server is never shared with other builds or users (and can be waited for
# with `wineserver -w` at the end of a run).
set -e
WINEPREFIX=$1
shift
export WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs when the prefix is first made.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
for wine in wine64 /usr/lib/wine/wine64 wine; do
    if command -v "$wine" >/dev/null 2>&1; then
        exec "$wine" "$@"
    fi
done
echo "wine-run.sh: no wine64 found" >&2
exit 127
