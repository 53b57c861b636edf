#!/usr/bin/env bash
# The soak: vantorctl against a randomly faulty simulated device (--chaos SEED,RATE), every result
# compared with the device's truth. The truth is what the same command gives while the chaos is paused
# (SIGUSR1): the device then answers as it should.
#   - single commands (get of every setting and text, read of home numbers across the table): one that
#     exits 0 must print what the truth prints; one that fails must print nothing on standard output;
#   - transfers, in turns: write-all of one of two tables (done: the paused device must verify it;
#     failed: the table is written again while paused, so that the truth is known), then read-all (done:
#     the file must be the truth's file) and verify (done or differing: it must hold the table; only
#     "not read whole" may fail it).
# Every command runs under a 60 s bound: one that runs into it is a hang. Prints the counts: commands,
# faults injected (the device's log), failures reported, wrong values (must be 0), hangs (must be 0).
# Then the station, a vantorctl that lives on: N units plugged in one after another, each a device of its
# own at a tenth of the rate (a whole-table run at the full rate almost never passes), loaded with another
# table. A unit said PASS must hold the table (checked while paused, taken out of the station's socket);
# after each unit the station's open files, threads and resident memory are sampled, and must stay flat.
# With --busy N, N busy loops run beside it, as on a loaded machine: the counts must be as good.
#   bench/soak.sh [BUILD] [--commands N] [--runs N] [--units N] [--rate R] [--seed S] [--busy N]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
commands=10000
runs=20
units=50
rate=0.05
seed=1
busy=0
while [ $# -gt 0 ]; do
  case $1 in
    --commands) commands=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --units) units=$2; shift 2 ;;
    --rate) rate=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --busy) busy=$2; shift 2 ;;
    *) build=$(cd "$1" && pwd); shift ;;
  esac
done
work=$(mktemp -d "${TMPDIR:-/tmp}/vantor-soak-XXXXXX")
sim=
station=
loops=()
cleanup() {
  [ -n "$station" ] && { kill -KILL "$station" 2>/dev/null || true; wait "$station" 2>/dev/null || true; }
  [ -n "$sim" ] && { kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; }
  for loop in "${loops[@]}"; do kill "$loop" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

for _ in $(seq "$busy"); do
  bash -c 'while :; do :; done' &
  loops+=("$!")
done
export VANTOR_PORTS_DIR=$work/ports VANTOR_PORT=1
vantorctl=$build/cli/vantorctl
"$root/scripts/table-file.sh" 3 >"$work/a.txt"
"$root/scripts/table-file.sh" 8 >"$work/b.txt"
"$build/sim/vantor-device-sim" --ports-dir "$VANTOR_PORTS_DIR" --port 1 --load "$work/a.txt" \
  --chaos "$seed,$rate" --log "$work/device.log" >/dev/null 2>&1 &
sim=$!
for _ in $(seq 200); do [ -L "$VANTOR_PORTS_DIR/com1" ] && break; sleep 0.02; done

paused=false
pause() { $paused || { kill -USR1 "$sim"; paused=true; sleep 0.05; }; }
resume() { ! $paused || { kill -USR1 "$sim"; paused=false; sleep 0.05; }; }

ran=0 failed=0 wrong=0 hangs=0
# Runs vantorctl ARGS...: its standard output in $work/out, its status in $status.
run() {
  status=0
  timeout 60 "$vantorctl" "$@" >"$work/out" 2>"$work/err" || status=$?
  ran=$((ran + 1))
  if [ "$status" -eq 124 ]; then hangs=$((hangs + 1)); echo "soak: hang: vantorctl $*" >&2; fi
  if [ "$status" -ne 0 ]; then failed=$((failed + 1)); fi
}
# Runs vantorctl ARGS... on the paused device, to learn or set its truth: not counted, and it must work.
setup() {
  timeout 60 "$vantorctl" "$@" >"$work/out" 2>"$work/err" || { echo "soak: the paused device failed: vantorctl $*" >&2; cat "$work/err" >&2; exit 1; }
}
mistake() {
  wrong=$((wrong + 1))
  echo "soak: wrong: vantorctl $*" >&2
}

# The single commands and what the truth prints for each.
singles=()
for setting in wide-band disp squelch radio-mfg dtmf-delay min-volume serial-number user-description; do
  singles+=("get $setting")
done
for n in 1 2 3 50 99 100 101 102 250 499 500; do singles+=("read $n"); done
declare -A truth
pause
for command in "${singles[@]}"; do
  # shellcheck disable=SC2086
  setup $command
  truth[$command]=$(cat "$work/out")
done
resume

RANDOM=$seed
for i in $(seq "$commands"); do
  command=${singles[$((RANDOM % ${#singles[@]}))]}
  # shellcheck disable=SC2086
  run $command
  if [ "$status" -eq 0 ] && [ "$(cat "$work/out")" != "${truth[$command]}" ]; then mistake "$command"; fi
  if [ "$status" -ne 0 ] && [ -s "$work/out" ]; then mistake "$command (failed, yet printed a value)"; fi
  if [ $((i % 1000)) -eq 0 ]; then echo "soak: $i single commands" >&2; fi
done

# The transfers. The device holds table a to begin with.
holds=a
pause
setup read-all -o "$work/a-read.txt"
setup write-all "$work/b.txt"
setup read-all -o "$work/b-read.txt"
setup write-all "$work/a.txt"
resume
for i in $(seq "$runs"); do
  table=$([ $((i % 2)) -eq 0 ] && echo a || echo b)
  run write-all "$work/$table.txt"
  pause
  if [ "$status" -eq 0 ]; then
    timeout 60 "$vantorctl" verify "$work/$table.txt" >/dev/null 2>&1 || mistake "write-all $table.txt (done, but the device does not hold it)"
  else
    setup write-all "$work/$table.txt"
  fi
  holds=$table
  resume
  run read-all -o "$work/read.txt"
  if [ "$status" -eq 0 ] && ! cmp -s "$work/read.txt" "$work/$holds-read.txt"; then mistake "read-all (done, but not the device's table)"; fi
  run verify "$work/$holds.txt"
  if [ "$status" -ne 0 ] && grep -q ' differences$' "$work/err"; then mistake "verify (differences found on a device that holds the table)"; fi
  echo "soak: $i of $runs transfer runs" >&2
done

injected=$(grep -c ' chaos ' "$work/device.log" || true)
kill "$sim"
wait "$sim" || true
sim=

# The station on port 2. A unit taken out after its PASS line moves to port 3, out of the station's
# reach, where the paused device is asked whether it holds the table.
# Waits up to 120 s for PATTERN to be in FILE COUNT times.
await() {
  for _ in $(seq 1200); do
    [ "$(grep -cE "$1" "$2" || true)" -ge "$3" ] && return 0
    sleep 0.1
  done
  return 1
}
station_rate=$(awk -v r="$rate" 'BEGIN { print r / 10 }')
"$vantorctl" station --port 2 --json write-all --verify "$work/a.txt" >"$work/station.json" 2>"$work/station.err" &
station=$!
passes=0 unit_faults=0 samples=()
for u in $(seq "$units"); do
  "$build/sim/vantor-device-sim" --ports-dir "$VANTOR_PORTS_DIR" --port 2 --load "$work/b.txt" \
    --chaos "$((seed + u)),$station_rate" --log "$work/unit.log" >/dev/null 2>&1 &
  sim=$!
  ran=$((ran + 1))
  if ! await '"type":"unit"' "$work/station.json" "$u"; then
    hangs=$((hangs + 1))
    echo "soak: hang: the station on unit $u" >&2
    break
  fi
  pause
  if tail -1 "$work/station.json" | grep -q '"passed":true'; then
    passes=$((passes + 1))
    mv "$VANTOR_PORTS_DIR/com2" "$VANTOR_PORTS_DIR/com3"
    await 'unit (unplugged|silent); waiting for the next' "$work/station.err" "$u" || true
    # The station's last look at the port may still hold it for a moment.
    for _ in $(seq 20); do
      status=0
      timeout 60 "$vantorctl" --port 3 verify "$work/a.txt" >/dev/null 2>"$work/err" || status=$?
      grep -q 'Open com port failed' "$work/err" || break
      sleep 0.1
    done
    [ "$status" -eq 0 ] || mistake "station unit $u (PASS, but the device does not hold the table)"
  else
    failed=$((failed + 1))
  fi
  kill "$sim"
  wait "$sim" || true
  sim=
  paused=false
  rm -f "$VANTOR_PORTS_DIR/com3"
  unit_faults=$((unit_faults + $(grep -c ' chaos ' "$work/unit.log" || true)))
  await 'unit (unplugged|silent); waiting for the next' "$work/station.err" "$u" ||
    { hangs=$((hangs + 1)); echo "soak: hang: the station never saw unit $u go" >&2; break; }
  samples+=("$(ls "/proc/$station/fd" | wc -l) $(awk '/^Threads:/ { print $2 }' "/proc/$station/status") $(awk '/^VmRSS:/ { print $2 }' "/proc/$station/status")")
done
kill -INT "$station"
wait "$station" || true
station=
injected=$((injected + unit_faults))
flat=true
if [ ${#samples[@]} -gt 0 ]; then
  read -r fds0 threads0 rss0 <<<"${samples[0]}"
  read -r fds1 threads1 rss1 <<<"${samples[-1]}"
  rss_most=$rss0
  for sample in "${samples[@]}"; do
    read -r fds threads rss <<<"$sample"
    [ "$fds" -eq "$fds0" ] && [ "$threads" -eq "$threads0" ] || flat=false
    [ "$rss" -gt "$rss_most" ] && rss_most=$rss
  done
  # A few hundred kB may come and go as the allocator keeps freed memory; a leak grows with the units.
  [ $((rss1 - rss0)) -le 1024 ] || flat=false
  echo "soak: the station, $units units ($passes passed) at a fault rate of $station_rate: $unit_faults faults injected; open files $fds0 to $fds1, threads $threads0 to $threads1, resident $rss0 to $rss1 kB (at most $rss_most kB)$($flat || echo ': NOT FLAT')"
fi

echo "soak: $ran commands against the device at a fault rate of $rate (seed $seed, $busy busy loops beside it): $injected faults injected, $failed commands reported a failure, $wrong wrong values (target 0), $hangs hangs (target 0)"
[ "$wrong" -eq 0 ] && [ "$hangs" -eq 0 ] && $flat
