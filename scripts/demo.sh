#!/usr/bin/env bash
# Builds the native flash utility and runs it on the virtual card: first the
# card table of a machine with several cards, then a whole save, update and
# restore cycle on the built-in dual-BIOS board, with the real waits.
#   demo.sh [PROFILE]   (card table of PROFILE; default: vcard/profiles/three-cards.profile)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# A tree of its own, without the tests: the demo needs only a compiler and
# CMake (scripts/install-deps.sh without --full).
build=${QZ_BUILD_ROOT:-$root/build}/qzflash
profile=$(realpath "${1:-$root/vcard/profiles/three-cards.profile}")

generator=()
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DQZ_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "${QZ_JOBS:-2}" --target qzflash >/dev/null

# The virtual flash parts keep their contents in files beside the run.
mkdir -p "$build/demo"
cd "$build/demo"
echo "\$ qzflash --virtual $(basename "$profile") list"
"$build/linux/qzflash" --virtual "$profile" list
echo
echo "\$ qzflash --virtual --yes --accept-restore-offer demo $build/demo"
"$build/linux/qzflash" --virtual --yes --accept-restore-offer demo "$build/demo"
