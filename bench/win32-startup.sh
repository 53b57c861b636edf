#!/usr/bin/env bash
# The Windows window's start-up time and memory under wine (null display driver), beside the Qt window's
# on Linux (startup_bench). Needs `make build windows`.
#   bench/win32-startup.sh [LINUX_BUILD] [WINDOWS_BUILD]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/${1:-build}
win=$root/${2:-build-windows}
export WINEPREFIX=$win/wineprefix-bench WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
wineboot --init >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
# The first start fills wine's caches; the bench starts the window five times after it.
timeout 120 wine "$win/bench/win32/win32_startup_bench.exe" "$(winepath -w "$win/ui-win32/vantor-radio-config.exe")" >/dev/null
timeout 120 wine "$win/bench/win32/win32_startup_bench.exe" "$(winepath -w "$win/ui-win32/vantor-radio-config.exe")"
QT_QPA_PLATFORM=offscreen "$build/bench/startup_bench"
wineserver -k 2>/dev/null || true
