#!/usr/bin/env bash
# Prints the serial bus link's figures: one frame to 1, 10 and 100 simulated
# bus stations over a pseudo-terminal, as time per station.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh bench_serial
build/release/tests/serial/bench_serial
