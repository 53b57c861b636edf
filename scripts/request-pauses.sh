#!/usr/bin/env bash
# Summarises the pauses inside requests from simulated devices' logs (--log): how many requests of more
# than one byte, the longest pause between two bytes of one of them, the 99th percentile, and how many
# pauses were longer than GAP_MS (default 4, the device's framing pause).
#   scripts/request-pauses.sh [--gap GAP_MS] LOG...
set -euo pipefail
gap=4
if [ "${1:-}" = --gap ]; then
  gap=$2
  shift 2
fi
sed -nE 's/.*\(longest pause ([0-9]+) us\)$/\1/p' "$@" | sort -n | awk -v gap="$gap" '
  { pause[NR] = $1 }
  END {
    if (NR == 0) { print "no request of more than one byte"; exit }
    over = 0
    for (i = 1; i <= NR; i++) if (pause[i] > gap * 1000) over++
    rank = int(NR * 0.99); if (rank < NR * 0.99) rank++  # nearest rank
    p99 = pause[rank]
    printf "%d requests: longest pause %.3f ms, 99th percentile %.3f ms, %d longer than %s ms\n",
      NR, pause[NR] / 1000, p99 / 1000, over, gap
  }'
