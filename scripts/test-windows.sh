#!/usr/bin/env bash
# `make test-windows`: the cross-built tests under wine, then vantorctl.exe against the simulated device on
# one of wine's COM ports, byte for byte beside the Linux vantorctl, then both read-all times at 19200 baud.
#   scripts/test-windows.sh LINUX_BUILD WINDOWS_BUILD [JOBS]
# Wine keeps its prefix in WINDOWS_BUILD/wineprefix and needs no display.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/${1:-build}
win=$root/${2:-build-windows}
jobs=${3:-2}
sim=$build/sim/vantor-device-sim
linux_ctl=$build/cli/vantorctl
win_ctl=$win/cli/vantorctl.exe
# Wine maps COM1 to /dev/ttyS0 on its own; the device gets a number of its own above that.
com=5
baud=19200

export WINEPREFIX=$win/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
work=$(mktemp -d "${TMPDIR:-/tmp}/vantor-windows-XXXXXX")
sims=()

cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/com$com"
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "test-windows: $*" >&2
  exit 1
}

# Starts a simulated device in $work/NAME (its log in $work/NAME.log) and makes it wine's COM port.
start_device() {
  local name=$1
  shift
  mkdir -p "$work/$name"
  "$sim" --ports-dir "$work/$name" --port "$com" --log "$work/$name.log" "$@" >"$work/$name.out" 2>&1 &
  sims+=("$!")
  for _ in $(seq 100); do
    [ -L "$work/$name/com$com" ] && break
    sleep 0.05
  done
  [ -L "$work/$name/com$com" ] || fail "the simulated device did not start: $(cat "$work/$name.out")"
  ln -sfn "$(readlink -f "$work/$name/com$com")" "$WINEPREFIX/dosdevices/com$com"
}

stop_device() {
  local pid=${sims[-1]}
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  unset 'sims[-1]'
  rm -f "$WINEPREFIX/dosdevices/com$com"
}

# A full table file: the eight settings, 500 rows of 3-digit codes, PLL values on 1 to 100. SEED varies it.
table_file() {
  awk -v seed="$1" 'BEGIN {
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
}

# The device's log without its clock: what it received and what it answered, in order.
exchanges() { sed -E 's/^[0-9.]+ //' "$1"; }

echo "== ui/ for Windows"
# Qt for Windows is not packaged here, so the window is only compiled, syntax only, by the Windows compiler
# against this system's Qt headers: enough to catch a call that exists on Linux alone. StopSignals.cpp is
# the POSIX file that StopSignalsWin32.cpp replaces there.
for source in "$root"/ui/*.cpp; do
  [ "$(basename "$source")" = StopSignals.cpp ] && continue
  x86_64-w64-mingw32-g++-posix -std=c++20 -fsyntax-only -w -DWIN32_LEAN_AND_MEAN -DNOMINMAX -I"$root" $(pkg-config --cflags Qt6Widgets) "$source" ||
    fail "$(basename "$source") does not compile for Windows"
done
echo "every file of ui/ compiles for Windows"

echo "== wine prefix"
# One server for the whole run, so that each program starts in a fraction of a second (it is there
# already when another wine program of this prefix still runs).
wineserver -p >/dev/null 2>&1 || true
wineboot --init >/dev/null 2>&1

echo "== unit tests under wine"
start_device unit
VANTOR_TEST_COM=$com ctest --test-dir "$win" --output-on-failure -j "$jobs"
stop_device

echo "== vantorctl.exe beside vantorctl"
table_file 3 >"$work/start.txt"
table_file 7 >"$work/write.txt"
win_table=$(winepath -w "$work/write.txt")
commands=(
  "get wide-band" "set wide-band 2" "get wide-band"
  "get disp" "set disp 2" "get squelch" "set squelch 1" "get radio-mfg" "set radio-mfg 2"
  "get dtmf-delay" "set dtmf-delay 9" "get min-volume" "set min-volume 12"
  "get serial-number" "set serial-number WIN-0042" "get user-description" "set user-description Wine-desk"
  "write 7 123 456 145.5 146.2" "read 7" "write 250 12 34" "read 250"
  "write-all TABLE" "read-all" "get serial-number" "get user-description"
)
for side in linux windows; do
  start_device "$side" --load "$work/start.txt"
  for i in "${!commands[@]}"; do
    read -ra words <<<"${commands[$i]}"
    status=0
    if [ "$side" = linux ]; then
      words=("${words[@]/#TABLE/$work/write.txt}")
      VANTOR_PORTS_DIR=$work/$side "$linux_ctl" --port "$com" --baud "$baud" "${words[@]}" \
        >"$work/$side.$i.out" 2>"$work/$side.$i.err" || status=$?
    else
      words=("${words[@]/#TABLE/$win_table}")
      wine "$win_ctl" --port "$com" --baud "$baud" "${words[@]}" \
        >"$work/$side.$i.out" 2>"$work/$side.$i.err" || status=$?
      # The one text that differs: the table file's path as each system names it.
      sed -i "s|$(printf '%s' "$win_table" | sed 's/[\\.]/\\&/g')|$work/write.txt|g" "$work/$side.$i.err"
    fi
    echo "$status" >"$work/$side.$i.status"
  done
  stop_device
done
mismatches=0
for i in "${!commands[@]}"; do
  for part in status out err; do
    if ! cmp -s "$work/linux.$i.$part" "$work/windows.$i.$part"; then
      echo "'${commands[$i]}': the ${part} differs (Linux, then Windows):"
      diff <(od -c "$work/linux.$i.$part") <(od -c "$work/windows.$i.$part") | head -20 || true
      mismatches=$((mismatches + 1))
    fi
  done
  [ "$(cat "$work/linux.$i.status")" = 0 ] || { echo "'${commands[$i]}' failed on both"; mismatches=$((mismatches + 1)); }
done
if ! diff <(exchanges "$work/linux.log") <(exchanges "$work/windows.log") >"$work/exchanges.diff"; then
  echo "the device received or answered differently (Linux <, Windows >):"
  head -40 "$work/exchanges.diff"
  mismatches=$((mismatches + 1))
fi
requests=$(grep -c ' request ' "$work/linux.log")
[ "$mismatches" = 0 ] || fail "$mismatches differences between vantorctl.exe and vantorctl"
echo "${#commands[@]} commands, $requests requests: the same bytes, output and exit status from both"

echo "== read-all at $baud baud"
# The protocol's floor for one exchange: the request's and the first reply byte's time on the line and the
# device's turnaround, rounded up to the next polling round (half the interval), plus the interval the
# wait adds after the first byte; the interval is 100 ms for the two text reads, else 10 ms.
floor_seconds() {
  awk -v baud="$baud" '$2 == "request" {
    n = NF - 2; byte = 10000 / baud
    text = n == 2 && $4 == "02" && ($3 == "37" || $3 == "3C")
    interval = text ? 100 : 10; round = interval / 2
    first = n * byte + 2 + byte
    total += (first / round == int(first / round) ? first / round : int(first / round) + 1) * round + interval
  } END { printf "%.2f", total / 1000 }' "$1"
}
timed() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
start_device paced-linux --load "$work/start.txt" --pace "$baud"
linux_ms=$(VANTOR_PORTS_DIR=$work/paced-linux timed "$linux_ctl" --port "$com" --baud "$baud" read-all)
stop_device
start_device paced-windows --load "$work/start.txt" --pace "$baud"
windows_ms=$(timed wine "$win_ctl" --port "$com" --baud "$baud" read-all)
start_ms=$(timed wine "$win_ctl" --help)
stop_device
diff -q <(exchanges "$work/paced-linux.log" | grep request) <(exchanges "$work/paced-windows.log" | grep request) \
  >/dev/null || fail "the paced read-all runs sent different requests"
floor=$(floor_seconds "$work/paced-linux.log")
awk -v l="$linux_ms" -v w="$windows_ms" -v s="$start_ms" -v f="$floor" -v n="$(grep -c ' request ' "$work/paced-linux.log")" 'BEGIN {
  printf "read-all, %d exchanges, floor %.2f s\n", n, f
  printf "  vantorctl      (Linux): %6.2f s, ratio to the floor %.3f\n", l / 1000, l / 1000 / f
  printf "  vantorctl.exe  (wine):  %6.2f s, ratio to the floor %.3f, %.3f times the Linux time\n", w / 1000, w / 1000 / f, w / l
  printf "  (wine takes %.2f s to start and end vantorctl.exe --help)\n", s / 1000
}'
