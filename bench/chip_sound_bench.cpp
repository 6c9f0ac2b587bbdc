// The board's chips with their own sound (chip_sound/) at 44100 Hz: the FM's eight channels with
// the LFO, and a PSG's tones, noises and envelope, mixed in calls of 1024 frames and of one frame
// (as an emulator asks before every data write; the chip renders as written and ahead).
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_voices.h"
#include "chip_sound/fm_chip_sound.h"
#include "chip_sound/psg_chip_sound.h"

namespace {

constexpr int32_t kFrames = 1024;

template <int32_t kChunk>
void BM_FmChipSound(benchmark::State& state) {
  OpmChip chip;
  SetUpFmVoices(chip, true);
  FmChipSound sound(&chip, 3993600, 44100);
  std::vector<StereoFrame> frames(kFrames, StereoFrame{0, 0});
  for (auto _ : state) {
    for (int32_t i = 0; i < kFrames; i += kChunk) sound.Mix(frames.data() + i, kChunk);
    benchmark::DoNotOptimize(frames.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}

template <int32_t kChunk>
void BM_PsgChipSound(benchmark::State& state) {
  Psg psg;
  psg.SetChipTrue(true);
  psg.SetType(Psg::Type::kAy8910);
  psg.SetClock(998400, 44100);
  WritePsgVoices(psg, true, true);
  PsgChipSound sound(&psg, 44100);
  std::vector<StereoFrame> frames(kFrames, StereoFrame{0, 0});
  for (auto _ : state) {
    for (int32_t i = 0; i < kFrames; i += kChunk) sound.Mix(frames.data() + i, kChunk, 3);
    benchmark::DoNotOptimize(frames.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}

BENCHMARK(BM_FmChipSound<kFrames>);
BENCHMARK(BM_FmChipSound<1>);
BENCHMARK(BM_PsgChipSound<kFrames>);
BENCHMARK(BM_PsgChipSound<1>);

}  // namespace
