#!/bin/sh
# Builds and runs the serial bus benchmark: the time per station of a frame
# sent to 1, 10 and 100 simulated bus stations over a pseudo-terminal.
# Usage: scripts/bench_serial.sh [build-dir]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --target bench_serial -j2
exec "$build/tests/serial/bench_serial"
