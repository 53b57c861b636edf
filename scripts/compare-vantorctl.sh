#!/usr/bin/env bash
# Runs two builds of vantorctl side by side on the same commands and says, for each, whether they
# behaved the same: standard output, standard error, exit status, the files the run left in its working
# folder (read-all -o), and the requests the simulated device saw.
#   scripts/compare-vantorctl.sh OLD_VANTORCTL NEW_VANTORCTL SIMULATOR
# Prints one line per command ("same" or "DIFFERS" with the command and what differed; a diff of the
# differing parts goes to standard error), then a count. Exit status 0 when every command behaved the
# same, 1 when one did not, 2 for bad usage or when the simulated device could not be started.
#
# Every command gets a fresh simulated device per build, so both builds start from the same device.
# Both builds run at the same paths (one private ports directory, one working folder, each emptied and
# refilled between runs), one after the other, so that messages naming a file or port compare equal.
# From the device's request log the leading seconds and the longest pause within a request are left
# out: both are times, and how a request's bytes spread over the device's reads is the scheduler's.
set -euo pipefail
shopt -s nullglob

usage() {
  echo "usage: $0 OLD_VANTORCTL NEW_VANTORCTL SIMULATOR" >&2
  exit 2
}
[ $# -eq 3 ] || usage
absolute() { case $1 in /*) printf '%s\n' "$1" ;; *) printf '%s\n' "$PWD/$1" ;; esac; }
old=$(absolute "$1")
new=$(absolute "$2")
simulator=$(absolute "$3")
for program in "$old" "$new" "$simulator"; do
  if [ ! -f "$program" ] || [ ! -x "$program" ]; then
    echo "$0: $program is not an executable file" >&2
    exit 2
  fi
done

top=$(mktemp -d "${TMPDIR:-/tmp}/compare-vantorctl.XXXXXX")
ports_dir=$top/ports
work=$top/work
home=$top/home
results=$top/results
sim_pid=
run_pid=

stop_simulator() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
  fi
}
cleanup() {
  if [ -n "$run_pid" ]; then
    kill -TERM "$run_pid" 2>/dev/null || true
    wait "$run_pid" 2>/dev/null || true
  fi
  stop_simulator
  rm -rf "$top"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# Texts at their fields' lengths (32 and 12 bytes) and one byte over.
serial32=ABCDEFGHIJKLMNOPQRSTUVWXYZ012345
serial33=${serial32}6
description12=Desk-Unit-12
description13=${description12}3
if [ ${#serial32} -ne 32 ] || [ ${#description12} -ne 12 ]; then
  echo "$0: the texts are not 32 and 12 bytes long" >&2
  exit 2
fi

# One command per line: the simulator's extra options, then "|", then one or more vantorctl runs
# separated by ";", all against the same device. Words are split on spaces and never globbed.
commands=$(cat <<EOF
| get wide-band
| set wide-band disable ; get wide-band
| set wide-band 3 ; get wide-band
| get disp
| set disp TBD ; get disp
--fault 35:status1 | set disp TBD ; get disp
| get squelch
| set squelch SQLCH ; get squelch
| get radio-mfg
| set radio-mfg 2 ; get radio-mfg
| get dtmf-delay
| set dtmf-delay 20 ; get dtmf-delay
| set dtmf-delay 21 ; get dtmf-delay
| get min-volume
| set min-volume 15 ; get min-volume
| set min-volume 16 ; get min-volume
| -- set min-volume -1 ; get min-volume
| get serial-number
| set serial-number $serial32 ; get serial-number
| set serial-number $serial33 ; get serial-number
| get user-description
| set user-description $description12 ; get user-description
| set user-description $description13 ; get user-description
| read 7
| write 7 123 456 146.5 440.2 ; read 7
| write 100 12 34 136.1 ; read 100
| write 250 987 654 ; read 250
| write 250 987 654 146.5 ; read 250
| write 500 999 000 ; read 500
| write 7 12A 456 ; read 7
| write 100 123 456 14x.5 ; read 100
--fault 33/r@1:silence | read 7
| write-all table.txt ; read-all
| read-all -o out.txt
| write-all --verify table.txt
| verify table.txt
--load table.txt | verify table.txt
| write-all notes.txt
| write-all bad-row.txt
| frobnicate
| --port 9 get disp
EOF
)

# The working folder each run starts in: a small table, a file that is not a table, and a table one of
# whose rows cannot be written (codes of two lengths).
fill_work() {
  rm -rf "$work" "$ports_dir" "$home"
  mkdir -p "$work" "$home/.config"
  local settings=$'SerialNumber: TABLE-7\r\nUserDescript: Bench A\r\nMINvolume: 4\r\nDTMFDelay: 9\r\nWideBand: 0\r\n'
  settings+=$'\'SQUELCH\': 2\r\n\'DISP\': 2\r\nRadioMfg: 2\r\nChannels: \r\n'
  printf '%s' "$settings" \
    $'1 12 34 PLTX 136.5 PLRX 400.3 \r\n' \
    $'7 123 456 PLTX 146.5 PLRX 440.2 \r\n' \
    $'100 321 654 PLTX 150.0 PLRX 420.0 \r\n' \
    $'250 77 88 \r\n' \
    $'500 999 000 \r\n' >"$work/table.txt"
  printf 'These are notes, not a table.\n' >"$work/notes.txt"
  printf '%s' "$settings" $'7 123 456 \r\n' $'500 12 345 \r\n' >"$work/bad-row.txt"
}

# Starts the simulator as COM1 in the ports directory and waits until it has published the port.
start_simulator() {
  local log=$1
  shift
  coproc SIMULATOR { cd "$work" && exec "$simulator" --ports-dir "$ports_dir" --port 1 --log "$log" "$@" 2>"$top/simulator.err"; }
  sim_pid=$SIMULATOR_PID
  local published=
  if ! read -r -t 30 published <&"${SIMULATOR[0]}" || [ "$published" != "$ports_dir/com1" ] ||
    [ ! -L "$ports_dir/com1" ]; then
    echo "$0: the simulated device did not start (first line: '$published')" >&2
    cat "$top/simulator.err" >&2 2>/dev/null || true
    exit 2
  fi
}

# Runs one command (its vantorctl runs) with PROGRAM against a fresh device; leaves its results in DIR.
run_one() {
  local program=$1 dir=$2 sim_options=$3 runs=$4
  mkdir -p "$dir"
  fill_work
  local -a options
  read -r -a options <<<"$sim_options"
  rm -f "$top/device.log"
  start_simulator "$top/device.log" "${options[@]}"
  : >"$dir/stdout"
  : >"$dir/stderr"
  : >"$dir/status"
  local run
  local -a words
  while read -r run; do
    read -r -a words <<<"$run"
    local status=0
    (
      cd "$work" &&
        exec env -u VANTOR_PORT -u VANTOR_BAUD VANTOR_PORTS_DIR="$ports_dir" HOME="$home" \
          XDG_CONFIG_HOME="$home/.config" LC_ALL=C timeout 60 "$program" "${words[@]}"
    ) </dev/null >>"$dir/stdout" 2>>"$dir/stderr" &
    run_pid=$!
    wait "$run_pid" || status=$?
    run_pid=
    echo "$status" >>"$dir/status"
  done < <(printf '%s\n' "$runs" | sed 's/ ; /\n/g')
  stop_simulator
  sed -E 's/^[0-9]+\.[0-9]+ //; s/ \(longest pause [0-9]+ us\)$//' "$top/device.log" >"$dir/log"
  # Whatever the runs left in the working folder, names and bytes.
  local file
  : >"$dir/files"
  while IFS= read -r -d '' file; do
    printf '== %s %s\n' "$file" "$(wc -c <"$work/$file")" >>"$dir/files"
    cat "$work/$file" >>"$dir/files"
  done < <(cd "$work" && find . -type f -print0 | sort -z)
}

set -f
total=0
differing=0
while IFS= read -r line; do
  [ -n "$line" ] || continue
  sim_options=${line%%|*}
  sim_options=${sim_options% }
  runs=${line#*| }
  total=$((total + 1))
  label=$runs
  [ -z "$sim_options" ] || label="[sim $sim_options] $runs"
  run_one "$old" "$results/$total/old" "$sim_options" "$runs"
  run_one "$new" "$results/$total/new" "$sim_options" "$runs"
  parts=()
  for part in stdout stderr status log files; do
    cmp -s "$results/$total/old/$part" "$results/$total/new/$part" || parts+=("$part")
  done
  if [ ${#parts[@]} -eq 0 ]; then
    printf '%2d same     %s\n' "$total" "$label"
  else
    differing=$((differing + 1))
    printf '%2d DIFFERS  %s  (%s)\n' "$total" "$label" "${parts[*]}"
    for part in "${parts[@]}"; do
      echo "--- $total: $label: $part (old, new)" >&2
      diff -u --label old --label new "$results/$total/old/$part" "$results/$total/new/$part" |
        head -n 40 >&2 || true
    done
  fi
done <<<"$commands"

echo "$((total - differing)) of $total commands the same, $differing differ"
[ "$differing" -eq 0 ]
