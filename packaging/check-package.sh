#!/usr/bin/env bash
# Checks the Debian package that `make package` made in BUILD, without installing it: its control
# fields, its files, and that what it holds runs from where it was unpacked.
#
#   packaging/check-package.sh [BUILD]      (default: build)
set -euo pipefail

build=${1:-build}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
deb=$build/vantor-radio-config_${version}_$(dpkg --print-architecture).deb
[ -n "$version" ] && [ -f "$deb" ] || { echo "check-package: no package $deb; run make package" >&2; exit 1; }

failures=0
fail() {
  echo "check-package: $*" >&2
  failures=$((failures + 1))
}

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = vantor-radio-config ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
for f in Maintainer Description Section Priority; do
  [ -n "$(field "$f")" ] || fail "no $f field"
done
depends=$(field Depends)
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
  [[ ", $depends," == *", $lib "* || ", $depends," == *", $lib,"* ]] || fail "Depends lacks $lib: $depends"
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
usr=$root/usr

for f in bin/vantor-radio-config bin/vantor-device-sim \
         share/applications/vantor-radio-config.desktop \
         share/icons/hicolor/48x48/apps/vantor-radio-config.png \
         share/icons/hicolor/128x128/apps/vantor-radio-config.png; do
  [ -s "$usr/$f" ] || fail "the package lacks /usr/$f"
done
for size in 48 128; do
  png=$usr/share/icons/hicolor/${size}x$size/apps/vantor-radio-config.png
  if [ -f "$png" ] && ! file -b "$png" | grep -q "PNG image data, $size x $size,"; then
    fail "$png: $(file -b "$png")"
  fi
done

desktop-file-validate "$usr/share/applications/vantor-radio-config.desktop" || fail "the desktop entry is not valid"
grep -qx 'Exec=vantor-radio-config' "$usr/share/applications/vantor-radio-config.desktop" ||
  fail "the desktop entry does not start vantor-radio-config"

# Every program but the window documents itself with --help and has the man page made from it.
for program in "$usr"/bin/*; do
  name=$(basename "$program")
  [ "$name" = vantor-radio-config ] && continue
  "$program" --help >/dev/null || fail "$name --help failed"
  page=$usr/share/man/man1/$name.1.gz
  if [ ! -f "$page" ]; then
    fail "no man page for $name"
  elif ! zcat "$page" | groff -man -ww -z 2>&1 | { ! grep .; }; then
    fail "the man page of $name has roff warnings"
  fi
done

# The window starts from where it was unpacked and runs until it is stopped.
home=$root/home
mkdir -p "$home"
status=0
HOME=$home XDG_CONFIG_HOME=$home/.config QT_QPA_PLATFORM=offscreen \
  timeout -k 5 3 "$usr/bin/vantor-radio-config" >"$root/window.log" 2>&1 || status=$?
[ "$status" -eq 124 ] || { cat "$root/window.log" >&2; fail "the window ended by itself (status $status)"; }

if [ "$failures" -ne 0 ]; then
  echo "check-package: $deb: $failures problem(s)" >&2
  exit 1
fi
echo "check-package: $deb is sound ($(find "$root/usr" -type f | wc -l) files; Depends: $depends)"
