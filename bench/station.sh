#!/usr/bin/env bash
# The production station: vantorctl station on 8 ports, and 8 simulated units paced at 19200 baud plugged
# in one after another at random moments (the same ones each run), each unplugged once its PASS line is
# out. For each unit: how long after its plugging it was found and was done, against one write-all of
# the same table alone (target: found within one write-all time of its plugging, and done within two);
# then units per hour and the station's processor time (target: under a tenth of a core).
#   bench/station.sh [BUILD]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/vantor-station-XXXXXX")
declare -A sims
station=

cleanup() {
  [ -n "$station" ] && kill -KILL "$station" 2>/dev/null || true
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${sims[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

export VANTOR_PORTS_DIR=$work/ports
now() { date +%s.%N; }
plug() {
  "$build/sim/vantor-device-sim" --ports-dir "$VANTOR_PORTS_DIR" --port "$1" --pace 19200 >/dev/null 2>&1 &
  sims[$1]=$!
  for _ in $(seq 100); do [ -L "$VANTOR_PORTS_DIR/com$1" ] && break; sleep 0.02; done
}
unplug() {
  kill "${sims[$1]}" 2>/dev/null || true
  wait "${sims[$1]}" 2>/dev/null || true
  unset "sims[$1]"
}
"$root/scripts/table-file.sh" 3 >"$work/table.txt"

# One write-all alone, the yardstick.
plug 1
start=$(now)
"$build/cli/vantorctl" --port 1 write-all "$work/table.txt" >/dev/null 2>&1
alone=$(awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }')
unplug 1

# The station's lines that matter, each with the moment it came.
mkfifo "$work/lines"
"$build/cli/vantorctl" station --port 1-8 --json --record "$work/record.csv" --serial-number 'BENCH-{n:04}' \
  write-all "$work/table.txt" >"$work/json" 2>"$work/lines" &
station=$!
: >"$work/events"
{
  grep --line-buffered -E '^\[port [0-9]+\] unit found$|^port [0-9]+ +(PASS|FAIL)' <"$work/lines" |
    while IFS= read -r line; do printf '%s %s\n' "$(now)" "$line" >>"$work/events"; done
} &
reader=$!

# Plugging moments: random, within two write-all times, in order.
RANDOM=7
span_ms=$(awk -v a="$alone" 'BEGIN { printf "%d", a * 2000 }')
mapfile -t moments < <(for port in $(seq 1 8); do echo "$(( (RANDOM * 32768 + RANDOM) % span_ms )) $port"; done | sort -n)
began=$(now)
declare -A plugged
for moment in "${moments[@]}"; do
  read -r at port <<<"$moment"
  while awk -v b="$began" -v n="$(now)" -v at="$at" 'BEGIN { exit !((n - b) * 1000 < at) }'; do sleep 0.01; done
  plug "$port"
  plugged[$port]=$(now)
done
# Each unit is unplugged once it passed or failed.
for _ in $(seq 1200); do
  for port in "${!plugged[@]}"; do
    if [ -n "${sims[$port]:-}" ] && grep -qE "^[0-9.]+ port $port +(PASS|FAIL)" "$work/events"; then unplug "$port"; fi
  done
  [ "$(grep -cE ' (PASS|FAIL) ' "$work/events")" -ge 8 ] && break
  sleep 0.1
done
read -r _ _ _ _ _ _ _ _ _ _ _ _ _ utime stime _ <"/proc/$station/stat"
kill -INT "$station"
wait "$station" || true
station=
wait "$reader" 2>/dev/null || true

ticks=$(getconf CLK_TCK)
for port in $(seq 1 8); do
  found=$(awk -v p="[port $port]" 'index($0, p " unit found") { print $1; exit }' "$work/events")
  done_at=$(awk -v p="$port" '$2 == "port" && $3 == p { print $1, $4, $5; exit }' "$work/events")
  echo "$port ${plugged[$port]} ${found:-0} ${done_at:-0 none -}"
done | awk -v alone="$alone" -v began="$began" -v json="$work/json" -v cpu="$(( utime + stime ))" -v ticks="$ticks" '
  { found = $3 - $2; took = $4 - $2; ok = $3 > 0 && $4 > 0 && $5 == "PASS"
    worstFound = found > worstFound ? found : worstFound; worstDone = took > worstDone ? took : worstDone
    printf "station: port %d plugged at +%.1f s: found after %.2f s, %s %s after %.2f s\n", $1, $2 - began, found, $5, $6, took
    passed += ok }
  END {
    while ((getline line < json) > 0) if (line ~ /"type":"summary"/) { match(line, /"units_per_hour":[0-9.]+/); perHour = substr(line, RSTART + 17, RLENGTH - 17); match(line, /"seconds":[0-9.]+/); seconds = substr(line, RSTART + 10, RLENGTH - 10) }
    printf "station: one write-all alone %.2f s; 8 units plugged at random, %d passed; slowest found %.2f s after plugging (target <= %.2f), slowest done %.2f s (target <= %.2f)\n", alone, passed, worstFound, alone, worstDone, 2 * alone
    printf "station: %s units per hour over %s s (units plugged within %.1f s); processor time %.2f s, %.1f%% of one core (target < 10%%)\n", perHour, seconds, 2 * alone, cpu / ticks, 100 * cpu / ticks / seconds
  }'
