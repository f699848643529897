#!/usr/bin/env bash
# The headless DirectDraw and Direct3D tests on this machine's GPU (video memory and the hardware
# 3-D device) and on the software layer (the emulation device), one road after the other: both
# scores of each test, their ratios, the GPU run's OpenGL renderer and Direct3D device, as
# "name: value" lines. Needs the built tree and the system's EGL and OpenGL libraries only (a few
# minutes).
#   bench/gpu.sh [BUILD_DIR]
# Without a hardware renderer the GPU run fails and says why; ZELKA_GL_ALLOW_SOFTWARE=1 in the
# environment runs it on Mesa's llvmpipe instead.
set -euo pipefail
build=${1:-build}
zelka=$(realpath "$build/app/zelka")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# One headless run of both graphics tests on a road; its JSON in $tmp/ROAD.json.
run() {
  if ! (cd "$tmp" && env HOME="$tmp" XDG_DATA_HOME="$tmp/data" XDG_STATE_HOME="$tmp/state" \
        QT_QPA_PLATFORM=offscreen "$zelka" --run --headless --tests ddraw,d3d --renderer "$1" \
        --json "$tmp/$1.json" >"$tmp/$1.out" 2>"$tmp/$1.err"); then
    cat "$tmp/$1.err" >&2
    echo "gpu.sh: the $1 run failed" >&2
    exit 1
  fi
}
# A text field of a run's JSON: the first "name": "value", which is the run's end conditions'
# (the conditions' "end" is written before their "start": the keys are sorted).
field() {
  grep -o "\"$2\": *\"[^\"]*\"" "$tmp/$1.json" | head -n 1 | sed 's/^[^:]*: *//; s/"//g'
}
# A test's score in a run: TEST inside "scores" (durations_ms names the tests too).
score() {
  awk -v test="\"$2\":" '/"scores": *\{/ { inside = 1 } inside && $1 == test { gsub(/[^0-9]/, "", $2); print $2; exit }' \
    "$tmp/$1.json"
}
ratio() {
  awk -v g="$2" -v s="$3" 'BEGIN { printf "%s: %s\n", ARGV[1], (s > 0 ? sprintf("%.2f", g / s) : "nan") }' "$1"
}

run gpu
run software
echo "renderer.gl: $(field gpu gl_renderer) ($(field gpu gl_version))"
echo "renderer.road: $(field gpu road)"
echo "device.d3d_gpu: $(field gpu direct3d_device)"
echo "device.d3d_software: $(field software direct3d_device)"
for test in ddraw d3d; do
  gpu=$(score gpu $test)
  soft=$(score software $test)
  echo "score.${test}_gpu: $gpu"
  echo "score.${test}_software: $soft"
  ratio "ratio.${test}_gpu_vs_software" "$gpu" "$soft"
done
