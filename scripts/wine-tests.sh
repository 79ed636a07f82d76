#!/usr/bin/env bash
# Runs the ctest suite of a Windows test tree under Wine, on a headless X
# server: one test at a time (first starts of Wine in one prefix collide),
# with one wineserver kept alive for the whole run to save its start-up.
#   wine-tests.sh BUILD-DIR [CTEST-ARGS...]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 1 ] || [ ! -d "$1" ]; then
  echo "usage: wine-tests.sh BUILD-DIR [CTEST-ARGS...]" >&2
  exit 2
fi
dir=$(cd "$1" && pwd)
shift

# Any program of the tree tells the runner which Wine and prefix to use.
program=$(find "$dir" -path "$dir/wineprefix" -prune -o -name '*.exe' -type f -print | sort | head -1)
if [ -z "$program" ]; then
  echo "wine-tests: no Windows programs in $dir" >&2
  exit 1
fi

export QZ_WINE_RUN=$here/wine-run QZ_PROGRAM=$program QZ_DIR=$dir
exec xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -u
  "$QZ_WINE_RUN" --init "$QZ_PROGRAM" || exit 1
  stop() { "$QZ_WINE_RUN" --server "$QZ_PROGRAM" -k 2>/dev/null; }
  "$QZ_WINE_RUN" --server "$QZ_PROGRAM" -p
  # A persistent server outlives everything unless told to go.
  trap "stop; exit 143" TERM INT
  "$QZ_WINE_RUN" --start "$QZ_PROGRAM"
  # A selection that matches no test is a failure, not a pass.
  ctest --test-dir "$QZ_DIR" -j1 --output-on-failure --no-tests=error "$@"
  rc=$?
  stop
  exit $rc
' wine-tests "$@"
