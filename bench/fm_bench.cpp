// OpmChip::Mix at 44100 Hz, 1024 frames per call or one.
//   BM_MixEightChannels  all eight channels sounding, no LFO
//   BM_MixEightChannelsLfo  PMS and AMS on every channel, AM on every operator
//   BM_MixOneFrame, BM_MixOneFrameLfo  the same two in calls of one frame, as an emulator mixes
//                                      before each data write
// The "Fixed" variants render exactly 200 calls (204800 frames) with no trial runs, for
// instruction counts: valgrind --tool=callgrind ./fm_bench --benchmark_filter=Fixed
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_voices.h"
#include "fm/opm_chip.h"

namespace {

constexpr int kFrames = 1024;
constexpr int kFixedCalls = 200;

void MixLoop(benchmark::State& state, bool lfo) {
  OpmChip chip;
  SetUpFmVoices(chip, lfo);
  std::vector<StereoFrame> frames(kFrames, StereoFrame{0, 0});
  for (auto _ : state) {
    chip.Mix(frames.data(), kFrames);
    benchmark::DoNotOptimize(frames.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}

// kFrames calls of one frame each per iteration.
void MixOneFrameLoop(benchmark::State& state, bool lfo) {
  OpmChip chip;
  SetUpFmVoices(chip, lfo);
  std::vector<StereoFrame> frames(kFrames, StereoFrame{0, 0});
  for (auto _ : state) {
    for (StereoFrame& frame : frames) chip.Mix(&frame, 1);
    benchmark::DoNotOptimize(frames.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}

void BM_MixEightChannels(benchmark::State& state) { MixLoop(state, false); }
void BM_MixEightChannelsLfo(benchmark::State& state) { MixLoop(state, true); }
void BM_MixOneFrame(benchmark::State& state) { MixOneFrameLoop(state, false); }
void BM_MixOneFrameLfo(benchmark::State& state) { MixOneFrameLoop(state, true); }

BENCHMARK(BM_MixEightChannels);
BENCHMARK(BM_MixEightChannelsLfo);
BENCHMARK(BM_MixOneFrame);
BENCHMARK(BM_MixOneFrameLfo);
BENCHMARK(BM_MixOneFrame)->Name("BM_MixOneFrame/Fixed")->Iterations(kFixedCalls);
BENCHMARK(BM_MixOneFrameLfo)->Name("BM_MixOneFrameLfo/Fixed")->Iterations(kFixedCalls);
BENCHMARK(BM_MixEightChannels)->Name("BM_MixEightChannels/Fixed")->Iterations(kFixedCalls);
BENCHMARK(BM_MixEightChannelsLfo)->Name("BM_MixEightChannelsLfo/Fixed")->Iterations(kFixedCalls);

}  // namespace
