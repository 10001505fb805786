#!/usr/bin/env bash
# Prints the bridge's figures: the real veskbridge and library against the
# simulated base station (255 displays) and a local race server. Figures
# only; nothing here fails on time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh veskbridge_bench
LD_PRELOAD=libumockdev-preload.so.0 build/release/tests/bridge/veskbridge_bench
