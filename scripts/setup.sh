#!/usr/bin/env bash
# Installs the Debian packages a part of the project needs.
#   scripts/setup.sh [program] [test] [bench]     (no argument: all three)
# program: what building and running the benchmark needs (make run, make build);
# test:    what the test suite adds (make test, make sanitize);
# bench:   what the benchmarks add (make bench).
# As root it installs what is missing; otherwise it prints the one command to run and fails.
set -euo pipefail

program_packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-qpa-plugins libgl-dev libfontconfig-dev
  fonts-ipafont-gothic
)
test_packages=(
  libgtest-dev libgmock-dev
  desktop-file-utils appstream
)
bench_packages=(
  libbenchmark-dev libsdl2-dev
)

groups=("$@")
[[ ${#groups[@]} -gt 0 ]] || groups=(program test bench)
packages=()
for g in "${groups[@]}"; do
  case "$g" in
    program) packages+=("${program_packages[@]}") ;;
    test)    packages+=("${test_packages[@]}") ;;
    bench)   packages+=("${bench_packages[@]}") ;;
    *) echo "setup.sh: unknown group '$g' (program, test, bench)" >&2; exit 2 ;;
  esac
done

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
