#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo: the sample race played
# to veskbridge, which drives simulated displays through the real libusb-0.1,
# shown in a live view. Ends by itself after about 90 s; arguments go to
# `vesksim demo` (for example --speed 2).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j"$(nproc 2>/dev/null || echo 2)" --target vesksim >/dev/null
exec build/release/sim/vesksim/vesksim demo "$@"
