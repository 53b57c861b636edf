#!/usr/bin/env bash
# Runs every benchmark of a build directory and prints its figures.
set -euo pipefail
build=${1:-build}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
for bench in "$build"/bench/*_bench; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench"
done
echo "== request pauses"
bash "$(dirname "$0")/../bench/request-pauses.sh" "$build"
echo "== production bench"
bash "$(dirname "$0")/../bench/production.sh" "$build"
echo "== USB adapter"
bash "$(dirname "$0")/../bench/adapter.sh" "$build"
echo "== production station"
bash "$(dirname "$0")/../bench/station.sh" "$build"
echo "== soak against a randomly faulty device, then beside two busy loops"
bash "$(dirname "$0")/../bench/soak.sh" "$build"
bash "$(dirname "$0")/../bench/soak.sh" "$build" --commands 2000 --runs 6 --busy 2
echo "== the window's soak again at a fault rate of 0.5 %, where most runs end whole"
QT_QPA_PLATFORM=offscreen "$build/bench/window_soak_bench" 5 0.005
