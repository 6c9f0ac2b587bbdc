#!/usr/bin/env bash
# The board's saved state after a fixed script: the same bytes from every build (the hash kept
# in the scripts' folder), a run that starts from it plays the same, and a state cut short is
# refused with nothing written. The Linux and the Windows (through Wine) builds are checked
# against the same hashes.
#
#   state_check.sh RUNNER PROGRAM MODULE SCRIPTS_DIR [--update]
set -euo pipefail
. "$(dirname "$0")/fresh_run.sh"
runner=$1 program=$2 module=$3 scripts=$4 update=${5:-}
golden="$scripts/state_golden.txt"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fresh_run "$work" "$runner" "$program" "$module" "$scripts/state_save.board" \
  render state_save.board --state-out state.bin --raw out.s32
cp "$work/run/state.bin" "$work/state.bin"
state=$(sha256sum <"$work/state.bin" | cut -c1-64)
FRESH_ALSO="$work/state.bin" fresh_run "$work" "$runner" "$program" "$module" \
  "$scripts/state_continue.board" render state_continue.board --state-in state.bin \
  --raw out.s32 --report report.txt
played=$(sha256sum <"$work/run/out.s32" | cut -c1-64)
report=$(tr -d '\r' <"$work/run/report.txt" | sha256sum | cut -c1-64)

if [[ "$update" == "--update" ]]; then
  printf 'state %s\ncontinue %s %s\n' "$state" "$played" "$report" >"$golden"
  echo "updated $golden ($(stat -c %s "$work/state.bin") bytes of state)"
  exit 0
fi
fail=0
[[ "state $state" == "$(grep '^state ' "$golden")" ]] ||
  { echo "FAIL state bytes: $state"; fail=1; }
[[ "continue $played $report" == "$(grep '^continue ' "$golden")" ]] ||
  { echo "FAIL continued run: $played $report"; fail=1; }

# Cut short by one byte: refused, no output.
head -c -1 "$work/state.bin" >"$work/cut.bin"
mv "$work/cut.bin" "$work/state.bin"
if FRESH_ALSO="$work/state.bin" fresh_run "$work" "$runner" "$program" "$module" \
    "$scripts/state_continue.board" render state_continue.board --state-in state.bin \
    --raw out.s32 >/dev/null; then
  echo "FAIL a state cut short was taken"
  fail=1
elif [[ -e "$work/run/out.s32" ]] || ! grep -q "not a saved state of this board" "$work/out.txt"; then
  echo "FAIL a state cut short: output written or no message:"
  cat "$work/out.txt"
  fail=1
fi
[[ $fail == 0 ]] && echo "ok   state bytes, continued run, refusal"
exit $fail
