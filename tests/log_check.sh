#!/usr/bin/env bash
# Renders the log scripts with --log through a built vorla program and its module file, and
# compares the SHA-256 of each log with the list: the Linux and the Windows (through Wine) builds
# must write the same bytes.
#
#   log_check.sh RUNNER PROGRAM MODULE LOGS_DIR [--update]
#
# RUNNER is "wine" for the Windows program, "-" for none. LOGS_DIR holds the scripts and
# logs.sha256 ("SCRIPT LOG HASH" lines).
set -euo pipefail
. "$(dirname "$0")/fresh_run.sh"
runner=$1 program=$2 module=$3 logs=$4 update=${5:-}
list="$logs/logs.sha256"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail=0
lines=()
while read -r script log hash; do
  [[ -z "$script" || "$script" == \#* ]] && { lines+=("$script${log:+ $log}${hash:+ $hash}"); continue; }
  fresh_run "$work" "$runner" "$program" "$module" "$logs/$script" \
    render "$script" --raw out.s32 --log "$log" || { fail=1; continue; }
  got=$(sha256sum <"$work/run/$log" | cut -c1-64)
  lines+=("$script $log $got")
  if [[ "$got" != "$hash" ]]; then
    echo "FAIL $script -> $log: $got (expected $hash)"
    fail=1
  else
    echo "ok   $script -> $log"
  fi
done <"$list"

if [[ "$update" == "--update" ]]; then
  printf '%s\n' "${lines[@]}" >"$list"
  echo "updated $list"
  exit 0
fi
exit $fail
