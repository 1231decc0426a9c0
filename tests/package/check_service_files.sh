#!/usr/bin/env bash
# The files of the service, each checked by its own tool:
#   the systemd units by systemd-analyze verify (a copy whose ExecStart is the built program;
#   warnings count as failures), the Prometheus example by promtool check config and check
#   rules, and the alert rules' behaviour by promtool test rules on synthetic series.
# Usage: check_service_files.sh PATH/TO/veltrane-cli
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
program=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

check() {
    local name=$1
    shift
    if "$@" >"$work/out" 2>&1; then
        echo "ok: $name"
    else
        echo "FAILED: $name"
        cat "$work/out"
        failed=1
    fi
}

# UNIT: a file of packaging/systemd.
unit_verifies() {
    local unit=$work/$1
    sed "s|^ExecStart=/usr/bin/veltrane-cli |ExecStart=$program |" "$root/packaging/systemd/$1" >"$unit"
    grep -q "^ExecStart=$program " "$unit" || { echo "no ExecStart of /usr/bin/veltrane-cli"; return 1; }
    # Needs no running systemd; --man=no: the man page is not installed here.
    local said
    said=$(systemd-analyze verify --man=no "$unit" 2>&1) || { echo "$said"; return 1; }
    [ -z "$said" ] || { echo "$said"; return 1; }
}

for unit in veltrane-cli-receive.service veltrane-cli-send.service; do
    check "systemd-analyze verify $unit" unit_verifies "$unit"
done
check "promtool check config prometheus.yml" promtool check config "$root/packaging/examples/prometheus.yml"
check "promtool check rules veltrane-alerts.yml" promtool check rules "$root/packaging/examples/veltrane-alerts.yml"
cp "$root/packaging/examples/veltrane-alerts.yml" "$root/tests/package/veltrane-alerts.test.yml" "$work/"
check "promtool test rules veltrane-alerts.test.yml" promtool test rules "$work/veltrane-alerts.test.yml"
exit $failed
