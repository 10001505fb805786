#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing.
# Run as root on a Debian machine; does nothing when everything is there.
set -euo pipefail

packages=(
  cmake g++ make pkg-config          # build
  libusb-dev                         # libusb-0.1, which vesklink links against
  libgtest-dev libgmock-dev          # tests
  umockdev libumockdev-dev           # the simulated USB base station
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}; run as root to install them" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
