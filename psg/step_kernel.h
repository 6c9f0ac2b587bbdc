// The band-limited step that PsgOutput (player/) draws each change of a PSG channel's level with.
//
// A change of d at time t (in frames, t = f + p / kPhases) adds d x taps[p][j] to frame f + j
// for j < kTaps; summing those additions frame by frame gives the change as a smooth step that
// rises around frame f + kTaps / 2. Each tap is how far the step rises over one frame: its
// impulse integrated over that frame, so that the sum is the step itself at every frame and
// the harmonics of a square come out as the impulse passes them. The step's impulse is a
// Kaiser-windowed sinc: flat to 0.38 of the frame rate (-0.01 dB; -0.4 dB at 0.40, -6 dB at
// 0.44) and at least 60 dB down from half the frame rate on, so what lies above that does not
// fold back. Every row sums to exactly kUnity, so the sum lands on the new level without drift.
#pragma once

#include <cstdint>

struct StepKernel {
  static constexpr uint32_t kTaps = 32;
  static constexpr uint32_t kPhases = 256;
  static constexpr int32_t kUnityBits = 16;
  static constexpr int32_t kUnity = 1 << kUnityBits;
  // Frames from a change to the middle of its step.
  static constexpr uint32_t kDelay = kTaps / 2;

  int32_t taps[kPhases][kTaps];

  // The process-wide table, built on the first call and only read afterwards.
  static const StepKernel& Get();
};
