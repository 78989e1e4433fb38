#!/usr/bin/env bash
# The one place that sets up what programs under Wine run in: an Xvfb display and a Wine
# prefix. Used by the tests under Wine (ctest's "wine" fixture, cmake/wine.cmake), by
# scripts/demo and by the benchmarks.
#   setup        starts Xvfb on $DISPLAY unless one is already there, paints the root window
#                a known solid colour (screenshots test the window's shape against it) and
#                initialises $WINEPREFIX once, at 96 dpi;
#   cleanup      stops Wine and the Xvfb that setup started;
#   dpi N        sets the display resolution the prefix's next programs see;
#   env          prints the Wine environment (NAME=value lines) for callers in other languages;
#   run CMD...   runs CMD in the Wine environment.
# Expects DISPLAY, WINEPREFIX and, for setup and cleanup, GOR_WINE_STATE: a folder for the
# Xvfb pid, the logs and the tests' work. GOR_WINE_SHARD=N (scripts/test runs the tests under
# Wine in shards at once, each in a network namespace of its own) moves all three to shard N's
# own: the display number minus N (the ones above are the demo's and the benchmarks'),
# "<prefix>-N" and "<state>-N"; shard 0 keeps the build's.
set -euo pipefail

: "${DISPLAY:?}" "${WINEPREFIX:?}"
if ((${GOR_WINE_SHARD:-0})); then
    export DISPLAY=:$((${DISPLAY#:} - GOR_WINE_SHARD)) WINEPREFIX=$WINEPREFIX-$GOR_WINE_SHARD
    [[ -z "${GOR_WINE_STATE:-}" ]] || export GOR_WINE_STATE=$GOR_WINE_STATE-$GOR_WINE_SHARD
fi
# Moved once: what this runs (the dpi command of a test, say) is already in the shard.
unset GOR_WINE_SHARD
# What every program under Wine sees besides its display and prefix: a Wine that asks nothing
# at its first start (no Mono, no Gecko) and prints none of its own diagnostics.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The colour of the screen where no window is; the tests read it from here to check the
# window's outline in screenshots against it.
export GOR_E2E_BACKDROP="${GOR_E2E_BACKDROP:-#3050a0}"

display_up() { xdpyinfo >/dev/null 2>&1; }

# Waits up to $1 seconds (polling every 0.2 s) for the command that follows to succeed.
wait_for() {
    local limit=$1; shift
    local deadline=$((SECONDS + limit))
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}

# Wine gives every program of a prefix one resolution (for all monitors), LogPixels here; it
# takes precedence over the older value under HKLM's Hardware Profiles. Read at program start.
set_dpi() {
    wineserver -w
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
        >/dev/null 2>&1 </dev/null
    wineserver -w
}

setup() {
    : "${GOR_WINE_STATE:?}"
    local pidfile="$GOR_WINE_STATE/xvfb.pid"
    mkdir -p "$GOR_WINE_STATE"
    if ! display_up; then
        # setsid and a log file: the server must outlive this script and must not hold
        # ctest's output pipe open. -noreset: without it the server forgets the backdrop
        # whenever its last client (Wine between two tests) goes away.
        setsid Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp -noreset \
            >"$GOR_WINE_STATE/xvfb.log" 2>&1 </dev/null &
        echo $! >"$pidfile"
        wait_for 30 display_up || { echo "Xvfb on $DISPLAY did not come up" >&2; cat "$GOR_WINE_STATE/xvfb.log" >&2; exit 1; }
        echo "started Xvfb $DISPLAY (pid $(cat "$pidfile"))"
    else
        echo "using the X server already on $DISPLAY"
    fi
    if command -v xsetroot >/dev/null; then
        xsetroot -solid "$GOR_E2E_BACKDROP"
    else
        echo "xsetroot missing (x11-xserver-utils): shape checks will find no known backdrop" >&2
    fi

    # The first boot of a prefix takes 15-30 s; later runs reuse it.
    if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
        echo "initialising Wine prefix $WINEPREFIX (once, about 20 s)"
        wineboot -i >"$GOR_WINE_STATE/wineboot.log" 2>&1 </dev/null
    fi
    # Let the boot's wineserver finish so each program starts from a quiet prefix.
    timeout 120 wineserver -w
    # Every run starts at 100 % scaling, even after a scaling test that was cut short.
    set_dpi 96
    [[ -f "$WINEPREFIX/system.reg" ]] || { echo "Wine prefix was not created" >&2; cat "$GOR_WINE_STATE/wineboot.log" >&2; exit 1; }
    echo "Wine ready: $(wine --version)"
}

cleanup() {
    : "${GOR_WINE_STATE:?}"
    local pidfile="$GOR_WINE_STATE/xvfb.pid"
    wineserver -k >/dev/null 2>&1 || true
    if [[ -f "$pidfile" ]]; then
        local pid
        pid=$(cat "$pidfile")
        # Only the server setup started, and only if that pid is still an Xvfb.
        if [[ "$(ps -o comm= -p "$pid" 2>/dev/null)" == Xvfb ]]; then
            kill "$pid"
            echo "stopped Xvfb $DISPLAY (pid $pid)"
        fi
        rm -f "$pidfile"
    fi
}

command=${1:-}
(($#)) && shift
case "$command" in
    setup) setup ;;
    cleanup) cleanup ;;
    dpi) [[ "${1:-}" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 dpi N" >&2; exit 2; }; set_dpi "$1" ;;
    env) printf '%s\n' "DISPLAY=$DISPLAY" "WINEPREFIX=$WINEPREFIX" "WINEDEBUG=$WINEDEBUG" \
             "WINEDLLOVERRIDES=$WINEDLLOVERRIDES" ;;
    run) (($#)) || { echo "usage: $0 run COMMAND..." >&2; exit 2; }; exec "$@" ;;
    *) echo "usage: $0 setup|cleanup|dpi N|env|run COMMAND..." >&2; exit 2 ;;
esac
