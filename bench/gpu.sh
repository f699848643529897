#!/usr/bin/env bash
# The headless DirectDraw test on this machine's GPU and on the software layer, one after the
# other: both scores, their ratio, the GPU run's OpenGL renderer, as "name: value" lines. Needs
# the built tree and the system's EGL and OpenGL libraries only (a few minutes).
#   bench/gpu.sh [BUILD_DIR]
# Without a hardware renderer the GPU run fails and says why; ZELKA_GL_ALLOW_SOFTWARE=1 in the
# environment runs it on Mesa's llvmpipe instead.
set -euo pipefail
build=${1:-build}
zelka=$(realpath "$build/app/zelka")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# One headless DirectDraw run on a road; its JSON in $tmp/ROAD.json.
run() {
  if ! (cd "$tmp" && env HOME="$tmp" XDG_DATA_HOME="$tmp/data" XDG_STATE_HOME="$tmp/state" \
        QT_QPA_PLATFORM=offscreen "$zelka" --run --headless --tests ddraw --renderer "$1" \
        --json "$tmp/$1.json" >"$tmp/$1.out" 2>"$tmp/$1.err"); then
    cat "$tmp/$1.err" >&2
    echo "gpu.sh: the $1 run failed" >&2
    exit 1
  fi
}
# A text field of a run's JSON: the first "name": "value".
field() {
  grep -o "\"$2\": *\"[^\"]*\"" "$tmp/$1.json" | head -n 1 | sed 's/^[^:]*: *//; s/"//g'
}
# The DirectDraw score of a run: "ddraw" inside "scores" (durations_ms has a "ddraw" too).
score() {
  awk '/"scores": *\{/ { inside = 1 } inside && /"ddraw":/ { gsub(/[^0-9]/, "", $2); print $2; exit }' \
    "$tmp/$1.json"
}

run gpu
run software
gpu=$(score gpu)
soft=$(score software)
echo "renderer.gl: $(field gpu gl_renderer) ($(field gpu gl_version))"
echo "renderer.road: $(field gpu road)"
echo "score.ddraw_gpu: $gpu"
echo "score.ddraw_software: $soft"
awk -v g="$gpu" -v s="$soft" 'BEGIN { printf "ratio.ddraw_gpu_vs_software: %s\n", (s > 0 ? sprintf("%.2f", g / s) : "nan") }'
