#!/bin/bash
# The layer check refuses an include against the layers' direction: the sessions may not use
# the front end, nor the engine the sessions. Each case is a tiny tree of its own.
set -u
check="$(dirname "$0")/../../scripts/lib/check_layers.py"
tree="$(mktemp -d)"
trap 'rm -rf "$tree"' EXIT
failed=0

# expect <0|1> <folder/file> <included header>: the outcome for a tree of that one include.
expect() {
    rm -rf "$tree/src" && mkdir -p "$tree/src/$(dirname "$2")"
    printf '#include "%s"\n' "$3" >"$tree/src/$2"
    python3 "$check" "$tree/src" >/dev/null
    local status=$?
    if [ "$status" -ne "$1" ]; then
        echo "check_layers: $2 including $3 gave $status, expected $1"
        failed=1
    fi
}

expect 0 sessions/session.h measure/receiver.h
expect 0 cli/run.h sessions/session.h
expect 1 sessions/session.h cli/report.h
expect 1 measure/receiver.h sessions/session.h
exit "$failed"
