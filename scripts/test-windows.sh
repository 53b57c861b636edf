#!/usr/bin/env bash
# `make test-windows`: the cross-built tests under wine, then vantorctl.exe against the simulated device on
# one of wine's COM ports, byte for byte beside the Linux vantorctl, then both read-alls at 19200 baud,
# compared by outcome and timed.
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
# The simulated devices' framing pause. A home number write has no length field, so a device ends it at a
# pause, and a client descheduled between two of its one-byte writes for longer splits it in two. Under
# wine the Win32 link pauses up to 1 ms between two bytes of a request on an idle machine, 11 ms beside two
# busy loops and 16 ms beside six; the Linux link up to 5.4 ms beside two. 100 ms is six times the worst
# of those and leaves 150 ms of the client's 250 ms wait for a reply. Both sides get it, so that their
# logs compare line for line.
gap_ms=100

export WINEPREFIX=$win/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
work=$(mktemp -d "${TMPDIR:-/tmp}/vantor-windows-XXXXXX")
sims=()

cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/com$com" "$WINEPREFIX/dosdevices/com6" "$WINEPREFIX/dosdevices/com7"
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
  "$sim" --ports-dir "$work/$name" --port "$com" --gap "$gap_ms" --log "$work/$name.log" "$@" \
    >"$work/$name.out" 2>&1 &
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

# The device's log without its clock and pauses: what it received and what it answered, in order.
exchanges() { sed -E 's/^[0-9.]+ //; s/ \(longest pause [0-9]+ us\)$//' "$1"; }

# How long the sender paused inside requests, and how close that came to the framing pause.
pauses() { "$root/scripts/request-pauses.sh" --gap "$gap_ms" "$1"; }

echo "== ui/ for Windows"
# Qt for Windows is not packaged here, so the window is only compiled, syntax only, by the Windows compiler
# against this system's Qt headers: enough to catch a call that exists on Linux alone. StopSignals.cpp is
# the POSIX file that StopSignalsWin32.cpp replaces there.
# The version the build gives the window, as ui/CMakeLists.txt does.
version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
for source in "$root"/ui/*.cpp; do
  [ "$(basename "$source")" = StopSignals.cpp ] && continue
  x86_64-w64-mingw32-g++-posix -std=c++20 -fsyntax-only -w -DWIN32_LEAN_AND_MEAN -DNOMINMAX \
    -DVANTOR_VERSION="\"$version\"" -I"$root" $(pkg-config --cflags Qt6Widgets) "$source" ||
    fail "$(basename "$source") does not compile for Windows"
done
echo "every file of ui/ compiles for Windows"

# Wine itself fails now and then: its server drops a program's connection ("wine client error: ...
# Connection reset by peer") and the program dies before it sends a byte. That says nothing of
# vantorctl.exe, so the Windows side then starts again from a fresh device and a fresh server (three tries
# in all); a failure of the program itself is never retried.
wine_failed() { grep -l '^wine client error' "$@" 2>/dev/null | head -1; }
restart_wineserver() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p >/dev/null 2>&1 || true
}
echo "== wine prefix"
# One server for the whole run, so that each program starts in a fraction of a second (it is there
# already when another wine program of this prefix still runs).
wineserver -p >/dev/null 2>&1 || true
wineboot --init >/dev/null 2>&1
# The window's tests make real windows with no display: wine's null display driver takes them.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1

echo "== unit tests under wine"
# The window's tests have devices of their own, so that what they change on a device reaches no other
# test: one as usual on wine's COM7, and on COM6 one that never answers, for the window's waits.
extra_coms=()
start_extra_device() {
  local name=$1 number=$2
  shift 2
  mkdir -p "$work/$name"
  "$sim" --ports-dir "$work/$name" --port "$number" "$@" >"$work/$name.out" 2>&1 &
  sims=("$!" "${sims[@]}")  # first in the list: stop_device stops the latest usual one
  for _ in $(seq 100); do
    [ -L "$work/$name/com$number" ] && break
    sleep 0.05
  done
  [ -L "$work/$name/com$number" ] || fail "the $name device did not start: $(cat "$work/$name.out")"
  ln -sfn "$(readlink -f "$work/$name/com$number")" "$WINEPREFIX/dosdevices/com$number"
  extra_coms+=("$number")
}
start_extra_device silent 6 --fault '*:silence'
start_extra_device window 7 --gap "$gap_ms"
start_device unit
export VANTOR_TEST_COM=$com VANTOR_TEST_WINDOW_COM=7 VANTOR_TEST_SILENT_COM=6
if ! ctest --test-dir "$win" --output-on-failure -j "$jobs" | tee "$work/unit.err"; then
  [ -n "$(wine_failed "$work/unit.err")" ] || fail "unit tests failed under wine"
  echo "  (wine failed on its own; the failed tests run again)"
  restart_wineserver
  ctest --test-dir "$win" --output-on-failure --rerun-failed || fail "unit tests failed under wine"
fi
unset VANTOR_TEST_COM VANTOR_TEST_WINDOW_COM VANTOR_TEST_SILENT_COM
stop_device
for number in "${extra_coms[@]}"; do rm -f "$WINEPREFIX/dosdevices/com$number"; done

echo "== vantorctl.exe beside vantorctl"
"$root/scripts/table-file.sh" 3 >"$work/start.txt"
"$root/scripts/table-file.sh" 7 >"$work/write.txt"
# A wine server that a wine program has to start again (the first one having died) keeps that program's
# standard error and writes its object dump there: never this script's.
win_table=$(winepath -w "$work/write.txt" 2>/dev/null)
commands=(
  "get wide-band" "set wide-band 2" "get wide-band"
  "get disp" "set disp 2" "get squelch" "set squelch 1" "get radio-mfg" "set radio-mfg 2"
  "get dtmf-delay" "set dtmf-delay 9" "get min-volume" "set min-volume 12"
  "get serial-number" "set serial-number WIN-0042" "get user-description" "set user-description Wine-desk"
  "write 7 123 456 145.5 146.2" "read 7" "write 250 12 34" "read 250"
  "write-all TABLE" "read-all" "get serial-number" "get user-description"
)
run_commands() {
  local side=$1 i status words
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
}
run_commands linux
for try in 1 2 3; do
  rm -f "$work"/windows.*
  run_commands windows
  failed=$(wine_failed "$work"/windows.*.err) || true
  [ -z "$failed" ] && break
  echo "  (wine failed on its own in try $try: $(head -1 "$failed"); started again)"
  [ "$try" = 3 ] || restart_wineserver
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
echo "pauses inside requests, the device's framing pause being $gap_ms ms:"
echo "  vantorctl.exe (wine): $(pauses "$work/windows.log")"
echo "  vantorctl    (Linux): $(pauses "$work/linux.log")"
[ "$mismatches" = 0 ] || fail "$mismatches differences between vantorctl.exe and vantorctl"
echo "${#commands[@]} commands, $requests requests: the same bytes, output and exit status from both"

echo "== read-all at $baud baud"
# The device paced at the line's speed. A reply is read a fixed 10 ms after its first byte has come, and
# a device held off the processor for longer (on a loaded machine) has not sent all of it by then: the
# row is read again, and a run that reads rows again six times ends early, as it must. That depends on
# scheduling, not on the program, so such a run is started again (three tries in all) and reported. What
# must hold: both sides end with exit status 0 and write the device's table byte for byte. The times, the
# rows read again and the requests the device left unanswered (cut short or split) are reported.
#
# The protocol's floor for one exchange: the request's and the first reply byte's time on the line and the
# device's turnaround, rounded up to the next polling round (half the interval), plus the interval the
# wait adds after the first byte; the interval is 100 ms for the two text reads, else 10 ms.
floor_seconds() {
  exchanges "$1" | awk -v baud="$baud" '$1 == "request" {
    n = NF - 1; byte = 10000 / baud
    text = n == 2 && $3 == "02" && ($2 == "37" || $2 == "3C")
    interval = text ? 100 : 10; round = interval / 2
    first = n * byte + 2 + byte
    total += (first / round == int(first / round) ? first / round : int(first / round) + 1) * round + interval
  } END { printf "%.2f", total / 1000 }'
}
# Requests, the repeats among them (a row read again), and those the device left unanswered.
traffic() {
  exchanges "$1" | awk '
    $1 == "request" { requests++; if (seen[$0]++) retries++; if (open) unanswered++; open = 1; next }
    { open = 0 }
    END { if (open) unanswered++; printf "%d requests, %d repeated, %d unanswered", requests, retries, unanswered }'
}
repeats() { exchanges "$1" | awk '$1 == "request" && seen[$0]++ { n++ } END { print n + 0 }'; }
timed() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>"$work/timed.err" && status=0 || status=$?
  end=$(date +%s%N)
  echo "$status $(((end - start) / 1000000))"
}
# Runs one side's paced read-all into $work/paced-SIDE.txt; sets status and ms, and log to the device's log.
paced_read_all() {
  local side=$1 try
  for try in 1 2 3; do
    start_device "paced-$side-$try" --load "$work/start.txt" --pace "$baud"
    log=$work/paced-$side-$try.log
    if [ "$side" = linux ]; then
      read -r status ms < <(VANTOR_PORTS_DIR=$work/paced-$side-$try timed "$linux_ctl" --port "$com" \
        --baud "$baud" read-all -o "$work/paced-$side.txt")
    else
      read -r status ms < <(timed wine "$win_ctl" --port "$com" --baud "$baud" read-all \
        -o "$(winepath -w "$work/paced-$side.txt" 2>/dev/null)")
    fi
    stop_device
    [ "$try" = 3 ] && return
    if [ -n "$(wine_failed "$work/timed.err")" ]; then
      echo "  ($side: wine failed on its own: $(head -1 "$work/timed.err"); started again)"
      restart_wineserver
      continue
    fi
    if [ "$status" = 0 ] || [ "$(repeats "$log")" = 0 ]; then return; fi
    echo "  ($side: exit status $status after $(traffic "$log"); started again)"
  done
}
paced_read_all linux
linux_status=$status linux_ms=$ms linux_log=$log
paced_read_all windows
windows_status=$status windows_ms=$ms windows_log=$log
read -r _ start_ms < <(timed wine "$win_ctl" --help)
floor=$(floor_seconds "$linux_log")
awk -v l="$linux_ms" -v w="$windows_ms" -v s="$start_ms" -v f="$floor" -v n="$(grep -c ' request ' "$linux_log")" 'BEGIN {
  printf "read-all, %d exchanges, floor %.2f s\n", n, f
  printf "  vantorctl      (Linux): %6.2f s, ratio to the floor %.3f\n", l / 1000, l / 1000 / f
  printf "  vantorctl.exe  (wine):  %6.2f s, ratio to the floor %.3f, %.3f times the Linux time\n", w / 1000, w / 1000 / f, w / l
  printf "  (wine takes %.2f s to start and end vantorctl.exe --help)\n", s / 1000
}'
echo "  vantorctl      (Linux): exit status $linux_status, $(traffic "$linux_log")"
echo "  vantorctl.exe  (wine):  exit status $windows_status, $(traffic "$windows_log")"
[ "$linux_status" = 0 ] && [ "$windows_status" = 0 ] ||
  fail "the paced read-all failed (exit status $linux_status on Linux, $windows_status under wine)"
cmp -s "$work/paced-linux.txt" "$work/paced-windows.txt" ||
  fail "the paced read-all runs wrote different table files: $(diff "$work/paced-linux.txt" "$work/paced-windows.txt" | head -10)"
"$root/scripts/table-file.sh" 3 | cmp -s - "$work/paced-linux.txt" ||
  fail "the paced read-all's table file is not the device's table"
echo "both wrote the device's table"
