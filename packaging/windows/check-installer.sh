#!/usr/bin/env bash
# Checks the Windows installer that `make windows-package` made in WIN_BUILD, under wine, in a wine prefix
# of its own made afresh (WIN_BUILD/wineprefix-installer; no display needed):
#   - a silent install (`/S`) goes to the current user's programs folder, a silent `/S /AllUsers` to
#     Program Files: each puts the window, vantorctl.exe and the uninstaller there (the programs byte for
#     byte as built and stripped, needing no DLL that is not there), a Start menu shortcut to the window, and its
#     Uninstall key (HKCU or HKLM, and only that one) with exactly the values Apps & features reads;
#   - the installed vantorctl.exe --help and, when the window was installed, the window's --version run;
#   - each uninstaller, run as Apps & features runs it (its QuietUninstallString), removes its own
#     installation and leaves the other one alone; once both are gone, the files and the Uninstall keys
#     are as they were before the first install.
#   packaging/windows/check-installer.sh [WIN_BUILD]      (default: build-windows)
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
win=$(cd "${1:-build-windows}" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win/CMakeCache.txt" 2>/dev/null || true)
[ -n "$version" ] || { echo "check-installer: no project version in $win/CMakeCache.txt; run make windows" >&2; exit 1; }
setup=$win/vantor-radio-config-$version-setup.exe
[ -f "$setup" ] || { echo "check-installer: no installer $setup; run make windows-package" >&2; exit 1; }
# The programs the installer was made from (`make windows-package-check` passes WIN_WINDOW_EXE on), which
# it holds stripped.
built_ctl=$win/cli/vantorctl.exe
built_window=${WIN_WINDOW_EXE:-$win/ui-win32/vantor-radio-config.exe}
objdump=x86_64-w64-mingw32-objdump
strip=x86_64-w64-mingw32-strip
product="Vantor Radio Config"
key_path="Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product"
# The first line of vantorctl's usage, as cli/Usage.cpp has it.
usage_line=$(sed -n 's/^ *R"(\(Usage: vantorctl .*\)$/\1/p' "$root/cli/Usage.cpp" | sed -n 1p)
[ -n "$usage_line" ] || { echo "check-installer: no usage line in cli/Usage.cpp" >&2; exit 1; }

export WINEPREFIX=$win/wineprefix-installer WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
work=$(mktemp -d "${TMPDIR:-/tmp}/vantor-installer-XXXXXX")
passed=
# The prefix stays after a failure, to be looked into.
cleanup() {
  timeout 60 wineserver -k 2>/dev/null || true
  timeout 60 wineserver -w 2>/dev/null || true
  [ -z "$passed" ] || rm -rf "$WINEPREFIX"
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "check-installer: $*" >&2
  failures=$((failures + 1))
}
die() {
  echo "check-installer: $*" >&2
  exit 1
}

# Every wine call is bounded: a program that hangs ends the check rather than CI.
wine_run() { timeout 120 wine "$@"; }
# Waits until every program of the prefix has ended (an uninstaller that started its copy from the temp
# folder, say) and the server has gone.
wine_settle() { timeout 120 wineserver -w || die "the wine prefix did not come to rest within 120 s"; }

bytes=$(stat -c %s "$setup")
echo "installer: ${setup#"$root/"}, $bytes bytes ($(((bytes + 1023) / 1024)) KiB)"

echo "== wine prefix"
rm -rf "$WINEPREFIX"
timeout 300 wineboot --init >/dev/null 2>&1 || die "wineboot failed"
wine_settle

# Windows' own folders in this prefix, as Windows names them and as paths here.
wine_run cmd /c 'echo %LOCALAPPDATA%&echo %APPDATA%&echo %ProgramW6432%&echo %ProgramData%' \
  >"$work/folders" 2>/dev/null || die "cmd did not tell the folders"
mapfile -t folders < <(tr -d '\r' <"$work/folders")
[ "${#folders[@]}" = 4 ] || die "cmd told $(cat "$work/folders")"
local_appdata=${folders[0]} appdata=${folders[1]} program_files=${folders[2]} program_data=${folders[3]}
unix_path() { timeout 60 winepath -u "$1" 2>/dev/null | sed 's|/$||' || die "winepath failed on $1"; }
windows_path() { timeout 60 winepath -w "$1" 2>/dev/null || die "winepath failed on $1"; }
# A folder or file of drive C: as the snapshot below lists it (C:\a\b is ./a/b).
drive_c_entry() {
  local p=${1#[Cc]:\\}
  echo "./${p//\\//}"
}

# The value of `wine reg query` as lines "NAME TYPE DATA", sorted; nothing when there is no such key.
reg_key() {
  wine_run reg query "$1" 2>/dev/null | tr -d '\r' | awk -F'    ' 'NF >= 3 && $1 == "" { print $2 " " $3 " " $4 }' |
    LC_ALL=C sort || true
}
reg_key_exists() { wine_run reg query "$1" >/dev/null 2>&1; }

# What a check of "nothing left behind" compares: every file and folder of drive C: (but the temp
# folders, where an uninstaller leaves the copy of itself it ran from, as on Windows), and both
# Uninstall trees.
snapshot() {
  local out=$1
  (cd "$WINEPREFIX/drive_c" && find . -ipath '*/temp' -prune -o -print | LC_ALL=C sort) >"$out.files"
  local hive tree
  # Both Uninstall trees, without their own name: Windows' Uninstall key itself, made by the first
  # installer that registers there, stays as it does on Windows.
  for hive in HKCU HKLM; do
    tree="$hive\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
    wine_run reg query "$tree" /s 2>/dev/null | tr -d '\r' | grep -v '^$' | sed 1d >"$out.$hive.reg" || true
  done
}
snapshot "$work/before"

mkdir "$work/stripped"
for exe in "$built_ctl" "$built_window"; do
  [ -f "$exe" ] || die "no $exe to compare the installed program with"
done
# Stripped as `make windows-package` strips them, keeping the time each was linked (the PE header's).
link_time() { od -An -tu4 -j $(($(od -An -tu4 -j 60 -N4 "$1") + 8)) -N4 "$1" | tr -d ' '; }
SOURCE_DATE_EPOCH=$(link_time "$built_ctl") "$strip" -o "$work/stripped/vantorctl.exe" "$built_ctl" ||
  die "$strip failed on $built_ctl"
SOURCE_DATE_EPOCH=$(link_time "$built_window") "$strip" -o "$work/stripped/vantor-radio-config.exe" "$built_window" ||
  die "$strip failed on $built_window"

# The target of a shell link (.lnk): LinkInfo's local base path and common path suffix.
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
c_string() { tail -c +$(($2 + 1)) "$1" | tr '\0' '\n' | sed -n 1p; }
link_target() {
  local lnk=$1 flags info
  [ "$(u32 "$lnk" 0)" = 76 ] || { echo "(not a shell link)"; return; }
  flags=$(u32 "$lnk" 20)
  info=76
  if ((flags & 1)); then info=$((76 + 2 + $(u16 "$lnk" 76))); fi
  if ! ((flags & 2)) || ! (($(u32 "$lnk" $((info + 8))) & 1)); then
    echo "(no local target)"
    return
  fi
  echo "$(c_string "$lnk" $((info + $(u32 "$lnk" $((info + 16))))))$(c_string "$lnk" $((info + $(u32 "$lnk" $((info + 24))))))"
}

# Each DLL an installed program imports must be in the system folder or beside it.
check_imports() {
  local exe=$1 dir dll
  dir=$(dirname "$exe")
  while read -r dll; do
    if [ ! -e "$WINEPREFIX/drive_c/windows/system32/${dll,,}" ] && [ ! -e "$dir/$dll" ]; then
      fail "$(basename "$exe") needs $dll, which is neither a system DLL nor installed beside it"
    fi
  done < <("$objdump" -p "$exe" | sed -n 's/^\tDLL Name: //p')
}

# What one mode installed: MODE HIVE FOLDER SHORTCUT, the last two as Windows names them.
check_installed() {
  local mode=$1 hive=$2 dir_win=$3 shortcut_win=$4 dir shortcut bytes size out status
  dir=$(unix_path "$dir_win")
  shortcut=$(unix_path "$shortcut_win")
  [ -d "$dir" ] || { fail "$mode: no folder $dir_win"; return; }
  local listed
  listed=$(cd "$dir" && find . -mindepth 1 | LC_ALL=C sort | tr '\n' ' ')
  [ "$listed" = "./uninstall.exe ./vantor-radio-config.exe ./vantorctl.exe " ] ||
    fail "$mode: $dir_win holds $listed"
  cmp -s "$dir/vantorctl.exe" "$work/stripped/vantorctl.exe" || fail "$mode: vantorctl.exe is not $built_ctl, stripped"
  cmp -s "$dir/vantor-radio-config.exe" "$work/stripped/vantor-radio-config.exe" ||
    fail "$mode: vantor-radio-config.exe is not $built_window, stripped"
  for exe in "$dir"/*.exe; do check_imports "$exe"; done

  if [ -f "$shortcut" ]; then
    [ "$(link_target "$shortcut")" = "$dir_win\\vantor-radio-config.exe" ] ||
      fail "$mode: the shortcut leads to $(link_target "$shortcut"), not $dir_win\\vantor-radio-config.exe"
  else
    fail "$mode: no Start menu shortcut $shortcut_win"
  fi

  # EstimatedSize: the folder's files in KiB, rounded down.
  bytes=$(cat "$dir"/* | wc -c)
  size=$(printf '0x%x' $((bytes / 1024)))
  LC_ALL=C sort >"$work/expected.reg" <<EOF
DisplayIcon REG_SZ $dir_win\\vantor-radio-config.exe,0
DisplayName REG_SZ $product
DisplayVersion REG_SZ $version
EstimatedSize REG_DWORD $size
InstallLocation REG_SZ $dir_win
NoModify REG_DWORD 0x1
NoRepair REG_DWORD 0x1
Publisher REG_SZ Vantor
QuietUninstallString REG_SZ "$dir_win\\uninstall.exe" /$mode /S
UninstallString REG_SZ "$dir_win\\uninstall.exe" /$mode
EOF
  reg_key "$hive\\$key_path" >"$work/actual.reg"
  diff "$work/expected.reg" "$work/actual.reg" >"$work/reg.diff" ||
    fail "$mode: the Uninstall key $hive\\$key_path differs (expected <, actual >):$(printf '\n%s' "$(cat "$work/reg.diff")")"
  # A 64-bit installer writes the 64-bit registry, never its 32-bit view.
  ! reg_key_exists "$hive\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product" ||
    fail "$mode: an Uninstall key in the 32-bit view of $hive"

  status=0
  wine_run "$dir_win\\vantorctl.exe" --help >"$work/help.out" 2>"$work/help.err" || status=$?
  [ "$status" = 0 ] || fail "$mode: vantorctl.exe --help ended with exit status $status: $(head -3 "$work/help.err")"
  out=$(tr -d '\r' <"$work/help.out" | sed -n 1p)
  [ "$out" = "$usage_line" ] || fail "$mode: vantorctl.exe --help begins '$out', not '$usage_line'"
  echo "  vantorctl.exe --help: $out"

  if [ -f "$dir/vantor-radio-config.exe" ]; then
    status=0
    wine_run "$dir_win\\vantor-radio-config.exe" --version >"$work/version.out" 2>"$work/version.err" || status=$?
    [ "$status" = 0 ] || fail "$mode: vantor-radio-config.exe --version ended with exit status $status"
    # One line, ended as either system ends it.
    if ! printf '%s %s\n' "$product" "$version" | cmp -s - "$work/version.out" &&
      ! printf '%s %s\r\n' "$product" "$version" | cmp -s - "$work/version.out"; then
      fail "$mode: vantor-radio-config.exe --version printed '$(head -c 200 "$work/version.out")', not the line '$product $version'"
    fi
    echo "  vantor-radio-config.exe --version: $(tr -d '\r' <"$work/version.out")"
  fi
}

check_removed() {
  local mode=$1 hive=$2 dir_win=$3 shortcut_win=$4 dir shortcut
  dir=$(unix_path "$dir_win")
  shortcut=$(unix_path "$shortcut_win")
  [ ! -e "$dir" ] || fail "$mode: $dir_win is still there, holding: $(cd "$dir" && find . -mindepth 1 | tr '\n' ' ')"
  [ ! -e "$shortcut" ] || fail "$mode: the shortcut $shortcut_win is still there"
  ! reg_key_exists "$hive\\$key_path" || fail "$mode: the Uninstall key $hive\\$key_path is still there"
}

# Runs an Uninstall key's QuietUninstallString as Apps & features does, and waits for the uninstaller:
# it starts a copy of itself from the temp folder and returns at once.
uninstall() {
  local mode=$1 hive=$2 command exe args status=0
  command=$(reg_key "$hive\\$key_path" | sed -n 's/^QuietUninstallString REG_SZ //p')
  [ -n "$command" ] || { fail "$mode: no QuietUninstallString in $hive\\$key_path"; return; }
  exe=${command#\"}
  exe=${exe%%\"*}
  read -ra args <<<"${command#\""$exe"\"}"
  echo "  $command"
  wine_run "$exe" "${args[@]}" || status=$?
  [ "$status" = 0 ] || fail "$mode: the uninstaller ended with exit status $status"
  wine_settle
}

install() {
  local mode=$1 status=0
  shift
  echo "  $(basename "$setup") $*"
  wine_run "$setup" "$@" >"$work/setup.out" 2>&1 || status=$?
  [ "$status" = 0 ] || die "$mode: the installer ended with exit status $status: $(head -5 "$work/setup.out")"
}

user_dir="$local_appdata\\Programs\\$product"
user_shortcut="$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\$product.lnk"
all_dir="$program_files\\$product"
all_shortcut="$program_data\\Microsoft\\Windows\\Start Menu\\Programs\\$product.lnk"

echo "== install for the current user (the default)"
install CurrentUser /S
check_installed CurrentUser HKCU "$user_dir" "$user_shortcut"
! reg_key_exists "HKLM\\$key_path" || fail "CurrentUser: an Uninstall key in HKLM as well"
(cd "$(unix_path "$user_dir")" && cksum ./*) >"$work/user-files"
reg_key "HKCU\\$key_path" >"$work/user-key"
echo "== install for all users"
install AllUsers /S /AllUsers
check_installed AllUsers HKLM "$all_dir" "$all_shortcut"
reg_key "HKLM\\$key_path" >"$work/all-key"
# The first installation is still there as it was, beside the second.
if ! { (cd "$(unix_path "$user_dir")" && cksum ./*) | cmp -s - "$work/user-files" &&
  [ -f "$(unix_path "$user_shortcut")" ] && reg_key "HKCU\\$key_path" | cmp -s - "$work/user-key"; }; then
  fail "AllUsers: the install for all users changed the current user's installation"
fi

echo "== uninstall for the current user"
uninstall CurrentUser HKCU
check_removed CurrentUser HKCU "$user_dir" "$user_shortcut"
if ! { [ -f "$(unix_path "$all_dir")/vantorctl.exe" ] && [ -f "$(unix_path "$all_shortcut")" ] &&
  reg_key "HKLM\\$key_path" | cmp -s - "$work/all-key"; }; then
  fail "uninstalling the current user's installation touched the one for all users"
fi
echo "== uninstall for all users"
uninstall AllUsers HKLM
check_removed AllUsers HKLM "$all_dir" "$all_shortcut"

echo "== nothing left behind"
snapshot "$work/after"
# The per-user programs folder is Windows' (FOLDERID_UserProgramFiles), made by the first program
# installed there; it stays, as it does on Windows.
user_programs=$(drive_c_entry "$local_appdata\\Programs")
if ! diff <(grep -vxF "$user_programs" "$work/before.files") <(grep -vxF "$user_programs" "$work/after.files") \
  >"$work/files.diff"; then
  fail "the files differ from before the first install (before <, after >):$(printf '\n%s' "$(head -20 "$work/files.diff")")"
fi
for hive in HKCU HKLM; do
  diff "$work/before.$hive.reg" "$work/after.$hive.reg" >"$work/reg.diff" ||
    fail "$hive's Uninstall keys differ from before the first install (before <, after >):$(printf '\n%s' "$(head -20 "$work/reg.diff")")"
done

if [ "$failures" != 0 ]; then
  echo "check-installer: $failures failures" >&2
  exit 1
fi
passed=1
echo "the installer installs and uninstalls for the current user and for all users"
