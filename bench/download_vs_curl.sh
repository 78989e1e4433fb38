#!/bin/sh
# Builds the optimised native tree and runs the download benchmark (GorDownload vs curl,
# a 256 MiB file from nginx on 127.0.0.1). Extra arguments go to the benchmark.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/native-release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DGORLAUNCH_TESTS=OFF \
      -DGORLAUNCH_UPDATE_HOST=127.0.0.1:18473 >/dev/null
cmake --build "$build" --target download_bench -j"$(nproc)" >"$build/bench-build.log" 2>&1 ||
    { cat "$build/bench-build.log"; exit 1; }
exec "$build/bench/download_bench" "$@"
