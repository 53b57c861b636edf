#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, `make run` and `make package` need.
# Safe to run again: it does nothing when everything is already there.
# `install-deps.sh windows` adds the cross-compiler and wine for `make windows` and `make test-windows`, and
# NSIS for `make windows-package`.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev
  nlohmann-json3-dev
  qt6-base-dev qt6-base-private-dev libgl-dev
  xvfb xauth
  fonts-dejavu-core
  dpkg-dev file desktop-file-utils groff-base
)
if [ "${1:-}" = windows ]; then
  packages+=(g++-mingw-w64-x86-64-posix wine wine64 googletest nsis)
fi
# `install-deps.sh fuzz` adds clang with libFuzzer and the sanitizers' runtimes, and llvm for coverage.
if [ "${1:-}" = fuzz ]; then
  packages+=(clang libclang-rt-dev llvm)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
