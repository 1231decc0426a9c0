#!/usr/bin/env bash
# Writes veltrane-cli's man page, gzipped as Debian wants it, from the program's own texts:
# help2man reads --help and --version, and each command's --help becomes a subsection.
# usage: make_manpage.sh PROGRAM STATIC_SECTIONS.h2m OUTPUT.1.gz
set -euo pipefail
program=$1
sections=$2
output=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

{
    echo "[COMMANDS]"
    for command in receive send loopback reflect; do
        echo ".SS $command"
        echo ".nf"
        # Backslashes and a leading dot or quote would be read as roff requests.
        "$program" "$command" --help | sed -e 's/\\/\\e/g' -e "s/^[.']/\\\\\\&&/"
        echo ".fi"
    done
    cat "$sections"
} >"$work/sections.h2m"
help2man --no-info --section 1 --name "measure jitter, delay and loss of a UDP/IP path" \
    --include "$work/sections.h2m" --output "$work/veltrane-cli.1" "$program"
gzip -9n <"$work/veltrane-cli.1" >"$output"
