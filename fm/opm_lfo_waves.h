// Waveforms of the FM chip's low-frequency oscillator, 256 steps per cycle.
// Rows: 0 saw, 1 square, 2 triangle (the fourth waveform, noise, draws random values instead).
// LfoAmpWave runs 0..255 (attenuation depth), LfoPitchWave -128..127 (pitch deflection; the
// chip-true variant plays it upside down, OpmChip::SetLfoIndexes).
#pragma once

#include <array>
#include <cstdint>

using LfoWaveRows = std::array<std::array<int32_t, 256>, 3>;

constexpr LfoWaveRows MakeLfoAmpWave() {
  LfoWaveRows rows{};
  for (int k = 0; k < 256; ++k) {
    rows[0][k] = 255 - k;
    rows[1][k] = k < 128 ? 255 : 0;
    rows[2][k] = k < 128 ? 255 - 2 * k : 2 * k - 256;
  }
  return rows;
}

constexpr LfoWaveRows MakeLfoPitchWave() {
  LfoWaveRows rows{};
  for (int k = 0; k < 256; ++k) {
    rows[0][k] = k < 128 ? -1 - k : 255 - k;
    rows[1][k] = k < 128 ? -128 : 127;
    rows[2][k] = k < 64 ? -1 - 2 * k : (k < 192 ? 2 * k - 256 : 511 - 2 * k);
  }
  return rows;
}

// Computed at compile time: nothing to build or guard at run time.
inline constexpr LfoWaveRows LfoAmpWave = MakeLfoAmpWave();
inline constexpr LfoWaveRows LfoPitchWave = MakeLfoPitchWave();
