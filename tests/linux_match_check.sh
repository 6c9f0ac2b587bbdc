#!/usr/bin/env bash
# linux_match_check.sh RUNNER WINDOWS_PROGRAM LINUX_PROGRAM SONG RATE...: chips mode renders the
# song alike on Windows and on Linux: at each RATE the raw samples of both programs differ by at
# most 1 (libsoxr's floating point differs between the two builds in the last bit).
set -euo pipefail
runner=$1 windows=$2 linux=$3 song=$4
shift 4
skip() { echo "SKIP: $1"; [ -n "${CI:-}" ] && exit 1; exit 77; }
[ -f "$song" ] || skip "$song is missing"
[ -x "$linux" ] || skip "no Linux build at $linux (build the native preset first)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for rate in "$@"; do
  $runner "$windows" render "$song" --rate "$rate" --raw "$work/windows.s32" -o "$work/w.wav" \
    >"$work/out.txt" 2>&1 || { cat "$work/out.txt"; exit 1; }
  "$linux" render "$song" --rate "$rate" --raw "$work/linux.s32" -o "$work/l.wav" \
    >"$work/out.txt" 2>&1 || { cat "$work/out.txt"; exit 1; }
  samples() { od -An -v -t d4 -w4 "$1"; }
  paste <(samples "$work/windows.s32") <(samples "$work/linux.s32") | awk -v rate="$rate" '
    { d = $1 - $2; if (d < 0) d = -d; if (d > max) max = d; if (d) differ++; n++ }
    END {
      printf "%d Hz: %d samples, %d differ, by at most %d\n", rate, n, differ, max
      exit (n < 100000 || max > 1) }' || { echo "FAIL at $rate Hz"; exit 1; }
  [ "$(stat -c %s "$work/windows.s32")" = "$(stat -c %s "$work/linux.s32")" ] ||
    { echo "FAIL: the two renders differ in length at $rate Hz"; exit 1; }
done
