#!/usr/bin/env bash
# Installs what is missing, builds the three trees and runs every test:
#   build/win-prod  32-bit Windows products (win32 thread model)
#   build/win-test  Windows test programs, run under Wine
#   build/native    Linux build with -Werror: unit tests, virtual card, import check
#   build/win-test-i686  only on machines that cannot run 32-bit programs:
#                   the 32-bit test programs, built but not run
# Goes on after a failure so that the summary is complete; exits non-zero if
# any step failed.
set -uo pipefail

if [ $# -ne 0 ]; then
  echo "test-all: takes no arguments (QZ_BUILD_ROOT and QZ_JOBS come from the environment)" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QZ_BUILD_ROOT:-$root/build}
jobs=${QZ_JOBS:-2}
started=$(date +%s)

STEP_WIDTH=28
. "$root/scripts/lib/steps.sh"
tests_passed=0
tests_failed=0

generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

# configure DIR TOOLCHAIN-OR-EMPTY CMAKE-ARGS...: a folder made for another
# toolchain is started afresh rather than half reused.
configure() {
  local dir=$1 toolchain=$2
  shift 2
  local args=()
  if [ -n "$toolchain" ]; then
    args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
    if [ -f "$dir/CMakeCache.txt" ] && ! grep -q "^CMAKE_TOOLCHAIN_FILE:.*=$toolchain\$" "$dir/CMakeCache.txt"; then
      echo "test-all: $dir was made with another toolchain; starting it afresh"
      rm -rf "$dir"
    fi
  fi
  [ -f "$dir/CMakeCache.txt" ] || args+=("${generator[@]}")
  cmake -S "$root" -B "$dir" "${args[@]}" "$@"
}

build_tree() {
  local dir=$1
  shift
  configure "$dir" "$@" && cmake --build "$dir" -j "$jobs"
}

# run_ctest LABEL DIR ARGS...: runs ctest, adds its counts to the totals.
run_ctest() {
  local label=$1 dir=$2 log rc line total failed
  shift 2
  log=$(mktemp)
  "$@" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  rm -f "$log"
  if [ -z "$line" ]; then
    echo "test-all: $label: ctest printed no result line"
    return 1
  fi
  failed=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/')
  total=$(echo "$line" | sed -E 's/.*out of ([0-9]+).*/\1/')
  if [ "$total" -eq 0 ]; then
    echo "test-all: $label: no tests found in $dir"
    return 1
  fi
  tests_passed=$((tests_passed + total - failed))
  tests_failed=$((tests_failed + failed))
  return $rc
}

# 32-bit Wine needs a kernel that executes 32-bit programs; some do not, and
# there the test programs are built for 64-bit Windows instead.
wine_arch=i686
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  wine_arch=x86_64
fi

# --- dependencies
if [ "$(id -u)" -eq 0 ]; then
  step "install dependencies" timeout 1800 "$root/scripts/install-deps.sh" --full
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  step "install dependencies" timeout 1800 sudo "$root/scripts/install-deps.sh" --full
else
  step "check dependencies" "$root/scripts/install-deps.sh" --full
fi
# The probe above may have run before Wine was installed.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then wine_arch=x86_64; else wine_arch=i686; fi

# --- builds
prod_ok=0 wintest_ok=0 native_ok=0
step "build win-prod (i686)" build_tree "$build/win-prod" "$root/cmake/toolchain-i686-mingw-win32.cmake" &&
  prod_ok=1
step "build win-test ($wine_arch)" build_tree "$build/win-test" \
  "$root/cmake/toolchain-$wine_arch-mingw-posix.cmake" -DQZ_PRODUCT_DIR="$build/win-prod/bin" && wintest_ok=1
# Where the 32-bit test programs cannot run, they are still built, so that
# the test code keeps compiling for the products' target.
if [ "$wine_arch" = x86_64 ]; then
  step "build win-test-i686 (no run)" build_tree "$build/win-test-i686" \
    "$root/cmake/toolchain-i686-mingw-posix.cmake" -DQZ_PRODUCT_DIR="$build/win-prod/bin"
fi
step "build native (-Werror)" build_tree "$build/native" "" \
  -DQZ_WERROR=ON -DQZ_PRODUCT_DIR="$build/win-prod/bin" -DQZ_WINTEST_DIR="$build/win-test" && native_ok=1

if [ -d "$build/win-prod/bin" ]; then
  echo
  echo "products: $(cd "$build/win-prod/bin" && ls | tr '\n' ' ')"
fi

# --- tests
if [ $native_ok -eq 1 ]; then
  step "native tests" run_ctest native "$build/native" \
    timeout 1800 ctest --test-dir "$build/native" -j "$jobs" --output-on-failure --timeout 300
else
  skip "native tests" "(build failed)"
  failures=$((failures + 1))
fi

if [ $wintest_ok -eq 1 ]; then
  step "Wine tests ($wine_arch)" run_ctest wine "$build/win-test" timeout 2400 "$root/scripts/wine-tests.sh" "$build/win-test"
else
  skip "Wine tests" "(build failed)"
  failures=$((failures + 1))
fi

# Sanitizer build of the unit suite, clang-tidy, short fuzz runs and a
# fixed-seed fault campaign.
step "reliability checks" timeout 1800 "$root/scripts/check-reliability.sh"

# --- summary
echo
echo "==== summary ($(( $(date +%s) - started ))s)"
for s in "${steps[@]}"; do echo "  $s"; done
if [ "$wine_arch" = x86_64 ]; then
  echo "  note: this kernel does not execute 32-bit programs, so the Windows test"
  echo "        programs were built for and run on 64-bit Wine; the products are 32-bit."
fi
echo "ctest: $tests_passed passed, $tests_failed failed"
if [ $failures -ne 0 ]; then
  echo "test-all: $failures step(s) failed"
  exit 1
fi
echo "test-all: all steps passed"
