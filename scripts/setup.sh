#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need.
# As root it installs what is missing; otherwise it prints the one command to run and fails.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-qpa-plugins libgl-dev libfontconfig-dev
  libgtest-dev libgmock-dev libbenchmark-dev libsdl2-dev
  fonts-ipafont-gothic
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
  [[ "$status" == ii* ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing packages. Run:"
  echo "  sudo apt-get install ${missing[*]}"
  exit 1
fi
