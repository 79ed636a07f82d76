#!/usr/bin/env bash
# Builds the native flash utility and runs it on a virtual machine: it finds
# the supported cards on the machine's PCI buses and prints the card table.
#   demo.sh [PROFILE]   (default: vcard/profiles/three-cards.profile)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${QZ_BUILD_ROOT:-$root/build}/native
profile=$(realpath "${1:-$root/vcard/profiles/three-cards.profile}")

generator=()
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
cmake -S "$root" -B "$build" "${generator[@]}" >/dev/null
cmake --build "$build" -j "${QZ_JOBS:-2}" --target qzflash >/dev/null

# The virtual flash parts keep their contents in files beside the run.
mkdir -p "$build/demo"
cd "$build/demo"
echo "\$ qzflash --virtual $(basename "$profile") list"
"$build/linux/qzflash" --virtual "$profile" list
