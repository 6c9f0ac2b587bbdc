// Psg throughput with tones, noises and the envelope, all three channels sounding at 44100 Hz:
// the board's Mix, and chips mode's output stage (band-limited, with the chip's output; summed,
// and placed apart: A left, B centre, C right). Mix also at one frame a call, as an emulator
// asks before every data write.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_voices.h"
#include "player/psg_output.h"
#include "psg/psg.h"

namespace {

constexpr int32_t kFrames = 1024;

enum BenchMode { kTone, kNoise, kEnvelope };

Psg MakePsg(BenchMode mode, bool chip_true) {
  Psg psg;
  psg.SetChipTrue(chip_true);
  psg.SetClock(998400, 44100);
  psg.SetVolume(0);
  psg.SetRouting(3);
  WritePsgVoices(psg, mode != kTone, mode == kEnvelope);
  return psg;
}

template <int32_t kChunk>
void BM_Mix(benchmark::State& state) {
  Psg psg = MakePsg(static_cast<BenchMode>(state.range(0)), false);
  std::vector<StereoFrame> frames(kFrames, StereoFrame{0, 0});
  for (auto _ : state) {
    for (int32_t i = 0; i < kFrames; i += kChunk) psg.Mix(frames.data() + i, kChunk);
    benchmark::DoNotOptimize(frames.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}

template <bool kPanned>
void BM_Output(benchmark::State& state) {
  Psg psg = MakePsg(static_cast<BenchMode>(state.range(0)), true);
  PsgOutput output(44100, true, true);
  if (kPanned) {
    constexpr int32_t kHalf = PsgOutput::kPanUnit / 2;
    output.SetPan({{PsgOutput::kPanUnit, kHalf, 0}, {0, kHalf, PsgOutput::kPanUnit}});
  }
  std::vector<StereoFrame> frames(kFrames, StereoFrame{0, 0});
  for (auto _ : state) {
    output.Mix(psg, frames.data(), kFrames);
    benchmark::DoNotOptimize(frames.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}

BENCHMARK(BM_Mix<kFrames>)->ArgName("tone")->Arg(kTone);
BENCHMARK(BM_Mix<kFrames>)->ArgName("noise")->Arg(kNoise);
BENCHMARK(BM_Mix<kFrames>)->ArgName("envelope")->Arg(kEnvelope);
BENCHMARK(BM_Mix<1>)->ArgName("noise")->Arg(kNoise);
BENCHMARK(BM_Output<false>)->ArgName("tone")->Arg(kTone);
BENCHMARK(BM_Output<false>)->ArgName("noise")->Arg(kNoise);
BENCHMARK(BM_Output<false>)->ArgName("envelope")->Arg(kEnvelope);
BENCHMARK(BM_Output<true>)->ArgName("noise")->Arg(kNoise);

}  // namespace
