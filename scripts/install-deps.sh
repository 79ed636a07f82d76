#!/usr/bin/env bash
# Installs what building and testing needs on Debian 12 (as root, or through
# sudo when run as another user).
# Quick when everything is there already: then it only checks.
set -euo pipefail

packages=(
  cmake
  ninja-build
  g++
  make
  libgtest-dev
  googletest
  libbenchmark-dev
  clang
  libclang-rt-14-dev
  # Windows cross compilers: i686 for the products and the tests, x86_64 for
  # the tests on machines that cannot run 32-bit user code.
  mingw-w64
  g++-mingw-w64-i686
  g++-mingw-w64-x86-64
  # Wine: the 32-bit one runs the i686 test programs and needs i386 multiarch;
  # the 64-bit one runs the x86_64 ones and brings the 64-bit wineserver.
  wine
  wine32:i386
  wine64
  # A headless X server for the window tests.
  xvfb
  xauth
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  # Root is needed to install: ask sudo when there is one (a container often
  # runs as root and has none).
  if command -v sudo >/dev/null 2>&1; then
    exec sudo "$0" "$@"
  fi
  echo "install-deps: missing ${missing[*]}; run as root" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
echo "install-deps: done"
