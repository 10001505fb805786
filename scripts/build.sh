#!/usr/bin/env bash
# Installs what is missing and builds the given targets (all when none) in
# build/release. The other scripts start with it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=()
for t in "$@"; do
  targets+=(--target "$t")
done
cmake --build build/release -j"$(nproc 2>/dev/null || echo 2)" "${targets[@]}" >/dev/null
