#!/usr/bin/env bash
# `make run`: the window talking to a simulated device, no hardware needed.
# Usage: run-with-sim.sh BUILD_DIR [SIMULATOR OPTION]...
# Starts BUILD_DIR/sim/vantor-device-sim as COM1 in a private ports directory, opens the window with
# VANTOR_PORTS_DIR pointing there (Serial Port 1 is then the simulator), and stops the simulator and
# removes the directory when the window closes. Extra options go to the simulator, for example
#   scripts/run-with-sim.sh build --pace 19200 --fault 33/r@5:silence --log /tmp/device.log
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [SIMULATOR OPTION]..." >&2
  exit 2
fi
build_dir=$1
shift
simulator="$build_dir/sim/vantor-device-sim"
window="$build_dir/ui/vantor-radio-config"
for program in "$simulator" "$window"; do
  if [ ! -x "$program" ]; then
    echo "$0: $program is not built; run 'make build' first" >&2
    exit 1
  fi
done

ports_dir=$(mktemp -d "${TMPDIR:-/tmp}/vantor-ports.XXXXXX")
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$ports_dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The simulator prints the published port on its first line once it serves; errors go to the terminal.
coproc SIMULATOR { exec "$simulator" --ports-dir "$ports_dir" --port 1 "$@"; }
sim_pid=$SIMULATOR_PID
if ! read -r -t 10 port <&"${SIMULATOR[0]}"; then
  echo "$0: the simulated device did not start" >&2
  exit 1
fi
echo "Simulated device on $port (Serial Port 1)"

status=0
# The demo runs on the simulator's port 1 whatever a real session kept, and keeps nothing itself.
VANTOR_PORTS_DIR="$ports_dir" "$window" --no-settings || status=$?
exit "$status"
