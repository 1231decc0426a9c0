#!/usr/bin/env bash
# Wire compatibility of the two programs: the dialog program under Wine, driven by the
# end-to-end driver (veltrane_drive.exe), against the native veltrane-cli on 127.0.0.1.
#   1. the dialog's sender -> veltrane-cli receive: no loss, and the bytes are exactly the
#      load the dialog sends (groups of 100 packets of 192 bytes, the last perhaps cut short);
#   2. veltrane-cli send (its default, one G.711 call) -> the dialog's receiver: no loss, and only
#      whole 172-byte datagrams.
# Both use the dialog's default port 13014, as the driver does not type into the dialog.
#
# usage: tests/cli/wire_compat_e2e.sh NATIVE_BUILD_DIR WINDOWS_BUILD_DIR
# Exit code 0 when both directions pass, 1 when one fails, 2 on a usage error.
set -uo pipefail
source "$(dirname "$0")/../../scripts/lib/common.sh"

if [ $# -ne 2 ]; then
    echo "usage: $0 NATIVE_BUILD_DIR WINDOWS_BUILD_DIR" >&2
    exit 2
fi
cli=$(realpath "$1")/src/cli/veltrane-cli
windows=$(realpath "$2")
app=$windows/src/app/Veltrane.exe
drive=$windows/tests/e2e/veltrane_drive.exe
for f in "$cli" "$app" "$drive"; do
    [ -x "$f" ] || [ -f "$f" ] || { echo "missing: $f (build both presets first)" >&2; exit 2; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    stop_session
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# Prints one figure of the last JSON line of a veltrane-cli run that has SECTION ("sender", or
# "receiver" on a session's line: a session that timed out is followed by lines without one):
# SECTION KEY FILE.
figure() {
    python3 -c '
import json, sys
lines = [json.loads(line) for line in open(sys.argv[3]).read().splitlines()]
print([line for line in lines if sys.argv[1] in line][-1][sys.argv[1]][sys.argv[2]])' "$1" "$2" "$3"
}

# The port must be free, or the figures would mix with another program's traffic.
"$cli" receive --port 13014 --duration 0.1 >/dev/null 2>&1 || fail "port 13014 is in use"

start_xvfb_if_headless || exit 1
prepare_wine "$windows"

echo "== 1. dialog sender -> veltrane-cli receive"
"$cli" receive --port 13014 --json --interval 1000 >"$work/receive.jsonl" 2>"$work/receive.err" &
cli_pid=$!
pids+=("$cli_pid")
wine "$app" >/dev/null 2>&1 &
pids+=("$!")
# Enable the sender for three seconds; disabling it lets the current group finish.
wine "$drive" wait 60 click 1005 sleep 3000 click 1005 sleep 500 text 1017 errors close 20 ||
    fail "driving the dialog's sender"
kill -INT "$cli_pid"
wait "$cli_pid" || fail "veltrane-cli receive ended with $?: $(cat "$work/receive.err")"
grep '"source"' "$work/receive.jsonl" | tail -1
bytes=$(figure receiver bytesReceived "$work/receive.jsonl")
analysed=$(figure receiver analysedCount "$work/receive.jsonl")
loss=$(figure receiver lossPercent "$work/receive.jsonl")
[ "$bytes" -gt 0 ] || fail "nothing received"
[ "$loss" = "0.0" ] || fail "loss $loss %"
# Disabling the sender ends it within one send, so the last group may be cut short.
[ $((bytes % 192)) -eq 0 ] && [ "$bytes" -gt $(((analysed - 1) * 100 * 192)) ] &&
    [ "$bytes" -le $((analysed * 100 * 192)) ] ||
    fail "$bytes bytes received for $analysed groups of 100 packets of 192 bytes (the last one perhaps cut short)"
echo "passed: $analysed groups, $bytes bytes, no loss"

echo "== 2. veltrane-cli send -> dialog receiver"
wine "$app" >/dev/null 2>&1 &
pids+=("$!")
wine "$drive" wait 60 click 1006 sleep 500 || fail "enabling the dialog's receiver"
"$cli" send --port 13014 --duration 3 --json >"$work/send.jsonl" 2>"$work/send.err" ||
    fail "veltrane-cli send ended with $?: $(cat "$work/send.err")"
sent=$(figure sender sentPackets "$work/send.jsonl")
box=$(wine "$drive" sleep 1000 text 1009 errors close 20) || fail "reading the dialog's receiver: $box"
echo "$box"
received=$(sed -nE 's/^received ([0-9]+) MB ([0-9]+) bytes.*/\1 \2/p' <<<"$box")
[ -n "$received" ] || fail "no received line in the dialog's receiver box"
read -r mb rest <<<"$received"
dialog_bytes=$((mb * 1048576 + rest))
grep -qE '^lost packets: 0\.%' <<<"$box" || fail "the dialog shows loss"
[ "$dialog_bytes" -gt 0 ] || fail "the dialog received nothing"
# Besides the test packets, the three 24-byte copies of the sender's end of run: the dialog
# counts their bytes and nothing else.
end_bytes=$((3 * 24))
[ $(((dialog_bytes - end_bytes) % 172)) -eq 0 ] ||
    fail "$dialog_bytes bytes are not whole 172-byte datagrams and the end of run"
[ "$dialog_bytes" -le $((sent * 172 + end_bytes)) ] || fail "$dialog_bytes bytes received, but only $sent packets sent"
echo "passed: $sent packets sent, $dialog_bytes bytes received, no loss"
