# Shared by scripts/run and scripts/test: packages, the virtual X server and the Wine prefix.
# shellcheck shell=bash

VELTRANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
VELTRANE_PACKAGES=(
    cmake make g++ pkg-config python3
    libgtest-dev googletest libbenchmark-dev
    g++-mingw-w64-x86-64-posix
    wine wine64
    xvfb xauth x11-utils imagemagick
    libcli11-dev nlohmann-json3-dev libcpp-httplib-dev libssl-dev
    prometheus systemd
    clang-format
    dpkg-dev file help2man lintian unzip
)

log() { printf '== %s\n' "$*" >&2; }

# Installs the Debian packages that are missing; quiet and quick when all are there.
install_deps() {
    local missing=() pkg
    for pkg in "${VELTRANE_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq </dev/null >/dev/null
    # The prometheus package would start its server on install; the tests start their own.
    # A policy-rc.d that refuses every start (made here only when there is none) prevents it.
    local policy=/usr/sbin/policy-rc.d made_policy=0 status=0
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null && $sudo chmod 755 "$policy" && made_policy=1
    fi
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null || status=$?
    [ "$made_policy" -eq 1 ] && $sudo rm -f "$policy"
    return $status
}

# Starts our own Xvfb when there is no display, and stops it (by its process id) on exit.
VELTRANE_XVFB_PID=""
VELTRANE_HEADLESS=0
start_xvfb_if_headless() {
    [ -n "${DISPLAY:-}" ] && return 0
    VELTRANE_HEADLESS=1
    local n
    for n in $(seq 91 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    VELTRANE_XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        kill -0 "$VELTRANE_XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    log "Xvfb did not start on :$n"
    return 1
}

# Ends Wine's server and our Xvfb; safe to call more than once.
stop_session() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k >/dev/null 2>&1 || true
    fi
    if [ -n "$VELTRANE_XVFB_PID" ]; then
        kill "$VELTRANE_XVFB_PID" 2>/dev/null || true
        wait "$VELTRANE_XVFB_PID" 2>/dev/null || true
        VELTRANE_XVFB_PID=""
    fi
}

# Creates (once) the Wine prefix inside the given build tree and exports Wine's settings.
# Without a window manager Wine waits 2 s whenever a window is hidden, unless its X11
# driver is told not to manage windows; a real desktop keeps the default.
prepare_wine() {
    local build=$1
    export WINEPREFIX="$build/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        log "creating the Wine prefix in $WINEPREFIX"
        mkdir -p "$build"
        wineboot -i >/dev/null 2>&1 </dev/null || true
        wineserver -w
    fi
    local mode=desktop
    [ "$VELTRANE_HEADLESS" = 1 ] && mode=headless
    if [ "$(cat "$WINEPREFIX/.veltrane-mode" 2>/dev/null)" != "$mode" ]; then
        if [ "$mode" = headless ]; then
            wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
        else
            wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >/dev/null 2>&1 </dev/null || true
        fi
        wineserver -w
        echo "$mode" >"$WINEPREFIX/.veltrane-mode"
    fi
}

# Configures and builds one CMake preset.
build_preset() {
    local preset=$1
    log "building preset $preset"
    (cd "$VELTRANE_ROOT" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$(nproc)")
}

# Lists the committed C++ files that the committed .clang-format would change; fails if any.
check_format() {
    local file bad=0
    while IFS= read -r file; do
        [ -f "$file" ] || continue
        if ! clang-format --dry-run -Werror "$file" >/dev/null 2>&1; then
            log "not formatted: $file (clang-format -i $file)"
            bad=1
        fi
    done < <(cd "$VELTRANE_ROOT" && git ls-files -- '*.cpp' '*.h')
    return "$bad"
}
