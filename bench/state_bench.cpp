#include <benchmark/benchmark.h>

#include <vector>

#include "module/board_device.h"

namespace {

// A board with save states on; every state has one size, whatever plays.
struct StateBoard {
  BoardDevice device{"VRLA"};
  std::vector<uint8_t> buffer;
  StateBoard() {
    device.Init(nullptr, 0x105, nullptr);
    device.SetSaveStates(true);
    std::vector<StereoFrame> frames(512);
    device.Mix(frames.data(), 512);
    buffer.resize(device.GetStateSize());
  }
};

// The whole board's state written into the host's buffer.
void BM_BoardSaveState(benchmark::State& state) {
  StateBoard b;
  for (auto _ : state) {
    b.device.SaveState(b.buffer.data());
    benchmark::DoNotOptimize(b.buffer.data());
  }
  state.counters["bytes"] = static_cast<double>(b.buffer.size());
}
BENCHMARK(BM_BoardSaveState);

// The same state checked and taken back.
void BM_BoardLoadState(benchmark::State& state) {
  StateBoard b;
  b.device.SaveState(b.buffer.data());
  for (auto _ : state) benchmark::DoNotOptimize(b.device.LoadState(b.buffer.data()));
}
BENCHMARK(BM_BoardLoadState);

}  // namespace
