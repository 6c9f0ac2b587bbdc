#include "fm/fm_tables.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

void FillLogToLinear(int32_t* table) {
  // The first octave: 256 steps of 1/256 octave each, sign in bit 0.
  for (int i = 0; i < 256; ++i) {
    double level = std::floor(std::pow(2.0, 13.0 - i / 256.0));
    int32_t m = (static_cast<int32_t>(level) + 2) & ~3;
    table[2 * i] = m;
    table[2 * i + 1] = -m;
  }
  // Every further 512 entries halve the previous octave.
  for (int k = 512; k < kLogToLinearSize; ++k) table[k] = table[k - 512] / 2;
  for (int k = kLogToLinearSize; k < kLogToLinearPaddedSize; ++k) table[k] = 0;
}

void FillLogSine(int32_t* table) {
  // Sampled at odd multiples of pi/1024, so no entry sits on a zero crossing.
  for (int k = 0; k < 512; ++k) {
    double sine = std::sin((2 * k + 1) * kPi / 1024.0);
    int32_t n = static_cast<int32_t>(std::floor(-256.0 * std::log2(sine) + 0.5));
    table[k] = 2 * n + 2;        // positive half-wave: even index
    table[k + 512] = 2 * n + 3;  // negative half-wave: odd index
  }
}

void FillLfoTables(FmTables& tables) {
  // Peak pitch deviation of each PMS row.
  constexpr double kDepth[8] = {0.0,        1.0 / 480.0, 1.0 / 240.0, 1.0 / 120.0,
                                1.0 / 48.0, 1.0 / 24.0,  1.0 / 6.0,   7.0 / 24.0};
  for (int row = 0; row < 8; ++row) {
    for (int e = 0; e < kLfoSteps; ++e) {
      double factor = 1.0 + 0.6 * kDepth[row] * std::sin(2.0 * kPi * e / 256.0);
      tables.PitchLfoTable[row][e] = static_cast<int32_t>((factor - 1.0) * 65536.0);
    }
  }
  // The chip-true rows: the LFO's signed value (index - 128) divided by 32, 16, 8, 4 or 2 for
  // PMS 1-5 (rounded down), times 2 or 4 for PMS 6 and 7.
  for (int row = 0; row < 8; ++row) {
    for (int e = 0; e < kLfoSteps; ++e) {
      const int32_t pm = e - 128;
      tables.PitchLfoStepTable[row][e] =
          row == 0 ? 0 : (row <= 5 ? pm >> (6 - row) : pm * (1 << (row - 5)));
    }
  }
  for (int e = 0; e < kLfoSteps; ++e) tables.AmpLfoTable[0][e] = 0;
  for (int row = 1; row < 4; ++row) {
    for (int e = 0; e < kLfoSteps; ++e) tables.AmpLfoTable[row][e] = e << (row + 2);
  }
}

void FillKeyFraction(int32_t* table) {
  for (int i = 0; i < kKeyFractionSize; ++i) {
    table[i] = static_cast<int32_t>(std::floor(std::pow(2.0, i / 768.0) * 65536.0));
  }
}

}  // namespace

FmTables FmTables::Build() {
  FmTables tables;
  FillLogToLinear(tables.LogToLinearTable);
  FillLogSine(tables.LogSineTable);
  FillLfoTables(tables);
  FillKeyFraction(tables.KeyFractionTable);
  return tables;
}
