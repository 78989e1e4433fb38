#!/usr/bin/env bash
# Download benchmark of the Windows build: the same 256 MiB file fetched over loopback from
# nginx by gorlaunch.exe under Wine (the download road, into gorupd.tmp, then gorupd.exe)
# and by curl. Prints times, the ratio and the launcher's CPU time against its wall time.
# Asserts nothing. Needs the win32 preset built (scripts/test or cmake --build --preset win32).
#   bench/wine_download.sh [size in MiB, default 256]     (GOR_BENCH_RUNS=3 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

mib=${1:-256}
runs=${GOR_BENCH_RUNS:-3}
build=${GOR_BENCH_BUILD:-$root/build/win32}
exe=$build/src/app/gorlaunch.exe
standin=$build/tools/standin/gorupd_standin.exe
for f in "$exe" "$standin"; do
    [[ -f "$f" ]] || { echo "missing $f: build the win32 preset first" >&2; exit 1; }
done

work=$root/build/bench-wine
export WINEPREFIX=$work/wineprefix DISPLAY=${GOR_BENCH_DISPLAY:-:95} GOR_WINE_STATE=$work
# The display, the prefix and the Wine environment: the same helper the tests use.
fixture() { bash "$root/scripts/wine_fixture.sh" "$@"; }
port=18473   # the host:port the win32 preset's launcher fetches from
mkdir -p "$work"

nginx_pid="" server_pid=""
cleanup() {
    [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null
    [[ -n "$nginx_pid" ]] && kill "$nginx_pid" 2>/dev/null
    fixture cleanup >/dev/null
    rm -rf "$work/www" "$work/run" "$work/curl.out"
}
trap cleanup EXIT

now() { echo "$EPOCHREALTIME"; }
calc() { awk "BEGIN { printf \"%.6f\", $* }"; }
# Waits up to $1 seconds, looking every 0.2 s, for the command that follows to succeed.
wait_for() {
    local deadline=$((SECONDS + $1)); shift
    until "$@"; do ((SECONDS < deadline)) || return 1; sleep 0.2; done
}
# utime + stime of a process, in seconds.
cpu_of() { awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$1/stat"; }

fixture setup >/dev/null

# The served updater: the stand-in padded to the size; a PE with trailing bytes still runs.
mkdir -p "$work/www"
cp "$standin" "$work/www/gorupd.new"
truncate -s "${mib}M" "$work/www/gorupd.new"
bytes=$(stat -c %s "$work/www/gorupd.new")

python3 tests/support/servers.py nginx --root "$work/www" --port "$port" >"$work/nginx.out" 2>&1 &
nginx_pid=$!
wait_for 30 grep -q listening "$work/nginx.out" || { cat "$work/nginx.out" >&2; exit 1; }

# A wineserver of our own in the foreground, so its CPU time can be read from /proc.
bash "$root/scripts/wine_fixture.sh" run wineserver -f -p >/dev/null 2>&1 &  # exec: $! is wineserver
server_pid=$!
sleep 0.5

echo "gorlaunch download benchmark: $mib MiB from nginx on 127.0.0.1:$port, $(nproc) cores, $runs runs"
rate() { awk "BEGIN { printf \"%.0f\", $bytes / 1048576 / $1 }"; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

curl_times=() body_times=()
for ((run = 1; run <= runs; run++)); do
    # curl: the reference, writing to the same disk.
    t0=$(now)
    curl -sS -o "$work/curl.out" "http://127.0.0.1:$port/gorupd.new"
    curl_s=$(calc "$(now) - $t0")
    cmp -s "$work/curl.out" "$work/www/gorupd.new" || echo "warning: curl's copy differs"
    rm -f "$work/curl.out"

    folder=$work/run
    rm -rf "$folder"; mkdir -p "$folder"
    cp "$exe" "$folder/gorlaunch.exe"
    server_cpu0=$(cpu_of "$server_pid")
    t_start=$(now)
    (cd "$work" && exec /usr/bin/time -f '%e %U %S' -o "$work/time.out" \
    bash "$root/scripts/wine_fixture.sh" run wine "$folder/gorlaunch.exe") \
        >"$work/wine.log" 2>&1 &
    launcher=$!
    # The body goes into gorupd.tmp, which becomes gorupd.exe once complete: note both
    # moments (to within the 10 ms between looks).
    t_tmp="" t_exe=""
    while kill -0 "$launcher" 2>/dev/null; do
        [[ -z "$t_tmp" && -e "$folder/gorupd.tmp" ]] && t_tmp=$(now)
        [[ -z "$t_exe" && -e "$folder/gorupd.exe" ]] && { t_exe=$(now); : "${t_tmp:=$t_exe}"; }
        sleep 0.01
    done
    code=0; wait "$launcher" || code=$?
    server_cpu=$(calc "$(cpu_of "$server_pid") - $server_cpu0")
    read -r wall user sys <"$work/time.out"
    if [[ -z "$t_exe" ]]; then
        echo "run $run: the launcher did not download the file (exit code $code); see $work/wine.log"
        exit 1
    fi
    cmp -s "$folder/gorupd.exe" "$work/www/gorupd.new" && same=identical || same=DIFFERENT
    body=$(calc "$t_exe - $t_tmp")
    cpu=$(calc "$user + $sys")
    curl_times+=("$curl_s") body_times+=("$body")

    printf 'run %d: curl %.2f s (%s MiB/s); gorlaunch.exe body %.2f s (%s MiB/s), ratio %.2f;\n' \
        "$run" "$curl_s" "$(rate "$curl_s")" "$body" "$(rate "$body")" "$(calc "$body / $curl_s")"
    printf '       start to gorupd.exe %.2f s; launcher wall %.2f s (7 s of it fixed pauses), exit %s, copy %s;\n' \
        "$(calc "$t_exe - $t_start")" "$wall" "$code" "$same"
    printf '       launcher CPU %.2f s (user %s, sys %s) = %.1f%% of its wall time; wineserver CPU %.2f s\n' \
        "$cpu" "$user" "$sys" "$(calc "100 * $cpu / $wall")" "$server_cpu"
done

curl_med=$(median "${curl_times[@]}") body_med=$(median "${body_times[@]}")
printf 'median: curl %.2f s (%s MiB/s), gorlaunch.exe body %.2f s (%s MiB/s), ratio %.2f\n' \
    "$curl_med" "$(rate "$curl_med")" "$body_med" "$(rate "$body_med")" "$(calc "$body_med / $curl_med")"
