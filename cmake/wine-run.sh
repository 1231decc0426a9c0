#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's quiet settings. The prefix
# lives in the build tree (scripts/lib/common.sh creates it); DISPLAY comes from the caller.
set -euo pipefail
exe=$1; shift
build=${VELTRANE_BUILD_DIR:-$(cd "$(dirname "$exe")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)}
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$exe" "$@"
