// Psg::Mix and Psg::MixBandLimited throughput with tones, noises and the envelope, all three
// channels sounding at 44100 Hz; summed, and placed apart (A left, B centre, C right) with the
// chip's output.
#include <benchmark/benchmark.h>

#include <vector>

#include "psg/psg.h"

namespace {

constexpr int32_t kFrames = 1024;

enum BenchMode { kTone, kNoise, kEnvelope };

Psg MakePsg(BenchMode mode, bool panned = false) {
  Psg psg;
  if (panned) {
    psg.SetChipTrue(true);
    constexpr int32_t kHalf = Psg::kPanUnit / 2;
    psg.SetPan({{Psg::kPanUnit, kHalf, 0}, {0, kHalf, Psg::kPanUnit}});
  }
  psg.SetClock(998400, 44100);
  psg.SetVolume(0);
  psg.SetRouting(3);
  const uint32_t periods[3] = {0x11C, 0x0E1, 0x0BD};  // about 440, 555, 660 Hz
  for (uint32_t c = 0; c < 3; ++c) {
    psg.SetRegister(2 * c, periods[c] & 0xFF);
    psg.SetRegister(2 * c + 1, periods[c] >> 8);
  }
  psg.SetRegister(6, 7);
  psg.SetRegister(11, 0x40);
  psg.SetRegister(12, 0x00);
  psg.SetRegister(13, 14);
  // Tone mode: tones only. Noise mode: tones and noises. Envelope mode: tones and noises, with
  // every channel's amplitude taken from the envelope.
  psg.SetRegister(7, mode == kTone ? 0x38 : 0x00);
  const uint32_t amplitude = mode == kEnvelope ? 0x10 : 0x0F;
  for (uint32_t r = 8; r <= 10; ++r) psg.SetRegister(r, amplitude);
  return psg;
}

template <void (Psg::*kMix)(StereoFrame*, int32_t), bool kPanned = false>
void BM_Mix(benchmark::State& state) {
  Psg psg = MakePsg(static_cast<BenchMode>(state.range(0)), kPanned);
  std::vector<StereoFrame> frames(kFrames, StereoFrame{0, 0});
  for (auto _ : state) {
    (psg.*kMix)(frames.data(), kFrames);
    benchmark::DoNotOptimize(frames.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}

BENCHMARK(BM_Mix<&Psg::Mix>)->ArgName("tone")->Arg(kTone);
BENCHMARK(BM_Mix<&Psg::Mix>)->ArgName("noise")->Arg(kNoise);
BENCHMARK(BM_Mix<&Psg::Mix>)->ArgName("envelope")->Arg(kEnvelope);
BENCHMARK(BM_Mix<&Psg::MixBandLimited>)->ArgName("tone")->Arg(kTone);
BENCHMARK(BM_Mix<&Psg::MixBandLimited>)->ArgName("noise")->Arg(kNoise);
BENCHMARK(BM_Mix<&Psg::MixBandLimited>)->ArgName("envelope")->Arg(kEnvelope);
BENCHMARK(BM_Mix<&Psg::Mix, true>)->ArgName("noise")->Arg(kNoise);
BENCHMARK(BM_Mix<&Psg::MixBandLimited, true>)->ArgName("noise")->Arg(kNoise);

}  // namespace
