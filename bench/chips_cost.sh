#!/usr/bin/env bash
# Instructions per output frame of chips mode (callgrind, the whole program: start-up, reading,
# rendering), for one FM song and one AY song rendered for at most 20 seconds at 44.1 kHz.
#
#   bench/chips_cost.sh [BUILD_DIR] [EXTRA vorla OPTIONS...]
#
# BUILD_DIR holds vorla (default: build); e.g. `bench/chips_cost.sh build --resampler none`.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
shift || true
data=${VGM_DIR:-$here/../shared/testdata/vgm}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds=20
for song in ym2151/DeckTheHalls.vgm ay/02_StartingPoint.vgm; do
  valgrind --tool=callgrind --callgrind-out-file="$work/out" "$build/vorla" render \
    "$data/$song" --raw /dev/null --length "$seconds" --rate 44100 "$@" >"$work/log" 2>&1
  frames=$(sed -n 's/.*(\([0-9]*\) frames at.*/\1/p' "$work/log")
  total=$(grep -m1 '^summary:' "$work/out" | cut -d' ' -f2)
  echo "$song: $((total / frames)) instructions per frame ($total for $frames frames)"
done
