#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo: the sample race played
# to veskbridge, which drives simulated displays through the real libusb-0.1,
# shown in a live view. Ends by itself after about 90 s; arguments go to
# `vesksim demo` (for example --speed 2).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh vesksim veskbridge
exec build/release/sim/vesksim/vesksim demo "$@"
