#!/usr/bin/env bash
# The production bench: 8 simulated devices paced at 19200 baud, a full write-all --verify on one alone
# and then on all 8 at once (the run on 8 should take at most 1.10 times the one alone, and the program
# less than one core in all); then find over 16 ports of which 8 answer (at most 1.5 times one DISP Get
# time-out per speed).
#   bench/production.sh [BUILD]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/vantor-production-XXXXXX")
sims=()

cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${sims[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

export VANTOR_PORTS_DIR=$work/ports
# Devices numbered past the ttyS range the port list also looks at, so that find asks these alone.
serve() {
  "$build/sim/vantor-device-sim" --ports-dir "$VANTOR_PORTS_DIR" --port "$1" --pace 19200 "${@:2}" >/dev/null 2>&1 &
  sims+=("$!")
}
for port in $(seq 1 8); do serve "$port"; done
for _ in $(seq 100); do [ -L "$VANTOR_PORTS_DIR/com8" ] && break; sleep 0.05; done
"$root/scripts/table-file.sh" 5 >"$work/table.txt"

# "seconds user+system" of one vantorctl run.
timed() {
  local TIMEFORMAT='%R %U %S'
  { time "$build/cli/vantorctl" "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }'
}

read -r one one_cpu < <(timed --port 1 write-all --verify "$work/table.txt")
read -r eight eight_cpu < <(timed --port 1-8 write-all --verify "$work/table.txt")
awk -v one="$one" -v eight="$eight" -v cpu="$eight_cpu" 'BEGIN {
  printf "production: write-all --verify, one device %.2f s, 8 at once %.2f s: ratio %.3f (target <= 1.10), ", one, eight, eight / one
  printf "scaling %.2f of 8; processor time %.2f s, %.0f%% of one core (target < 100%%)\n", 8 * one / eight, cpu, 100 * cpu / eight
}'

for port in $(seq 9 16); do serve "$port" --fault '*:silence'; done
for _ in $(seq 100); do [ -L "$VANTOR_PORTS_DIR/com16" ] && break; sleep 0.05; done
read -r found _ < <(timed find)
answered=$("$build/cli/vantorctl" find 2>/dev/null | grep -c ' serial ' || true)
awk -v found="$found" -v answered="$answered" 'BEGIN {
  timeout = 0.505 * 2  # two speeds
  printf "production: find over 16 ports, %d answering: %.2f s, %.2f times one DISP Get time-out per speed (target <= 1.5)\n", answered, found, found / timeout
}'
