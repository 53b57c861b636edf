#!/bin/bash
# Runs the suite (or some of it) as a loaded build machine would: in a CPU control group limited to
# QUOTA percent of one processor, beside BUSY loops that spend the same quota. When the group has used its
# share, the system stops all of it, the test and its simulated device together, for the rest of each
# 100 ms period: the pauses a test must survive without failing by chance.
#
#   sudo scripts/test-under-load.sh [--quota PERCENT] [--busy N] [--build DIR] [ctest arguments...]
#
# Defaults: --quota 100 --busy 2 --build build, then `-j2 --output-on-failure`. Needs root and the cpu
# controller (cgroup v1 or v2). Prints the group's throttling figures at the end.
set -euo pipefail

quota=100
busy=2
build=build
while [[ $# -gt 0 ]]; do
    case "$1" in
        --quota) quota="$2"; shift 2 ;;
        --busy) busy="$2"; shift 2 ;;
        --build) build="$2"; shift 2 ;;
        *) break ;;
    esac
done
[[ $# -gt 0 ]] || set -- -j2 --output-on-failure
if [[ ! "$quota" =~ ^[1-9][0-9]*$ || ! "$busy" =~ ^[0-9]+$ ]]; then
    echo "test-under-load: --quota takes a percentage above 0, --busy a count" >&2
    exit 2
fi
build=$(cd "$build" && pwd)

group=vantor-under-load-$$
if [[ -d /sys/fs/cgroup/cpu && -f /sys/fs/cgroup/cpu/cpu.cfs_quota_us ]]; then
    dir=/sys/fs/cgroup/cpu/$group
    mkdir "$dir"
    echo 100000 > "$dir/cpu.cfs_period_us"
    echo $((quota * 1000)) > "$dir/cpu.cfs_quota_us"
elif [[ -f /sys/fs/cgroup/cgroup.controllers ]] && grep -qw cpu /sys/fs/cgroup/cgroup.controllers; then
    dir=/sys/fs/cgroup/$group
    echo +cpu > /sys/fs/cgroup/cgroup.subtree_control 2>/dev/null || true
    mkdir "$dir"
    echo "$((quota * 1000)) 100000" > "$dir/cpu.max"
else
    echo "test-under-load: no cpu control group to limit (needs root and the cpu controller)" >&2
    exit 2
fi

loops=()
cleanup() {
    for pid in "${loops[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    echo "test-under-load: $(tr '\n' ' ' < "$dir/cpu.stat")"
    echo $$ > "$(dirname "$dir")/cgroup.procs" 2>/dev/null || true
    rmdir "$dir" 2>/dev/null || true
}
trap cleanup EXIT

echo $$ > "$dir/cgroup.procs"
for ((i = 0; i < busy; ++i)); do
    (while :; do :; done) &
    loops+=($!)
done
cd "$build"
QT_QPA_PLATFORM=offscreen ctest "$@"
