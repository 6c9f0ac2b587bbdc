# Sourced by the output checks. fresh_run WORK RUNNER PROGRAM MODULE INPUT ARGS...: copies the
# program, its module file and INPUT into an empty WORK/run (so that the settings file starts
# from the defaults) and runs the program there with ARGS, through RUNNER unless it is "-".
# Its output goes to WORK/out.txt; on failure that is printed after "FAIL INPUT: vorla failed:"
# and the status is 1. Files named in the variable FRESH_ALSO are copied in beside INPUT.
fresh_run() {
  local work=$1 runner=$2 program=$3 module=$4 input=$5
  shift 5
  rm -rf "$work/run" && mkdir "$work/run"
  cp "$program" "$module" "$input" ${FRESH_ALSO:-} "$work/run/"
  if (
    cd "$work/run"
    if [[ "$runner" == "-" ]]; then
      "./$(basename "$program")" "$@"
    else
      $runner "$(basename "$program")" "$@"
    fi
  ) >"$work/out.txt" 2>&1; then
    return 0
  fi
  echo "FAIL $(basename "$input"): vorla failed:"
  cat "$work/out.txt"
  return 1
}
