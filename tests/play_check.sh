#!/usr/bin/env bash
# play_check.sh RUNNER PROGRAM SONG [OPTION...]: `vorla play` through SDL's disk driver (which
# writes what it plays to a file) gives exactly the samples of a render of the same stretch of the
# song, followed by nothing but silence. RUNNER is "-" for a native program, or e.g. wine; the
# options go to both (`--start 4.5`: the seek to the start, made in play's seek thread a step at a
# time, lands on the render's samples).
set -euo pipefail
runner=$1 program=$2 song=$3
shift 3
[ -f "$song" ] || { echo "SKIP: $song is missing"; [ -n "${CI:-}" ] && exit 1; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
run() { if [[ "$runner" == "-" ]]; then "$program" "$@"; else $runner "$program" "$@"; fi; }

SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/played.raw" \
  run play "$song" "$@" --length 2 >"$work/play.txt" 2>&1 || { cat "$work/play.txt"; exit 1; }
run render "$song" "$@" --length 2 -o "$work/rendered.wav" >"$work/render.txt" 2>&1 ||
  { cat "$work/render.txt"; exit 1; }

# The samples: the file's last frames (a tagged song's header holds a LIST chunk too).
frames=$(grep -o '([0-9]* frames' "$work/render.txt" | tr -dc 0-9)
tail -c "$((frames * 4))" "$work/rendered.wav" >"$work/rendered.raw"
rendered=$(stat -c %s "$work/rendered.raw")
played=$(stat -c %s "$work/played.raw")
[ "$rendered" -gt 100000 ] || { echo "FAIL: the render holds only $rendered bytes"; exit 1; }
[ "$played" -ge "$rendered" ] || { echo "FAIL: played $played bytes, rendered $rendered"; exit 1; }
# The device may sound silent buffers (2048 frames, 8192 bytes each) before the player starts, as
# SDL's disk driver does when its thread runs ahead of the start, and as the seek to a --start
# goes on: the song begins at a whole number of buffers, with nothing but silence before it.
start=-1
for buffers in $(seq 0 40); do
  offset=$((buffers * 8192))
  if cmp -s -n "$rendered" -i "$offset:0" "$work/played.raw" "$work/rendered.raw"; then
    start=$offset
    break
  fi
done
[ "$start" -ge 0 ] || { echo "FAIL: what play played is not what render rendered"; exit 1; }
before=$(head -c "$start" "$work/played.raw" | tr -d '\0' | wc -c)
[ "$before" -eq 0 ] || { echo "FAIL: $before bytes of sound before the song"; exit 1; }
after=$(tail -c +"$((start + rendered + 1))" "$work/played.raw" | tr -d '\0' | wc -c)
[ "$after" -eq 0 ] || { echo "FAIL: $after bytes of sound after the song's end"; exit 1; }
echo "play: $played bytes played, from byte $start equal to the render, silence around it"
