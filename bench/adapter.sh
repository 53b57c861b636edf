#!/usr/bin/env bash
# Whole runs through a USB serial adapter: the simulated device at 19200 baud behind an adapter whose
# latency timer is 1, 4 or 16 ms. For each, vantorctl read-all -o of a full table (500 rows of 3-digit
# codes, PLL values on 1 to 100) and write-all of it. Each run must end without an error line, the
# file read must be the device's table byte for byte, and the device written must hold it. Its time
# stands beside the line's own (every request and reply byte at 19200 baud, plus the device's 2 ms
# turnaround, from the device's log) plus one latency period per exchange, the least any program can do
# through such an adapter (target: at most 1.15 times that). The pseudo-terminal hands a request to the
# device at once, where a real line takes its bytes' time, so the runs here gain that time; the figure
# beside the ratio leaves the requests out of the floor.
#
# Then a read-all of a table a third of whose rows hold 2-digit codes: their 8-byte reply could be the
# start of a 10-byte one, so each waits out what the port may hold back. A pseudo-terminal tells the
# program nothing of an adapter, so it waits the 16 ms default; a real adapter's driver tells its timer,
# which the second run stands in for with a sysfs tree that gives the device's timer.
#   bench/adapter.sh [BUILD]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/vantor-adapter-XXXXXX")
sim=""

stop_sim() {
  if [ -n "$sim" ]; then
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    sim=""
  fi
}
cleanup() {
  stop_sim
  rm -rf "$work"
}
trap cleanup EXIT

export VANTOR_PORTS_DIR=$work/ports
# serve LATENCY [SIM OPTION]...: a fresh device on Serial Port 1, its log in $work/device.log.
serve() {
  stop_sim
  "$build/sim/vantor-device-sim" --ports-dir "$VANTOR_PORTS_DIR" --port 1 --pace 19200 --latency "$1" \
    --log "$work/device.log" "${@:2}" >/dev/null 2>&1 &
  sim=$!
  for _ in $(seq 200); do [ -L "$VANTOR_PORTS_DIR/com1" ] && return; sleep 0.05; done
  echo "adapter: the simulated device did not start" >&2
  exit 1
}

"$root/scripts/table-file.sh" 3 >"$work/table.txt"
# The same table with every third row's codes cut to 2 digits.
awk 'BEGIN { ORS = "\r\n" } { sub(/\r$/, "") }
  /^[0-9]+ / && $1 % 3 == 1 { $2 = substr($2, 2); $3 = substr($3, 2); print $0 " "; next } { print }' \
  "$work/table.txt" >"$work/mixed.txt"

# seconds of one vantorctl run, its status and its log's error lines counted in $work/errors
run() {
  local start end status=0
  start=$(date +%s.%N)
  "$build/cli/vantorctl" "$@" >/dev/null 2>"$work/stderr" || status=$?
  end=$(date +%s.%N)
  grep -cE 'Unrecognized|Unexpected|Timed out|FAILED|Unsuccessful|not read|not written|failed' \
    "$work/stderr" >"$work/errors" || true
  if [ "$status" != 0 ]; then echo "status $status" >>"$work/errors"; fi
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}

# report WHAT LATENCY SECONDS CHECK [LOG]: the run beside the line's time and the floor, from the
# device's log.
report() {
  awk -v what="$1" -v latency="$2" -v took="$3" -v check="$4" -v errors="$(paste -sd' ' "$work/errors")" '
    $2 == "request" { exchanges++ }
    $2 == "request" || $2 == "reply" {
      for (i = 3; i <= NF && $i != "(longest"; i++) bytes[$2]++
    }
    END {
      replies = bytes["reply"] * 10 / 19200 + exchanges * 0.002
      line = replies + bytes["request"] * 10 / 19200
      floor = line + exchanges * latency / 1000
      printf "adapter %2d ms: %-20s %6.2f s, %d exchanges; line %.2f s, line + latency %.2f s: x%.3f (target <= 1.15), x%.3f of the replies alone + latency; errors %s; %s\n",
        latency, what, took, exchanges, line, floor, took / floor, took / (replies + exchanges * latency / 1000), errors, check
    }' "${5:-$work/device.log}"
}

same() { if cmp -s "$1" "$2"; then echo "byte for byte"; else echo "DIFFERENT"; fi; }

for latency in 1 4 16; do
  serve "$latency" --load "$work/table.txt"
  took=$(run read-all -o "$work/read.txt")
  report "read-all" "$latency" "$took" "file $(same "$work/read.txt" "$work/table.txt")"

  serve "$latency"
  took=$(run write-all "$work/table.txt")
  cp "$work/device.log" "$work/write.log"
  held="device holds the table"
  "$build/cli/vantorctl" verify "$work/table.txt" >/dev/null 2>&1 || held="DEVICE DIFFERS"
  report "write-all" "$latency" "$took" "$held" "$work/write.log"
done

# The pseudo-terminal's sysfs entry as a real adapter's would be: /sys/dev/char/MAJOR:MINOR/device.
told() {
  local target major minor
  target=$(readlink -f "$VANTOR_PORTS_DIR/com1")
  major=$((16#$(stat -L -c '%t' "$target")))
  minor=$((16#$(stat -L -c '%T' "$target")))
  mkdir -p "$work/sys/dev/char/$major:$minor/device"
  echo "$1" >"$work/sys/dev/char/$major:$minor/device/latency_timer"
}
for latency in 1 4 16; do
  serve "$latency" --load "$work/mixed.txt"
  took=$(run read-all -o "$work/read.txt")
  report "mixed, default hold" "$latency" "$took" "file $(same "$work/read.txt" "$work/mixed.txt")"
  serve "$latency" --load "$work/mixed.txt"
  rm -rf "$work/sys"
  told "$latency"
  took=$(VANTOR_SYS_ROOT=$work/sys run read-all -o "$work/read.txt")
  report "mixed, timer told" "$latency" "$took" "file $(same "$work/read.txt" "$work/mixed.txt")"
done
