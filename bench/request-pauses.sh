#!/usr/bin/env bash
# How long vantorctl's link pauses between two bytes of one request, as the simulated device sees it: a
# device that frames a request by a pause (a home number write has no length field) splits a request
# whose pause is longer than its own. RUNS write-alls of a full table (500 home number writes of 10
# bytes, 100 PLL writes, the settings) on an idle machine, then RUNS beside BUSY busy loops.
#   bench/request-pauses.sh [BUILD] [RUNS] [BUSY]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-3}
busy=${3:-2}
work=$(mktemp -d "${TMPDIR:-/tmp}/vantor-pauses-XXXXXX")
sim_pid=
loads=()

cleanup() {
  for pid in $sim_pid "${loads[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$root/scripts/table-file.sh" 5 >"$work/table.txt"

# One write-all against a device whose framing pause (1 s) splits nothing, so every pause is seen whole.
measure() {
  local log=$1
  "$build/sim/vantor-device-sim" --ports-dir "$work/ports" --port 1 --gap 1000 --log "$log" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -L "$work/ports/com1" ] && break
    sleep 0.05
  done
  VANTOR_PORTS_DIR=$work/ports "$build/cli/vantorctl" --port 1 write-all "$work/table.txt" 2>/dev/null ||
    echo "  (write-all failed: exit status $?)"
  kill "$sim_pid"
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}

# RUNS write-alls into logs NAME.N.log, a line for each and one for all.
runs_of() {
  local name=$1 run
  for run in $(seq "$runs"); do
    measure "$work/$name.$run.log"
    echo "  run $run: $("$root/scripts/request-pauses.sh" "$work/$name.$run.log")"
  done
  echo "  all:   $("$root/scripts/request-pauses.sh" "$work/$name".*.log)"
}

echo "vantorctl's link, idle:"
runs_of idle
for _ in $(seq "$busy"); do
  yes >/dev/null &
  loads+=("$!")
done
echo "vantorctl's link beside $busy busy loops:"
runs_of busy
