#!/usr/bin/env bash
# Prints the serial bus link's figures: one frame to 1, 10 and 100 simulated
# bus stations over a pseudo-terminal, as time per station.
# Usage: scripts/bench_serial.sh [build-dir]   (default build/release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:-build/release}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target bench_serial >/dev/null
"$build/tests/serial/bench_serial"
