// OpmChip::Mix at 44100 Hz, 1024 frames per call or one.
//   BM_MixEightChannels  all eight channels sounding, no LFO
//   BM_MixEightChannelsLfo  PMS and AMS on every channel, AM on every operator
//   BM_MixOneFrame, BM_MixOneFrameLfo  the same two in calls of one frame, as an emulator mixes
//                                      before each data write
// The "Fixed" variants render exactly 200 calls (204800 frames) with no trial runs, for
// instruction counts: valgrind --tool=callgrind ./fm_bench --benchmark_filter=Fixed
#include <benchmark/benchmark.h>

#include <vector>

#include "fm/opm_chip.h"

namespace {

constexpr int kFrames = 1024;
constexpr int kFixedCalls = 200;

// Eight held notes, one algorithm each, feedback 3, both outputs. D2R 0 keeps them sounding.
void SetUpVoices(OpmChip& chip, bool lfo) {
  chip.Init(3993600, 44100);
  chip.SetVolume(0);
  if (lfo) {
    chip.Write(0x18, 0xC8);
    chip.Write(0x19, 0x40);  // AMD
    chip.Write(0x19, 0xC0);  // PMD
    chip.Write(0x1B, 2);     // triangle
  }
  for (uint32_t ch = 0; ch < 8; ++ch) {
    chip.Write(0x20 + ch, 0xC0 | (3 << 3) | ch);
    chip.Write(0x28 + ch, 0x30 + ch * 0x0D % 0x40);
    chip.Write(0x30 + ch, ch * 28);
    chip.Write(0x38 + ch, lfo ? 0x52 : 0x00);  // PMS 5, AMS 2
    for (uint32_t slot = 0; slot < 4; ++slot) {
      uint32_t base = slot * 8 + ch;
      chip.Write(0x40 + base, (slot + 1) & 15);
      chip.Write(0x60 + base, slot == 3 ? 0x00 : 0x18);
      chip.Write(0x80 + base, 0x1F);
      chip.Write(0xA0 + base, (lfo ? 0x80 : 0x00) | 0x05);
      chip.Write(0xC0 + base, 0x00);
      chip.Write(0xE0 + base, 0x27);
    }
    chip.Write(0x08, 0x78 | ch);
  }
}

void MixLoop(benchmark::State& state, bool lfo) {
  OpmChip chip;
  SetUpVoices(chip, lfo);
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
  SetUpVoices(chip, lfo);
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
