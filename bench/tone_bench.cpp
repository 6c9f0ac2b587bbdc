#include <benchmark/benchmark.h>

#include <vector>

#include "tone/timer_tone.h"

// Three voices sounding at 44100 Hz, 1024 frames a call.
static void BM_TimerToneMix(benchmark::State& state) {
  TimerTone t;
  t.SetRate(3993600, 44100);
  t.Reset();
  const int counts[3] = {4096, 3000, 7000};
  for (int v = 0; v < 3; ++v) {
    t.WriteControl(static_cast<uint32_t>(v << 6) | 0x30);
    t.WriteCounter(v, counts[v] & 0xFF);
    t.WriteCounter(v, counts[v] >> 8);
  }
  t.SetOutputEnable(true);
  std::vector<StereoFrame> frames(1024);
  for (auto _ : state) {
    t.Mix(frames.data(), 1024);
    benchmark::DoNotOptimize(frames.data());
  }
  state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_TimerToneMix);
