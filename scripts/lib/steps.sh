# Sourced by the scripts that run a list of steps and end with a summary.
# step NAME COMMAND...: runs one step, notes its result and duration in
# `steps` and counts a failure in `failures`. STEP_WIDTH sets the name column.
steps=()
failures=0

step() {
  local name=$1 t0 rc
  shift
  echo
  echo "==== $name"
  t0=$(date +%s)
  "$@"
  rc=$?
  local took=$(( $(date +%s) - t0 ))
  if [ $rc -eq 0 ]; then
    steps+=("$(printf '%-*s ok      %4ds' "${STEP_WIDTH:-28}" "$name" "$took")")
  else
    steps+=("$(printf '%-*s FAILED  %4ds  (exit %d)' "${STEP_WIDTH:-28}" "$name" "$took" "$rc")")
    failures=$((failures + 1))
  fi
  return $rc
}

skip() {
  steps+=("$(printf '%-*s skipped        %s' "${STEP_WIDTH:-28}" "$1" "$2")")
}
