#!/usr/bin/env bash
# Renders every board script named in the golden list through a built vorla program and its
# module file, and compares the SHA-256 of the raw output and of the report with the list.
# The Linux and the Windows (through Wine) builds are checked against the same list.
#
#   golden_check.sh RUNNER PROGRAM MODULE SCRIPTS_DIR GOLDEN_LIST [--update] [OPTION...]
#
# Each OPTION is passed to every render (--chip-sound: the list of the chips' own sound).
# RUNNER is "wine" for the Windows program, "-" for none. Each script runs in a fresh copy of
# program and module (fresh_run.sh).
set -euo pipefail
. "$(dirname "$0")/fresh_run.sh"
runner=$1 program=$2 module=$3 scripts=$4 golden=$5
shift 5
update=
if [[ "${1:-}" == "--update" ]]; then update=--update; shift; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail=0
lines=()
while read -r name raw_hash report_hash; do
  if [[ -z "$name" || "$name" == \#* ]]; then
    lines+=("$name${raw_hash:+ $raw_hash}${report_hash:+ $report_hash}")
    continue
  fi
  fresh_run "$work" "$runner" "$program" "$module" "$scripts/$name" \
    render "$name" --raw out.s32 --report report.txt "$@" || { fail=1; continue; }
  # Reports may carry CRLF line endings on Windows; the text is what is compared.
  raw=$(sha256sum <"$work/run/out.s32" | cut -c1-64)
  report=$(tr -d '\r' <"$work/run/report.txt" | sha256sum | cut -c1-64)
  lines+=("$name $raw $report")
  if [[ "$raw" != "$raw_hash" || "$report" != "$report_hash" ]]; then
    echo "FAIL $name: raw $raw report $report (expected $raw_hash $report_hash)"
    fail=1
  else
    echo "ok   $name"
  fi
done <"$golden"

if [[ "$update" == "--update" ]]; then
  printf '%s\n' "${lines[@]}" >"$golden"
  echo "updated $golden"
  exit 0
fi
exit $fail
