#!/usr/bin/env bash
# Debian's Prometheus scrapes a running `veltrane-cli receive` on loopback while a sender runs;
# the series read back through Prometheus' query API must match the receiver's own reports:
# the packet counters those of its last report before the stop (and of its final one), the
# jitter histogram's count the jitter samples (every packet but each of the 10 calls' first of a run).
# While the sender runs, every query of the Grafana dashboard example returns data, and a
# datagram too long for the receiver is counted as truncated.
# Usage: prometheus_e2e.sh PATH/TO/veltrane-cli
set -uo pipefail
cli=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
dashboard=$here/../../packaging/examples/veltrane-dashboard.json
work=$(mktemp -d)
pids=()
# Every process started here is stopped by its id, whatever way the script ends.
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*"
    for f in receive.jsonl receive.err prometheus.log dashboard.out; do
        [ -s "$work/$f" ] && { echo "--- $f"; tail -n 20 "$work/$f"; }
    done
    exit 1
}

# A port that was free a moment ago (the system picked it).
free_port() {
    python3 -c 'import socket,sys
s = socket.socket(socket.AF_INET, getattr(socket, sys.argv[1])); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' "$1"
}

# One value of an instant query (the first series), or nothing; $2 names a JSON path of the
# series' labels to print instead.
query() {
    python3 - "$prometheus_port" "$1" "${2:-}" <<'PY'
import json, sys, urllib.parse, urllib.request
port, expr, label = sys.argv[1:]
url = f"http://127.0.0.1:{port}/api/v1/query?" + urllib.parse.urlencode({"query": expr})
try:
    result = json.load(urllib.request.urlopen(url, timeout=5))["data"]["result"]
except Exception:
    sys.exit(0)
if result:
    print(result[0]["metric"].get(label, "") if label else result[0]["value"][1])
PY
}

# A field of the receiver's last JSON line for a session ($1: final or last-open).
session_field() {
    python3 - "$work/receive.jsonl" "$1" "$2" <<'PY'
import json, sys
path, which, field = sys.argv[1:]
lines = [json.loads(l) for l in open(path) if l.strip()]
lines = [l for l in lines if "source" in l and l["final"] == (which == "final")]
if not lines:
    sys.exit(0)
value = lines[-1]
for key in field.split("."):
    value = value[key]
print(value)
PY
}

# Waits up to $1 seconds for a command to succeed.
wait_for() {
    local seconds=$1 i
    shift
    for i in $(seq 1 $((seconds * 5))); do
        "$@" && return 0
        sleep 0.2
    done
    return 1
}

udp_port=$(free_port SOCK_DGRAM)
metrics_port=$(free_port SOCK_STREAM)
prometheus_port=$(free_port SOCK_STREAM)
[ -n "$udp_port" ] && [ -n "$metrics_port" ] && [ -n "$prometheus_port" ] || fail "no free ports"

"$cli" receive --bind 127.0.0.1 --port "$udp_port" --metrics "127.0.0.1:$metrics_port" --label site=e2e \
    --session-timeout 60 --interval 500 --json --output "$work/receive.jsonl" 2>"$work/receive.err" &
receiver=$!
pids+=("$receiver")

cat >"$work/prometheus.yml" <<YML
global:
  scrape_interval: 1s
  scrape_timeout: 1s
scrape_configs:
  - job_name: veltrane
    static_configs:
      - targets: ['127.0.0.1:$metrics_port']
YML
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
    --web.listen-address="127.0.0.1:$prometheus_port" >"$work/prometheus.log" 2>&1 &
pids+=("$!")

target_up() { [ "$(query 'up{job="veltrane"}')" = 1 ]; }
wait_for 30 target_up || fail "Prometheus did not scrape the receiver"

# Ten packets every 10 ms until the dashboard's queries have been answered (at most a minute),
# then nothing more.
"$cli" send --to 127.0.0.1 --port "$udp_port" --source-port 0 --count 10 --duration 60 --json \
    --output "$work/send.jsonl" 2>"$work/send.err" &
sender=$!
pids+=("$sender")

# One datagram longer than any receive buffer, from a source of its own.
python3 -c 'import socket,sys
socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(bytes(9000), ("127.0.0.1", int(sys.argv[1])))' "$udp_port"
truncated_counted() { [ "$(query veltrane_truncated_datagrams_total)" = 1 ]; }
wait_for 15 truncated_counted || fail "veltrane_truncated_datagrams_total is '$(query veltrane_truncated_datagrams_total)', not 1"

# The interval figures exist only while packets come in: the dashboard is asked meanwhile.
dashboard_answers() { python3 "$here/dashboard_queries.py" "$dashboard" "http://127.0.0.1:$prometheus_port" >"$work/dashboard.out"; }
deadline=$((SECONDS + 20))  # by the clock: one round of the queries takes a while itself
until dashboard_answers; do
    [ "$SECONDS" -lt "$deadline" ] || fail "the dashboard's queries without data: $(grep -v '^ok' "$work/dashboard.out")"
    sleep 1
done
kill -0 "$sender" 2>/dev/null || fail "the sender ended before the dashboard was answered"
echo "ok: every query of $(basename "$dashboard") returns data ($(grep -c '^ok' "$work/dashboard.out") queries and variables)"
# Killed, as a sender that crashed or lost its path: one stopped on purpose would end its
# session, and its series with it, at the next report.
kill -KILL "$sender"
wait "$sender" 2>/dev/null
[ $? -eq 137 ] || fail "the sender failed: $(cat "$work/send.err")"

# The receiver's reports after the last packet, then a scrape of the last of them.
sleep 1.5
open_received=$(session_field last-open packets.received)
[ -n "$open_received" ] && [ "$open_received" -gt 0 ] || fail "the receiver reported no packets"
scraped_latest() { [ "$(query veltrane_test_packets_received_total)" = "$(session_field last-open packets.received)" ]; }
wait_for 20 scraped_latest || fail "the scraped packet count never reached the receiver's"
sleep 2  # one more scrape: the series and the report stay as they are

received=$(query veltrane_test_packets_received_total)
lost=$(query veltrane_test_packets_lost_total)
first_lost=$(query veltrane_first_packets_lost_total)
bytes=$(query veltrane_received_bytes_total)
histogram_count=$(query veltrane_jitter_seconds_count)
site=$(query veltrane_test_packets_received_total site)
source=$(query veltrane_test_packets_received_total source)
open_lost=$(session_field last-open packets.lost)
open_first_lost=$(session_field last-open firstPacketsLost)
open_bytes=$(session_field last-open receiver.bytesReceived)

kill -INT "$receiver"
wait_for 10 bash -c "! kill -0 $receiver 2>/dev/null" || fail "the receiver did not stop"

final_received=$(session_field final packets.received)
final_lost=$(session_field final packets.lost)
final_first_lost=$(session_field final firstPacketsLost)
final_bytes=$(session_field final receiver.bytesReceived)
jitter_count=$(session_field final jitter.count)
runs=$(session_field final run)
final_source=$(session_field final source)

echo "scraped: received $received, lost $lost, first packets lost $first_lost, bytes $bytes, jitter samples $histogram_count"
echo "final:   received $final_received, lost $final_lost, first packets lost $final_first_lost, bytes $final_bytes," \
    "jitter samples $jitter_count (runs $runs)"
[ "$site" = e2e ] || fail "label site is '$site'"
[ "$source" = "$final_source" ] || fail "source '$source', the receiver says '$final_source'"
[ "$received" = "$open_received" ] && [ "$received" = "$final_received" ] ||
    fail "received $received, the receiver's last report $open_received, its final $final_received"
[ "$bytes" = "$open_bytes" ] && [ "$bytes" = "$final_bytes" ] ||
    fail "bytes $bytes, the receiver's last report $open_bytes, its final $final_bytes"
# A packet counts as lost once its group is 64 behind: the final report may add the last groups'.
[ "$lost" = "$open_lost" ] && [ "$lost" -le "$final_lost" ] ||
    fail "lost $lost, the receiver's last report $open_lost, its final $final_lost"
[ "$first_lost" = "$open_first_lost" ] && [ "$first_lost" -le "$final_first_lost" ] ||
    fail "first packets lost $first_lost, the receiver's last report $open_first_lost, its final $final_first_lost"
[ "$histogram_count" = "$jitter_count" ] || fail "histogram count $histogram_count, jitter samples $jitter_count"
[ "$jitter_count" -eq $((final_received - 10 * runs)) ] ||
    fail "jitter samples $jitter_count, received $final_received, runs $runs"
echo "ok: Prometheus' series match the receiver's reports"
