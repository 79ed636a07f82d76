#!/usr/bin/env bash
# Reliability checks, all in one clang tree built with AddressSanitizer and
# UBSan (build/rel-asan unless QZ_REL_BUILD says otherwise):
#   1. the whole unit suite under the sanitizers
#   2. clang-tidy with the check list of .clang-tidy over the sources
#   3. every fuzz target for a fixed number of runs from the seed corpus
#   4. a fault-injection campaign with a fixed seed
# Prints a summary; exits non-zero on any finding.
#
# Sizes (environment): QZ_JOBS (2), QZ_FUZZ_RUNS (5000 per target),
# QZ_CAMPAIGN_RUNS (300), QZ_CAMPAIGN_SEED (1).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${QZ_REL_BUILD:-$root/build/rel-asan}")
jobs=${QZ_JOBS:-2}
fuzz_runs=${QZ_FUZZ_RUNS:-5000}
campaign_runs=${QZ_CAMPAIGN_RUNS:-300}
campaign_seed=${QZ_CAMPAIGN_SEED:-1}
started=$(date +%s)
# A wrong setting must not turn the checks into a silent pass: status 2.
if [ $# -ne 0 ]; then
  echo "check-reliability: takes no arguments (sizes come from the environment, see the top of $0)" >&2
  exit 2
fi
for setting in "QZ_JOBS=$jobs" "QZ_FUZZ_RUNS=$fuzz_runs" "QZ_CAMPAIGN_RUNS=$campaign_runs"; do
  if ! [[ ${setting#*=} =~ ^[0-9]{1,9}$ ]] || [ "${setting#*=}" -lt 1 ]; then
    echo "check-reliability: ${setting%%=*} must be a whole number above 0, not \"${setting#*=}\"" >&2
    exit 2
  fi
done
if ! [[ $campaign_seed =~ ^[0-9]{1,19}$ ]]; then
  echo "check-reliability: QZ_CAMPAIGN_SEED must be a whole number, not \"$campaign_seed\"" >&2
  exit 2
fi
STEP_WIDTH=32
. "$root/scripts/lib/steps.sh"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

build_tree() {
  local generator=()
  command -v ninja >/dev/null 2>&1 && [ ! -f "$build/CMakeCache.txt" ] && generator=(-G Ninja)
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQZ_SANITIZE=ON -DQZ_FUZZ=ON -DQZ_WERROR=ON >/dev/null &&
    cmake --build "$build" -j "$jobs"
}

unit_suite() {
  timeout 1800 ctest --test-dir "$build" -j "$jobs" --output-on-failure --timeout 300
}

static_analysis() {
  local list
  list=$(mktemp)
  python3 - "$build/compile_commands.json" "$root" >"$list" <<'PY'
import json, re, sys
root = sys.argv[2]
pattern = re.compile(re.escape(root) + r'/(flash|vcard|setup|linux|driver|campaign|fuzz)/')
files = sorted({e['file'] for e in json.load(open(sys.argv[1])) if pattern.search(e['file'])})
print('\n'.join(files))
PY
  echo "clang-tidy over $(wc -l <"$list") files"
  # Every file is analysed even after a finding; xargs exits non-zero if any had one.
  xargs -P "$jobs" -n 4 clang-tidy -p "$build" --quiet <"$list" 2>/dev/null
  local rc=$?
  rm -f "$list"
  return $rc
}

max_len_of() {
  case $1 in
    image_length|image_ids|bios_version|load_image) echo 70000 ;;
    setup_region) echo 40000 ;;
    machine_file) echo 500000 ;;
    *) echo 4096 ;;
  esac
}

fuzz_runs_of() {
  # The profile parser stages a whole machine per input, a machine file is
  # a whole machine: fewer runs (at least one).
  case $1 in
    profile|machine_file) echo $(( fuzz_runs / 4 > 0 ? fuzz_runs / 4 : 1 )) ;;
    *) echo "$fuzz_runs" ;;
  esac
}

fuzz_short() {
  local seeds=$build/seeds work rc=0
  work=$(mktemp -d)
  "$build/fuzz/qz_fuzz_seeds" "$seeds" "$root/vcard/profiles" || return 1
  printf '%-16s %10s %8s\n' target runs result
  local targets=0
  while read -r t; do
    targets=$((targets + 1))
    local runs log dict=()
    runs=$(fuzz_runs_of "$t")
    log=$work/$t.log
    [ -f "$root/fuzz/dict/$t.dict" ] && dict=(-dict="$root/fuzz/dict/$t.dict")
    mkdir -p "$work/$t"
    (cd "$work" && timeout 600 "$build/fuzz/fuzz_$t" "$work/$t" "$seeds/$t" -runs="$runs" -seed=1 \
       -max_len="$(max_len_of "$t")" "${dict[@]}" -timeout=20 -artifact_prefix="$work/$t-" </dev/null >"$log" 2>&1)
    local r=$?
    # libFuzzer ends with "Done N runs": a target that ran fewer inputs than
    # asked checked less than it claims.
    local done_runs
    done_runs=$(grep -oE '^Done [0-9]+ runs' "$log" | grep -oE '[0-9]+' | tail -1)
    if [ $r -eq 0 ] && [ "${done_runs:-0}" -lt "$runs" ]; then
      printf '%-16s %10d %8s\n' "$t" "${done_runs:-0}" "TOO FEW"
      rc=1
    elif [ $r -eq 0 ]; then
      printf '%-16s %10d %8s\n' "$t" "$runs" clean
    else
      printf '%-16s %10d %8s\n' "$t" "$runs" "FOUND"
      grep -E 'ERROR|property|SUMMARY|Test unit written' "$log" | head -8
      [ -s "$log" ] || echo "  (no output; exit $r)"
      rc=1
    fi
  done <"$build/fuzz/targets.txt"
  rm -rf "$work"
  if [ $targets -eq 0 ]; then
    echo "no fuzz target in $build/fuzz/targets.txt"
    return 1
  fi
  return $rc
}

campaign() {
  timeout 1800 "$build/campaign/qz_campaign" --runs "$campaign_runs" --seed "$campaign_seed" --timeout 120
}

if step "build $(basename "$build") (clang, ASan+UBSan)" build_tree; then
  step "unit suite under sanitizers" unit_suite
  step "clang-tidy" static_analysis
  step "fuzz targets ($fuzz_runs runs each)" fuzz_short
  step "campaign ($campaign_runs runs, seed $campaign_seed)" campaign
fi

echo
echo "==== reliability summary ($(( $(date +%s) - started ))s)"
for s in "${steps[@]}"; do echo "  $s"; done
if [ $failures -ne 0 ]; then
  echo "check-reliability: $failures step(s) failed"
  exit 1
fi
echo "check-reliability: all steps passed"
