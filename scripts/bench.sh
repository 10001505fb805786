#!/usr/bin/env bash
# Prints the USB link's figures: 300 frames to the simulated base station.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh vesklink_usb_bench
LD_PRELOAD=libumockdev-preload.so.0 build/release/tests/devicelib/vesklink_usb_bench
