#!/usr/bin/env bash
# How much whole runs differ: five headless runs of every test (zelka --run --repeat 5), then
# one "name: value" line per figure: the 1-minute load average before the first run and the
# highest before any run, and each test's spread, (max - min) / median of its five scores.
#   bench/spread.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
zelka=$(realpath "$build/app/zelka")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A home of its own: the disk test writes there, the result file lands in its data folder.
if ! (cd "$tmp" && env HOME="$tmp" XDG_DATA_HOME="$tmp/data" XDG_STATE_HOME="$tmp/state" \
      QT_QPA_PLATFORM=offscreen "$zelka" --run --headless --repeat 5 >"$tmp/out" 2>"$tmp/err"); then
  cat "$tmp/err" >&2
  echo "spread.sh: the runs failed" >&2
  exit 1
fi
# The table's rows: "  test median min max spread % each run..."; the load row follows it.
awk '
  $1 ~ /^(cpu|gdi|ddraw|d3d|disk)$/ && $2 ~ /^[0-9]+$/ && $3 ~ /^[0-9]+$/ && $4 ~ /^[0-9]+$/ {
    spread[$1] = $2 > 0 ? sprintf("%.4f", ($4 - $3) / $2) : "nan"
  }
  $1 == "load" && $2 == "before" && $3 == "each" {
    first = $5; max = $5
    for (i = 5; i <= NF; i++) if ($i + 0 > max + 0) max = $i
  }
  END {
    printf "load.before: %s\n", first
    printf "load.before_max: %s\n", max
    n = split("cpu gdi ddraw d3d disk", tests, " ")
    for (i = 1; i <= n; i++) printf "spread.%s: %s\n", tests[i], spread[tests[i]]
  }' "$tmp/out"
