#!/usr/bin/env bash
# chip_sound_match.sh PROGRAM SHARED_DIR: the board with its chips' own sound plays a song as
# chips mode does. A copy of a YM2151 song and of an AY-3-8910 song, their clocks set to the
# board's own (FM 3993600 Hz, AY 1996800 Hz, so that the board plays the writes as they are),
# is rendered in chips mode and with --board --chip-sound; the two left+right sums must correlate
# at 0.995 or more and their levels differ by at most 0.2 dB.
set -euo pipefail
program=$1 shared=$2
skip() { echo "SKIP: $1"; [ -n "${CI:-}" ] && exit 1; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# set_clock FILE OFFSET HZ: a little-endian 32-bit clock field.
set_clock() {
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($3 & 255)) $(($3 >> 8 & 255)) \
    $(($3 >> 16 & 255)) $(($3 >> 24 & 255)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
fail=0
for song in "vgm/ym2151/DeckTheHalls.vgm 48 3993600" "vgm/ay/02_StartingPoint.vgm 116 1996800"; do
  set -- $song
  [ -f "$shared/testdata/$1" ] || skip "$shared/testdata/$1 is missing"
  cp "$shared/testdata/$1" "$work/song.vgm"
  set_clock "$work/song.vgm" "$2" "$3"
  "$program" render "$work/song.vgm" --length 12 --raw "$work/chips.s32" -o "$work/c.wav" \
    >"$work/out.txt" 2>&1 || { cat "$work/out.txt"; exit 1; }
  "$program" render "$work/song.vgm" --length 12 --board --chip-sound --raw "$work/board.s32" \
    -o "$work/b.wav" >"$work/out.txt" 2>&1 || { cat "$work/out.txt"; exit 1; }
  sums() { od -An -v -t d4 -w8 "$1" | awk '{ print $1 + $2 }'; }
  paste <(sums "$work/chips.s32") <(sums "$work/board.s32") | awk -v song="$(basename "$1")" '
    { n++; sx += $1; sy += $2; sxx += $1 * $1; syy += $2 * $2; sxy += $1 * $2 }
    END {
      cxx = sxx - sx * sx / n; cyy = syy - sy * sy / n; cxy = sxy - sx * sy / n
      r = cxy / sqrt(cxx * cyy); db = 10 * log(cyy / cxx) / log(10)
      printf "%s: %d frames, correlation %.6f, level %+.3f dB\n", song, n, r, db
      exit (n < 100000 || r < 0.995 || db > 0.2 || db < -0.2) }' || { echo "FAIL $1"; fail=1; }
done
exit $fail
