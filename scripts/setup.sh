#!/usr/bin/env bash
# Installs the Debian packages a part of the project needs.
#   scripts/setup.sh [program] [rank] [test] [bench] [deb]     (no argument: all five)
# program: what building and running the benchmark needs (make run, make build);
# rank:    what zelka-rank, the ranking service, adds (make rank);
# test:    what the test suite adds (make test, make sanitize, make format-check): with the browser, the
#          database server and the Wayland compositor (and its screenshot tool) the tests start, and
#          what the package check builds the package with;
# bench:   what the benchmarks add (make bench, make bench-rank);
# deb:     what building and checking the Debian package adds (make deb).
# As root it installs what is missing; otherwise it prints the one command to run and fails.
set -euo pipefail

program_packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-qpa-plugins libgl-dev libfontconfig-dev libxcb1-dev libxcb-render0-dev
  libpci-dev libepoxy-dev libegl1 libgl1 libegl-mesa0 libgl1-mesa-dri
  qt6-wayland qt6-base-private-dev libwayland-dev wayland-protocols
  fonts-ipafont-gothic
)
rank_packages=(
  libmicrohttpd-dev libqt6sql6-sqlite libqt6sql6-psql
)
test_packages=(
  chromium chromium-driver postgresql nginx-light curl openssl libcpp-httplib-dev
  libgtest-dev libgmock-dev
  desktop-file-utils appstream clang-format
  sway grim
  dpkg-dev file
)
# dpkg-shlibdeps and file find the package's library dependencies; lintian checks it.
deb_packages=(
  dpkg-dev file lintian
)
bench_packages=(
  libbenchmark-dev libsdl2-dev wrk postgresql sqlite3 xvfb x11-apps libpixman-1-dev zlib1g-dev
  libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri
)

groups=("$@")
[[ ${#groups[@]} -gt 0 ]] || groups=(program rank test bench deb)
packages=()
for g in "${groups[@]}"; do
  case "$g" in
    program) packages+=("${program_packages[@]}") ;;
    rank)    packages+=("${rank_packages[@]}") ;;
    test)    packages+=("${test_packages[@]}") ;;
    bench)   packages+=("${bench_packages[@]}") ;;
    deb)     packages+=("${deb_packages[@]}") ;;
    *) echo "setup.sh: unknown group '$g' (program, rank, test, bench, deb)" >&2; exit 2 ;;
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
