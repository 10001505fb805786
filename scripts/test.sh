#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, runs every test,
# then builds and tests once more with AddressSanitizer and
# UndefinedBehaviorSanitizer, and builds a small program against the installed
# library. Exits non-zero at the first failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {  # build-dir, extra cmake options...
  local dir=$1
  shift
  echo "== configure and build: $dir $*"
  cmake -S . -B "$dir" -DVESK_WERROR=ON "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
  cmake --build "$dir" -j"$jobs"
  echo "== tests: $dir"
  (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 300)
}

mkdir -p build
run_suite build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=ON

echo "== install and build a program against the installed package"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install build/release --prefix "$prefix" >/dev/null
cmake -S scripts/consumer -B "$prefix/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer" >/dev/null
LD_LIBRARY_PATH="$prefix/lib" "$prefix/consumer/consumer"
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" cc scripts/consumer/main.c -o "$prefix/consumer-pc" \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs vesklink)
LD_LIBRARY_PATH="$prefix/lib" "$prefix/consumer-pc"
echo "== all tests passed"
