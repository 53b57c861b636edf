#!/usr/bin/env bash
# `make fuzz`: builds every libFuzzer target of fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into BUILD (default build-fuzz), and runs each for SECONDS (default 60)
# from its committed corpus (fuzz/corpus/NAME, read only: what the run finds goes to a folder of its own)
# with its dictionary (fuzz/NAME.dict). Prints for each target its runs, the coverage libFuzzer counts
# (edges of the instrumented code, and features) and the corpus it ended with; an input that crashed,
# broke a target's check, hung or ran out of memory is kept as BUILD/findings/NAME-* and fails the run.
#   scripts/fuzz.sh [--seconds S] [--seed N] [--build DIR] [--only NAME] [--coverage]
# libFuzzer's mutations follow --seed (default 1), so runs from the committed corpus begin alike; they part
# once timing or the target's own state leads them to keep different inputs. --seed 0 lets libFuzzer pick
# one, to look somewhere new.
# With --coverage, each target's corpus after the run is replayed through a build with source-based
# coverage (BUILD-coverage), and the lines of the code it aims at that were run are reported.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=60
seed=1
build=build-fuzz
only=
coverage=false
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --coverage) coverage=true; shift ;;
    *) echo "usage: $0 [--seconds S] [--seed N] [--build DIR] [--only NAME] [--coverage]" >&2; exit 2 ;;
  esac
done
cd "$root"
case $build in /*) ;; *) build=$root/$build ;; esac
bash scripts/install-deps.sh fuzz

# What each target aims at, for its coverage: the sources, and the functions of them whose lines are
# counted (a pattern of their mangled names).
declare -A aims=(
  [table_file]="tablefile/TableFileReader.cpp"
  [table_csv]="table/TableCsv.cpp"
  [arguments]="cli/Bench.cpp cli/Station.cpp device/SerialNumbers.cpp"
  [record]="cli/Report.cpp"
  [session]="device/DeviceSession.cpp device/DeviceTransfers.cpp protocol/SettingExchange.cpp protocol/Frame.cpp table/HomeNumberExchange.cpp"
  [settings]="ui/RememberedSettings.cpp"
)
declare -A functions=(
  [table_file]="."
  [table_csv]="."
  [arguments]="ParsePortList|PortListText|SerialNumbers|_GLOBAL__N_1(5Parse|6Number|7Written)"
  [record]="CsvField|4Utf8"
  [session]="."
  [settings]="."
)
targets=()
for name in $(printf '%s\n' "${!aims[@]}" | sort); do
  [ -z "$only" ] || [ "$only" = "$name" ] && targets+=("$name")
done
[ ${#targets[@]} -gt 0 ] || { echo "$0: no target named '$only'" >&2; exit 2; }

configure() {  # DIR [extra flags]
  [ -f "$1/CMakeCache.txt" ] && return
  CXX=clang++ cmake -S . -B "$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTOR_FUZZ=ON -DBUILD_TESTING=OFF \
    ${2:+"-DCMAKE_CXX_FLAGS=$2"} >/dev/null
}
configure "$build"
cmake --build "$build" -j "$(nproc)" --target fuzz_targets >/dev/null

mkdir -p "$build/findings" "$build/corpus"
failed=0
for name in "${targets[@]}"; do
  work="$build/corpus/$name"
  mkdir -p "$work"
  log="$build/$name.log"
  status=0
  # A crash, a failed check, a hang of 10 s on one input or 2 GB of memory ends the run with the input kept.
  # The system libraries' caches that live until exit (fontconfig's, for the window's target) are no leaks.
  (cd "$build/findings" && LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp:print_suppressions=0 \
     "$build/fuzz/${name}_fuzz" -max_total_time="$seconds" -seed="$seed" -timeout=10 \
     -rss_limit_mb=2048 -print_final_stats=1 -dict="$root/fuzz/$name.dict" -artifact_prefix="$name-" \
     "$work" "$root/fuzz/corpus/$name") >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corpus=$(sed -n 's/.* corp: \([0-9]*\/[0-9]*[a-zA-Z]*\).*/\1/p' <<<"$last")
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "fuzz $name: FAILED after ${runs:-?} runs (status $status); see $log and $build/findings/"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|[a-z ]+: )' "$log" | head -5 | sed 's/^/  /'
  else
    echo "fuzz $name: ${runs:-?} runs in ${seconds} s, coverage ${cov:-?} edges, ${ft:-?} features, corpus ${corpus:-?}"
  fi
done

if $coverage; then
  cov_build="$build-coverage"
  configure "$cov_build" "-fprofile-instr-generate -fcoverage-mapping"
  cmake --build "$cov_build" -j "$(nproc)" --target fuzz_targets >/dev/null
  for name in "${targets[@]}"; do
    profile="$cov_build/$name"
    rm -f "$profile".profraw
    LLVM_PROFILE_FILE="$profile.profraw" "$cov_build/fuzz/${name}_fuzz" -runs=0 \
      "$build/corpus/$name" "fuzz/corpus/$name" >/dev/null 2>&1 || true
    llvm-profdata merge -sparse "$profile.profraw" -o "$profile.profdata"
    sources=()
    for source in ${aims[$name]}; do sources+=("$root/$source"); done
    llvm-cov report -show-functions "$cov_build/fuzz/${name}_fuzz" -instr-profile="$profile.profdata" \
      "${sources[@]}" | awk -v name="$name" -v aim="${functions[$name]}" -v files="${aims[$name]}" '
      NF == 10 && $2 ~ /^[0-9]+$/ && $1 ~ aim { lines += $5; missed += $6; branches += $8; bmissed += $9 }
      END { printf "coverage %s: %d of %d lines (%.1f%%), %d of %d branches (%.1f%%) of what it aims at in %s\n",
            name, lines - missed, lines, lines ? 100 * (lines - missed) / lines : 0,
            branches - bmissed, branches, branches ? 100 * (branches - bmissed) / branches : 0, files }'
  done
fi
exit $failed
