#!/usr/bin/env bash
# Times the desktop program from launch to its first capture of the shown window (the PDF hook with no
# delay), on an Xvfb display started once, with a fresh configuration folder per run.
# Usage: scripts/measure_launch.sh [RUNS]   (needs a built build/CorvaneApp/corvane and Xvfb)
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-5}"
program=build/CorvaneApp/corvane
work="$(mktemp -d)"
trap 'kill "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
display=":$((100 + RANDOM % 400))"
Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
for i in $(seq 1 "$runs"); do
  start=$(date +%s%N)
  DISPLAY="$display" QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config$i" CORVANE_SCREENSHOT_DELAY=0 \
    CORVANE_SCREENSHOT="$work/shot$i.pdf" "$program" 2>/dev/null
  end=$(date +%s%N)
  echo "run $i: $(( (end - start) / 1000000 )) ms"
done
