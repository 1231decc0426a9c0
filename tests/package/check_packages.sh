#!/usr/bin/env bash
# The packages of scripts/package, unpacked into temporary folders and run from there,
# without installing anything:
#   1. the Debian package: its veltrane-cli prints the package's version, a 2 s loop-back
#      run loses no first packet, both services are in it, and lintian reports no error (its
#      warnings are shown);
#   2. the Windows zip: its README.txt is the desktop user's, both programs import only
#      Windows' own DLLs, and under Wine the dialog opens and closes again, and
#      veltrane-cli.exe's 2 s loop-back run loses nothing.
#
# usage: tests/package/check_packages.sh PACKAGE_DIR WINDOWS_BUILD_DIR
# WINDOWS_BUILD_DIR provides the Wine prefix and the dialog driver (veltrane_drive.exe).
# Exit code 0 when every check passes, 1 when one fails, 2 on a usage error.
set -uo pipefail
source "$(dirname "$0")/../../scripts/lib/common.sh"

if [ $# -ne 2 ]; then
    echo "usage: $0 PACKAGE_DIR WINDOWS_BUILD_DIR" >&2
    exit 2
fi
packages=$(realpath "$1")
windows=$(realpath "$2")
drive=$windows/tests/e2e/veltrane_drive.exe
shopt -s nullglob
debs=("$packages"/veltrane-cli_*.deb)
zips=("$packages"/Veltrane-*-win64.zip)
if [ ${#debs[@]} -ne 1 ] || [ ${#zips[@]} -ne 1 ] || [ ! -f "$drive" ]; then
    echo "need one .deb and one zip in $packages (scripts/package) and $drive" >&2
    exit 2
fi
deb=${debs[0]}
zip=${zips[0]}

work=$(mktemp -d)
failures=0
cleanup() {
    stop_session
    rm -rf "$work"
}
trap cleanup EXIT

check() {
    local name=$1
    shift
    if "$@"; then
        echo "passed: $name"
    else
        echo "FAILED: $name"
        failures=$((failures + 1))
    fi
}

# A 2 s loop-back run of the given program, on PORT, ends with a final report of analysed
# groups and no first packet lost: PORT PROGRAM... Ten packets per period: under Wine a send
# and a receive cost about 75 us each, and the default hundred on a fixed pace overrun it.
loopback_loses_nothing() {
    local port=$1
    shift
    "$@" loopback --port "$port" --source-port 0 --count 10 --duration 2 --json | tr -d '\r' >"$work/run.jsonl"
    grep '"source"' "$work/run.jsonl" | tail -1 | python3 -c '
import json, sys
report = json.loads(sys.stdin.read())
receiver = report["receiver"]
sys.exit(0 if report["final"] and receiver["analysedCount"] > 0 and receiver["lossPercent"] == 0 else 1)' ||
        { cat "$work/run.jsonl"; return 1; }
}

version_matches() {
    local printed
    printed=$("$@" --version | tr -d '\r')
    [ "$printed" = "veltrane-cli $(dpkg-deb -f "$deb" Version)" ] || { echo "printed: $printed"; return 1; }
}

# Both services: the receiving far end and the sender.
units_installed() {
    local unit
    for unit in veltrane-cli-receive.service veltrane-cli-send.service; do
        [ -f "$work/deb/usr/lib/systemd/system/$unit" ] || { echo "the package has no $unit"; return 1; }
    done
}

lintian_passes() {
    lintian --fail-on error "$deb"
}

# Only Windows' own libraries: the MinGW runtime is linked in, so the folder is all it needs.
imports_only_system_dlls() {
    local foreign
    foreign=$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p' |
        grep -viE '^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|advapi32|ole32|ws2_32|msvcrt)\.dll$')
    [ -z "$foreign" ] || { echo "$1 imports $foreign"; return 1; }
}

# The zip's README is a desktop user's: it tells of the firewall's question and the unsigned
# programs, and nothing of building.
readme_is_for_the_desktop() {
    local readme=$1/README.txt
    grep -q "Windows Firewall" "$readme" && grep -q "not signed" "$readme" && ! grep -q "scripts/" "$readme" ||
        { echo "$readme is not the desktop user's README"; return 1; }
}

dialog_opens_and_closes() {
    wine "$1" >/dev/null 2>&1 &
    local pid=$!
    wine "$drive" wait 60 errors close 20 || { kill "$pid" 2>/dev/null; return 1; }
    wait "$pid"
}

echo "== $(basename "$deb")"
dpkg-deb -x "$deb" "$work/deb" || exit 1
cli=$work/deb/usr/bin/veltrane-cli
check "veltrane-cli --version" version_matches "$cli"
check "veltrane-cli loopback, no loss" loopback_loses_nothing 23761 "$cli"
check "the services are in the package" units_installed
check "lintian, no error" lintian_passes

echo "== $(basename "$zip")"
unzip -q "$zip" -d "$work/zip" || exit 1
folder=$(echo "$work"/zip/*/)
check "README.txt is the desktop user's" readme_is_for_the_desktop "$folder"
for program in Veltrane.exe veltrane-cli.exe; do
    check "$program imports only system DLLs" imports_only_system_dlls "$folder/$program"
done
start_xvfb_if_headless || exit 1
prepare_wine "$windows"
check "Veltrane.exe opens its dialog" dialog_opens_and_closes "$folder/Veltrane.exe"
check "veltrane-cli.exe --version" version_matches wine "$folder/veltrane-cli.exe"
check "veltrane-cli.exe loopback, no loss" loopback_loses_nothing 23762 wine "$folder/veltrane-cli.exe"

[ "$failures" -eq 0 ]
