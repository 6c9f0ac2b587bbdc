// Psg throughput with tones, noises and the envelope, all three channels sounding at 44100 Hz:
// the board's Mix, and chips mode's output stage (band-limited, with the chip's output; summed,
// and placed apart: A left, B centre, C right). Mix also at one frame a call, as an emulator
// asks before every data write.
#include <benchmark/benchmark.h>

#include <vector>

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
