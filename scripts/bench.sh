#!/usr/bin/env bash
# Prints the USB link's figures: 300 frames to the simulated base station.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j"$(nproc 2>/dev/null || echo 2)" --target vesklink_usb_bench >/dev/null
LD_PRELOAD=libumockdev-preload.so.0 build/release/tests/devicelib/vesklink_usb_bench
