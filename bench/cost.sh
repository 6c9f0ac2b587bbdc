#!/usr/bin/env bash
# Instructions per 44.1 kHz output frame of the shared workloads, counted by callgrind through
# the vorla program and its module file, as the marginal cost of N more frames (render N and 2N
# frames, take the difference, divide by N), with the same figure of an idle board subtracted.
# Each workload is measured twice: mixed in calls of 1024 frames, and in calls of one frame,
# as an emulator mixes when it asks for the sound before every data write.
#
#   bench/cost.sh [BUILD_DIR] [N] [N1]
#
# With COST_OPTIONS set, every render gets those options too: COST_OPTIONS=--chip-sound measures
# the board as its chips sounded.
#
# BUILD_DIR holds vorla and Vorla.vyx (default: build); N defaults to 44100 (one second), N1,
# the frames of the one-frame column, to 4410: a run of one-frame calls is slow under callgrind,
# and its cost a frame is as steady over a tenth of a second. Builds nothing. The workload lists
# and to_board.py come from ../shared/perf (override with PERF_DIR). Needs valgrind and python3;
# runs twenty callgrind passes, a few minutes.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
frames=${2:-44100}
frames1=${3:-4410}
perf=${PERF_DIR:-$here/../shared/perf}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Board scripts of each workload without their final wait; the runner appends the wait.
body_args() { local list=$1; shift; python3 "$perf/to_board.py" "$perf/$list" 0 "$@" | grep -v '^wait'; }
: >"$work/idle.body"
body_args W1.txt >"$work/W1.body"
body_args W2.txt >"$work/W2.body"
body_args W3.txt >"$work/W3.body"
{
  body_args W2.txt
  body_args W3.txt --all-psg
  # Three tone voices (counts 4096, 3000, 7000: about 975, 1331 and 570 Hz), output enabled.
  printf '%s\n' 'out 0x0f 0x30' 'out 0x0c 0x00' 'out 0x0c 0x10' \
                'out 0x0f 0x70' 'out 0x0d 0xb8' 'out 0x0d 0x0b' \
                'out 0x0f 0xb0' 'out 0x0e 0x58' 'out 0x0e 0x1b' \
                'out 0x02 0x08'
} >"$work/board.body"

# Instructions of one render of SCRIPT-BODY followed by a wait of FRAMES in Mix calls of CHUNK
# frames, in a fresh copy of the program so that the settings file starts from the defaults.
count() {
  local name=$1 n=$2 chunk=$3 dir="$work/run-$1-$2-$3"
  mkdir "$dir"
  cp "$build/vorla" "$build/Vorla.vyx" "$dir/"
  { cat "$work/$name.body"; echo "wait $n"; } >"$dir/s.board"
  (cd "$dir" && valgrind --tool=callgrind --callgrind-out-file=cg.out \
     ./vorla render s.board --raw /dev/null --chunk "$chunk" ${COST_OPTIONS:-} >/dev/null 2>"$dir/log")
  awk '/^summary:/ {print $2}' "$dir/cg.out"
}

marginal() {  # NAME CHUNK N: instructions per frame, not yet net of the idle board
  local a b
  a=$(count "$1" "$3" "$2")
  b=$(count "$1" $((2 * $3)) "$2")
  python3 -c "print(($b - $a) / $3)"
}

idle1=$(marginal idle 1 "$frames1")
idle=$(marginal idle 1024 "$frames")
printf '%-34s %12s %12s\n' "workload, instr/frame" "chunk 1" "chunk 1024"
printf '%-34s %12.0f %12.0f\n' "idle board (subtracted below)" "$idle1" "$idle"
for w in W1 W2 W3 board; do
  case $w in
    W1) label="W1 FM, 8 channels, no LFO" ;;
    W2) label="W2 FM, LFO on every channel" ;;
    W3) label="W3 one PSG" ;;
    board) label="whole board busy" ;;
  esac
  m1=$(marginal "$w" 1 "$frames1")
  m=$(marginal "$w" 1024 "$frames")
  python3 -c "print('%-34s %12.0f %12.0f' % ('$label', $m1 - $idle1, $m - $idle))"
done
