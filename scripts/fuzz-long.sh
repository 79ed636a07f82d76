#!/usr/bin/env bash
# Long fuzzing of every target: round after round, each target gets a time
# slice that continues from its corpus, until each has run the goal number
# of inputs or the time is up. One fuzzer at a time, so it takes one core.
#
#   scripts/fuzz-long.sh [--goal N] [--slice SECONDS] [--hours H] [--build DIR] [TARGET...]
#
# Defaults: goal 10,000,000 inputs per target, 600 s slices, 24 hours,
# build/rel-fuzz (clang, AddressSanitizer and UBSan, no tests). The corpus
# grows in DIR/corpus/TARGET and is kept between runs; whatever a run finds
# (crash-*, timeout-*, leak-*, oom-*) lands in DIR/findings/TARGET. The
# executions so far are kept in DIR/fuzz-long/TARGET.execs, so a later call
# goes on where this one stopped. Exits 1 when anything was found or no input
# was run (every target already at the goal), 2 on a wrong argument.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/rel-fuzz
goal=10000000
slice=600
hours=24
targets=()
# A wrong argument must not turn the run into a silent pass: status 2.
usage() {
  echo "fuzz-long: $1" >&2
  echo "usage: scripts/fuzz-long.sh [--goal N] [--slice SECONDS] [--hours H] [--build DIR] [TARGET...]" >&2
  exit 2
}
number() {
  [ $# -ge 2 ] || usage "$1 needs a value"
  [[ $2 =~ ^[0-9]{1,12}$ ]] && [ "$2" -gt 0 ] || usage "$1 takes a whole number above 0, not \"$2\""
}
while [ $# -gt 0 ]; do
  case $1 in
    --goal) number "$@"; goal=$2; shift 2 ;;
    --slice) number "$@"; slice=$2; shift 2 ;;
    --hours) number "$@"; hours=$2; shift 2 ;;
    --build) [ $# -ge 2 ] && [ -n "$2" ] || usage "--build needs a folder"; build=$(realpath -m "$2"); shift 2 ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    -*) usage "unknown option \"$1\"" ;;
    *)
      [ -f "$root/fuzz/fuzz_$1.cpp" ] || usage "no fuzz target \"$1\" (fuzz/fuzz_$1.cpp)"
      targets+=("$1"); shift ;;
  esac
done

generator=()
command -v ninja >/dev/null 2>&1 && [ ! -f "$build/CMakeCache.txt" ] && generator=(-G Ninja)
CC=clang CXX=clang++ cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQZ_SANITIZE=ON -DQZ_FUZZ=ON -DQZ_BUILD_TESTS=OFF >/dev/null || exit 1
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < "$build/fuzz/targets.txt"
cmake --build "$build" -j 1 --target qz_fuzz_seeds "${targets[@]/#/fuzz_}" >/dev/null || exit 1
"$build/fuzz/qz_fuzz_seeds" "$build/seeds" "$root/vcard/profiles" >/dev/null || exit 1

# Longest input per target: whole images and files a little past 64 KiB.
max_len() {
  case $1 in
    image_length|image_ids|bios_version|load_image) echo 70000 ;;
    setup_region) echo 40000 ;;
    machine_file) echo 500000 ;;
    *) echo 4096 ;;
  esac
}
dict() {
  [ -f "$root/fuzz/dict/$1.dict" ] && echo "-dict=$root/fuzz/dict/$1.dict"
}

state=$build/fuzz-long
mkdir -p "$state"
deadline=$(( $(date +%s) + hours * 3600 ))
execs_of() { cat "$state/$1.execs" 2>/dev/null || echo 0; }

round=0
ran_now=0
while [ "$(date +%s)" -lt $deadline ]; do
  round=$((round + 1))
  pending=0
  for t in "${targets[@]}"; do
    done_so_far=$(execs_of "$t")
    [ "$done_so_far" -ge "$goal" ] && continue
    left=$(( deadline - $(date +%s) ))
    [ $left -le 0 ] && break
    pending=1
    run=$slice
    [ $left -lt $run ] && run=$left
    mkdir -p "$build/corpus/$t" "$build/findings/$t"
    log=$state/$t.round$round.log
    # stdin from /dev/null: nothing a profile names can wait for input.
    ( cd "$build/findings/$t" &&
      timeout --kill-after=30 $((run + 300)) "$build/fuzz/fuzz_$t" "$build/corpus/$t" "$build/seeds/$t" \
        -max_total_time=$run -max_len="$(max_len "$t")" $(dict "$t") -timeout=10 -rss_limit_mb=2560 \
        -use_value_profile=1 -print_final_stats=1 -artifact_prefix="$build/findings/$t/" \
        </dev/null >"$log" 2>&1 )
    rc=$?
    ran=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
    if [ -z "$ran" ]; then
      # A crash ends the run before the final statistics: take the last status line.
      ran=$(grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#')
    fi
    echo $(( done_so_far + ${ran:-0} )) > "$state/$t.execs"
    ran_now=$(( ran_now + ${ran:-0} ))
    if [ "${ran:-0}" -eq 0 ]; then
      echo "fuzz-long: $t ran no input in round $round (see $log)"
      empty_slices=$(( ${empty_slices:-0} + 1 ))
    fi
    printf 'round %d  %-15s %12d executions  (exit %d)\n' $round "$t" "$(execs_of "$t")" $rc
  done
  [ $pending -eq 0 ] && break
done

echo
echo "==== fuzz-long summary"
printf '%-15s %14s %8s %9s\n' target executions corpus findings
found=0
for t in "${targets[@]}"; do
  n=$(find "$build/findings/$t" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'timeout-*' -o -name 'leak-*' -o -name 'oom-*' -o -name 'slow-unit-*' \) 2>/dev/null | wc -l)
  c=$(find "$build/corpus/$t" -type f 2>/dev/null | wc -l)
  found=$((found + n))
  printf '%-15s %14d %8d %9d\n' "$t" "$(execs_of "$t")" "$c" "$n"
done
if [ "$ran_now" -eq 0 ]; then
  echo "fuzz-long: no input was run (every target had reached the goal of $goal, or none could run)"
  exit 1
fi
[ "${empty_slices:-0}" -eq 0 ] || exit 1
[ $found -eq 0 ]
