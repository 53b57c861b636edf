#!/usr/bin/env bash
# Prints a full table file as the program saves it: the eight settings, 500 rows of 3-digit codes, PLL
# values on home numbers 1 to 100. SEED (a number, default 1) varies every value.
#   scripts/table-file.sh [SEED]
set -euo pipefail
awk -v seed="${1:-1}" 'BEGIN {
  ORS = "\r\n"
  print "SerialNumber: TABLE-" seed; print "UserDescript: Wine " seed
  print "MINvolume: " (seed % 10); print "DTMFDelay: " (seed % 7 + 1); print "WideBand: " (seed % 2)
  print "'\''SQUELCH'\'': " (seed % 2 + 1); print "'\''DISP'\'': " (2 - seed % 2); print "RadioMfg: " (seed % 2 + 1)
  print "Channels: "
  for (n = 1; n <= 500; n++) {
    row = n " " sprintf("%03d", (n * seed) % 1000) " " sprintf("%03d", (n * 13 + seed) % 1000) " "
    if (n <= 100) row = row "PLTX " sprintf("%.1f", 136 + n * 0.5 + seed) " PLRX " sprintf("%.1f", 400 + n * 0.3) " "
    print row
  }
}'
