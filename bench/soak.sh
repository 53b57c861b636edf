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
# With --busy N, N busy loops run beside it, as on a loaded machine: the counts must be as good.
#   bench/soak.sh [BUILD] [--commands N] [--runs N] [--rate R] [--seed S] [--busy N]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
commands=10000
runs=20
rate=0.05
seed=1
busy=0
while [ $# -gt 0 ]; do
  case $1 in
    --commands) commands=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --rate) rate=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --busy) busy=$2; shift 2 ;;
    *) build=$(cd "$1" && pwd); shift ;;
  esac
done
work=$(mktemp -d "${TMPDIR:-/tmp}/vantor-soak-XXXXXX")
sim=
loops=()
cleanup() {
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
echo "soak: $ran commands against the device at a fault rate of $rate (seed $seed, $busy busy loops beside it): $injected faults injected, $failed commands reported a failure, $wrong wrong values (target 0), $hangs hangs (target 0)"
[ "$wrong" -eq 0 ] && [ "$hangs" -eq 0 ]
