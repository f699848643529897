#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UBSan, makes their seed
# corpora from the packer's output and runs each for the given number of seconds.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# FUZZ_FLAGS adds libFuzzer options, e.g. FUZZ_FLAGS=-max_len=1500.
# Findings are written to build-fuzz/artifacts/; the corpora grow in build-fuzz/corpus/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(read_archive_entry expand_byte_pairs pack_round_trip)
build=build-fuzz

# clang and its fuzzer run-time are developer tools, not needed by the build or the tests.
packages=(clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
  [[ "$status" == ii* ]] || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  if [[ $(id -u) -eq 0 ]]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "Fuzzing needs: sudo apt-get install ${missing[*]}"
    exit 1
  fi
fi

cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j 2 >/dev/null
rm -rf "$build/seeds"
"$build/make_fuzz_seeds" resources "$build/seeds"
mkdir -p "$build/artifacts"

failed=0
for t in "${targets[@]}"; do
  mkdir -p "$build/corpus/$t"
  log="$build/fuzz_$t.log"
  echo "fuzz_$t: ${seconds} s"
  # shellcheck disable=SC2086 # FUZZ_FLAGS is a list of options
  if ! "$build/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 ${FUZZ_FLAGS:-} \
       -artifact_prefix="$build/artifacts/$t-" "$build/corpus/$t" "$build/seeds/$t" \
       >"$log" 2>&1; then
    failed=1
    echo "fuzz_$t: FINDING, see $log and $build/artifacts/"
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$log" | sed "s/^/  /" || true
done
exit $failed
