#!/usr/bin/env bash
# Prints the bridge's figures: the real veskbridge and library against the
# simulated base station (255 displays) and a local race server. Figures
# only; nothing here fails on time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j"$(nproc 2>/dev/null || echo 2)" --target veskbridge_bench >/dev/null
LD_PRELOAD=libumockdev-preload.so.0 build/release/tests/bridge/veskbridge_bench
