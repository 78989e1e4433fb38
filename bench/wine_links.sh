#!/usr/bin/env bash
# The download road of the Windows build on links that misbehave, under Wine: a transfer the
# server cuts once (resumed in the same start) against one served whole, and a host name whose
# first address (::1) never answers connection attempts against 127.0.0.1 itself. Prints the
# road's time (the road's choice to "transfer complete", from gorlaunch.log) and asserts nothing.
# Needs the win32 preset built; builds a launcher that fetches from slow-first.invalid:18473
# into build/bench-links-tree. Runs as root in network and mount namespaces of its own.
#   bench/wine_links.sh     (GOR_BENCH_RUNS=3 runs of each)
set -euo pipefail

# Port 18473 and the silent ::1 are ours alone: the whole run gets a network of its own.
if [[ -z "${GOR_BENCH_OWN_NETWORK:-}" ]]; then
    exec env GOR_BENCH_OWN_NETWORK=1 unshare -n bash "$(readlink -f "$0")" "$@"
fi
ip link set lo up

cd "$(dirname "$0")/.."
root=$PWD

runs=${GOR_BENCH_RUNS:-3}
build=${GOR_BENCH_BUILD:-$root/build/win32}
exe=$build/src/app/gorlaunch.exe
standin=$build/tools/standin/gorupd_standin.exe
for f in "$exe" "$standin"; do
    [[ -f "$f" ]] || { echo "missing $f: build the win32 preset first" >&2; exit 1; }
done
port=18473   # the port both launchers fetch from
name=slow-first.invalid   # ::1, then 127.0.0.1, in tests/support/loopback_hosts

# The same launcher with a name for its update host.
named_build=$root/build/bench-links-tree
named_exe=$named_build/src/app/gorlaunch.exe
if [[ ! -f "$named_build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$named_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DGORLAUNCH_UPDATE_HOST="$name:$port" \
        -DGORLAUNCH_TESTS=OFF >/dev/null
fi
cmake --build "$named_build" -j2 --target gorlaunch >/dev/null

work=$root/build/bench-links
export WINEPREFIX=$work/wineprefix DISPLAY=${GOR_BENCH_DISPLAY:-:95} GOR_WINE_STATE=$work
fixture() { bash "$root/scripts/wine_fixture.sh" "$@"; }
mkdir -p "$work"

http_pid="" silent_pid="" server_pid=""
stop() { [[ -z "$1" ]] || { kill "$1" 2>/dev/null; wait "$1" 2>/dev/null; } || true; }
cleanup() {
    stop "$http_pid"; stop "$silent_pid"; stop "$server_pid"
    fixture cleanup >/dev/null
    rm -rf "$work/run" "$work/body" "$work"/*.out "$work/wine.log"
}
trap cleanup EXIT

calc() { awk "BEGIN { printf \"%.6f\", $* }"; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
wait_for() {
    local deadline=$((SECONDS + $1)); shift
    until "$@"; do ((SECONDS < deadline)) || return 1; sleep 0.2; done
}

fixture setup >/dev/null
cp "$standin" "$work/body"
# A wineserver started out here: Wine's sockets live in it, and a launcher in a private mount
# namespace (below) must find it rather than start one of its own there.
fixture run wineserver -f -p >/dev/null 2>&1 &
server_pid=$!
sleep 0.5

# hostile_server.py with SCENARIO (and its further arguments) on 127.0.0.1:18473, serving
# $served; a fresh one for each start (cut-once cuts only its first whole-body answer). The
# requests it received go to $work/requests.log.
served=$work/body
serve() {
    stop "$http_pid"
    rm -f "$work/requests.log"
    python3 tests/support/hostile_server.py --scenario "$1" --body-file "$served" \
        --port "$port" --log "$work/requests.log" "${@:2}" >"$work/http.out" 2>&1 &
    http_pid=$!
    wait_for 30 grep -qs listening "$work/http.out" || { cat "$work/http.out" >&2; exit 1; }
}

# Runs gorlaunch.exe ($1) once in an empty folder, the rest of the arguments before wine, and
# sets from its gorlaunch.log: road (seconds from "road: download" to "transfer complete"),
# total (from the log's first line to its exit code line), resumed (its "resume N of 5"),
# each "none" when missing; and code, and got (whether the stand-in it started ran and
# gorupd.exe is the served file).
launch() {
    local launcher=$1; shift
    local folder=$work/run
    rm -rf "$folder"; mkdir -p "$folder"
    cp "$launcher" "$folder/gorlaunch.exe"
    code=0
    (cd "$work" && exec timeout 300 "$@" bash "$root/scripts/wine_fixture.sh" run \
        wine "$folder/gorlaunch.exe") >"$work/wine.log" 2>&1 || code=$?
    local log=$folder/gorlaunch.log
    [[ -f "$log" ]] || log=/dev/null
    # Each start's log is kept for a look afterwards: build/bench-links/logs/start-N.log.
    mkdir -p "$work/logs" && cp "$log" "$work/logs/start-$((++starts)).log"
    read -r road total < <(tr -d '\r' <"$log" | awk '
        function at() { return substr($0, 2, index($0, "]") - 2) + 0 }
        / road: download/ && start == "" { start = at() }
        / transfer complete/ { end = at() }
        /\] exit code / { exit_at = at() }
        END { printf "%s %s\n", start == "" || end == "" ? "none" : sprintf("%.3f", end - start),
                                exit_at == "" ? "none" : exit_at }')
    resumed=$(grep -o 'resume [0-9]* of 5' "$log" | head -1) || resumed="resume none"
    got="updater NOT started"
    if wait_for 20 test -s "$folder/standin.log"; then
        cmp -s "$folder/gorupd.exe" "$served" && got="updater started" \
            || got="updater started, but DIFFERENT"
    fi
}
seconds() { [[ "$1" == none ]] && echo none || printf '%.2f s' "$1"; }
figures() {
    printf 'road %s (log to exit %s), exit %s, %s' "$(seconds "$road")" "$(seconds "$total")" \
        "$code" "$got"
}
# Appends this run's road and log-to-exit time to the arrays named $1 and $2.
keep() {
    [[ "$road" == none || "$total" == none ]] && return
    local -n roads=$1 totals=$2
    roads+=("$road") totals+=("$total")
}
# compare NAME ROADS TOTALS NAME ROADS TOTALS: the medians, and how much longer the first road.
compare() {
    local -n ra=$2 ta=$3 rb=$5 tb=$6
    ((${#ra[@]} && ${#rb[@]})) || { echo "median: $1 or $4 had no road"; return; }
    local a b
    a=$(median "${ra[@]}") b=$(median "${rb[@]}")
    printf 'median: %s road %.2f s, %s road %.2f s: %.2f s more (log to exit %.2f s vs %.2f s)\n' \
        "$1" "$a" "$4" "$b" "$(calc "$a - $b")" "$(median "${ta[@]}")" "$(median "${tb[@]}")"
}

echo "gorlaunch links benchmark: gorlaunch.exe under Wine, updater $(stat -c %s "$work/body")" \
     "bytes on 127.0.0.1:$port, $(nproc) cores, $runs runs"

# a) A link that drops once, against one that holds.
starts=0
cut=() cut_t=() whole=() whole_t=()
for ((run = 1; run <= runs; run++)); do
    serve cut-once
    launch "$exe"
    echo "run $run: cut once: $(figures), $resumed;"
    keep cut cut_t
    serve ok
    launch "$exe"
    echo "       served whole: $(figures)"
    keep whole whole_t
done

# b) A name whose ::1 swallows connection attempts (a listener on [::1]:18473 with a full
# backlog drops every SYN) and whose 127.0.0.1 serves, against 127.0.0.1 given as such. Only
# the named launcher sees tests/support/loopback_hosts as /etc/hosts.
# swallow ADDRESS: a listener on ADDRESS:18473 with a full backlog, which drops every SYN.
swallow() {
    python3 - "$1" "$port" >"$work/silent.out" 2>&1 <<'PY' &
import signal, socket, sys
address, port = sys.argv[1], int(sys.argv[2])
family = socket.AF_INET6 if ":" in address else socket.AF_INET
listener = socket.socket(family)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)  # past the server's TIME_WAITs
listener.bind((address, port))
listener.listen(0)
fillers = [socket.socket(family) for _ in range(2)]
for filler in fillers:
    filler.setblocking(False)
    filler.connect_ex((address, port))
print("silent", flush=True)
signal.pause()
PY
    silent_pid=$!
    wait_for 30 grep -qs silent "$work/silent.out" || { cat "$work/silent.out" >&2; exit 1; }
}
swallow ::1
if timeout 2 bash -c "exec 3<>/dev/tcp/::1/$port" 2>/dev/null; then
    echo "warning: [::1]:$port answered a connection attempt"
fi
hosts=$root/tests/support/loopback_hosts
named=() named_t=() direct=() direct_t=()
serve ok
for ((run = 1; run <= runs; run++)); do
    launch "$named_exe" unshare -m sh -c 'mount --bind "$0" /etc/hosts && exec "$@"' "$hosts"
    echo "run $run: $name: $(figures);"
    keep named named_t
    launch "$exe"
    echo "       127.0.0.1: $(figures)"
    keep direct direct_t
done

compare "cut once" cut cut_t "served whole" whole whole_t
compare "$name" named named_t 127.0.0.1 direct direct_t

# c) Retries, one start each: a cut at 90 % of a body that names no validator, then the whole
# again at 20 KiB/s (the stand-in with 1.2 MiB appended: over a minute); a resume answered from
# another file of the same length under the old ETag; a host busy twice (Retry-After: 2 s) and
# one busy for an hour; 127.0.0.1 swallowing every connection attempt. The busy hosts' lines
# give the times (from the log's start) at which each probe was answered.
stop "$silent_pid"; silent_pid=""
asked() { tr -d '\r' <"$work/run/gorlaunch.log" | awk '/ probe: GET/ { printf " %s", substr($0, 2, index($0, "]") - 2) }'; }
starts=0
served=$work/big
head -c $((1200 * 1024)) /dev/zero | cat "$work/body" - >"$served"
serve cut-late-slow --delay 0.025
launch "$exe"
echo "cut at 90 %, then 20 KiB/s: $(figures)"
served=$work/body
serve splice
launch "$exe"
echo "resume from another file: $(figures), $(grep -c 'GET ' "$work/requests.log") requests"
for busy in busy-twice busy-always; do
    serve "$busy"
    launch "$exe"
    echo "$busy: $(figures), $(grep -c 'GET ' "$work/requests.log") requests, answered at$(asked)"
done
stop "$http_pid"; http_pid=""
swallow 127.0.0.1
launch "$exe"
echo "every address swallows: $(figures)"
