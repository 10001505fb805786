#!/usr/bin/env bash
# Installs what is missing, builds, and shows the library sending frames to the
# simulated base station through the real libusb-0.1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j"$(nproc 2>/dev/null || echo 2)" --target vesklink_usb_demo >/dev/null
LD_PRELOAD=libumockdev-preload.so.0 build/release/tests/devicelib/vesklink_usb_demo
