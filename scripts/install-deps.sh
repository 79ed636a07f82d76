#!/usr/bin/env bash
# Installs what the project needs on Debian 12 (as root, or through sudo when
# run as another user). Quick when everything is there already: then it only
# checks.
#   install-deps.sh          what the demo needs: a C++ compiler and CMake
#   install-deps.sh --full   everything the whole test run needs: test
#                            libraries, sanitizer runtimes, the Windows cross
#                            compilers, Wine (with i386 multiarch) and Xvfb
set -euo pipefail

# The demo builds the Linux front end alone (scripts/demo.sh).
demo_packages=(
  cmake
  g++
  make
)

full_packages=(
  "${demo_packages[@]}"
  ninja-build
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

case "${1:-}" in
  "") packages=("${demo_packages[@]}"); set_name="the demo" ;;
  --full) packages=("${full_packages[@]}"); set_name="the full development set" ;;
  -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) echo "install-deps: unknown argument \"$1\" (use --full or nothing)" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages of $set_name present"
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

echo "install-deps: installing for $set_name: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
for p in "${missing[@]}"; do
  if [[ $p == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    break
  fi
done
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
echo "install-deps: done"
