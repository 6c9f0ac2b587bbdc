#include <gtest/gtest.h>

#include <cmath>

#include "fm/fm_chip_params.h"
#include "fm/fm_tables.h"
#include "fm/opm_lfo_waves.h"

namespace {

TEST(FmTablesTest, LogToLinearTellingValues) {
  const auto& t = FmTables::Get().LogToLinearTable;
  const int32_t head[6] = {8192, -8192, 8168, -8168, 8148, -8148};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(t[i], head[i]) << i;
  EXPECT_EQ(t[510], 4108);
  EXPECT_EQ(t[511], -4108);
  EXPECT_EQ(t[512], 4096);
  EXPECT_EQ(t[1024], 2048);
  EXPECT_EQ(t[4096], 32);
  EXPECT_EQ(t[6144], 2);
  EXPECT_EQ(t[6656], 1);
  EXPECT_EQ(t[6657], -1);
  for (int i = 6658; i < kLogToLinearSize; ++i) ASSERT_EQ(t[i], 0) << i;
}

TEST(FmTablesTest, LinearLookupIsSilentOutsideTheTable) {
    EXPECT_EQ(LinearLookup(0), 8192);
  EXPECT_EQ(LinearLookup(8191), 0);
  EXPECT_EQ(LinearLookup(8192), 0);
  EXPECT_EQ(LinearLookup(static_cast<uint32_t>(-2)), 0);
  // The unchecked lookup of the block renderer: silent past 8192, and every sine attenuation
  // plus the largest attenuation it passes stays inside the padded table.
  const FmTables& tables = FmTables::Get();
  EXPECT_EQ(LinearLookupPadded(tables, 8192), 0);
  EXPECT_EQ(LinearLookupPadded(tables, kLogToLinearPaddedSize - 1), 0);
  for (int32_t sine : FmTables::Get().LogSineTable) {
    ASSERT_LT(static_cast<uint32_t>(sine) + kSpanAttenLimit,
              static_cast<uint32_t>(kLogToLinearPaddedSize));
  }
}

TEST(FmTablesTest, LogSineTellingValues) {
  const auto& t = FmTables::Get().LogSineTable;
  EXPECT_EQ(t[0], 4276);
  EXPECT_EQ(t[1], 3464);
  EXPECT_EQ(t[2], 3088);
  EXPECT_EQ(t[3], 2840);
  for (int i = 254; i <= 257; ++i) EXPECT_EQ(t[i], 2) << i;
  EXPECT_EQ(t[511], 4276);
  EXPECT_EQ(t[512], 4277);
  EXPECT_EQ(t[1023], 4277);
  // Read as samples: a positive half-wave, symmetric about its peak, and its mirror image.
  for (int k = 0; k < 512; ++k) {
    const int32_t sample = LinearLookup(t[k]);
    ASSERT_GT(sample, 0) << k;
    ASSERT_EQ(LinearLookup(t[k + 512]), -sample) << k;
    ASSERT_EQ(LinearLookup(t[511 - k]), sample) << k;
  }
  EXPECT_EQ(LinearLookup(t[256]), 8168);
  EXPECT_EQ(LinearLookup(t[768]), -8168);
}

TEST(FmTablesTest, KeyFractionTellingValues) {
  const auto& t = FmTables::Get().KeyFractionTable;
  EXPECT_EQ(t[0], 65536);
  EXPECT_EQ(t[1], 65595);
  EXPECT_EQ(t[63], 69370);
}

TEST(FmTablesTest, PitchLfoPeaksAndZeros) {
  const auto& t = FmTables::Get().PitchLfoTable;
  const int32_t peaks[8] = {0, 81, 163, 327, 819, 1638, 6553, 11468};
  for (int row = 0; row < 8; ++row) {
    EXPECT_EQ(t[row][64], peaks[row]) << row;
    EXPECT_EQ(t[row][192], -peaks[row]) << row;
    EXPECT_EQ(t[row][0], 0) << row;
    EXPECT_EQ(t[row][128], 0) << row;
  }
  for (int e = 0; e < kLfoSteps; ++e) ASSERT_EQ(t[0][e], 0) << e;
  // The extremes the chip delivers (1 and 254) give only a few percent of the peak.
  EXPECT_EQ(t[7][1], 281);
  EXPECT_EQ(t[7][254], -562);
}

TEST(FmTablesTest, AmpLfoDepths) {
  const auto& t = FmTables::Get().AmpLfoTable;
  for (int e = 0; e < kLfoSteps; ++e) ASSERT_EQ(t[0][e], 0);  // AMS 0: no effect
  EXPECT_EQ(t[3][255], 8160);
  // The deepest index of AMS 1 and 2 takes a full-level sample down by 23.9 and 47.8 dB; the
  // 95.6 dB of AMS 3 are past silence.
  const double full = LinearLookup(2);
  EXPECT_NEAR(20 * std::log10(LinearLookup(2 + t[1][255]) / full), -23.9, 0.2);
  EXPECT_NEAR(20 * std::log10(LinearLookup(2 + t[2][255]) / full), -47.8, 0.5);
  EXPECT_EQ(LinearLookup(2 + t[3][255]), 0);
  // Each row deepens evenly: twice the index, twice the attenuation in decibels.
  for (int row = 1; row < 4; ++row) EXPECT_EQ(t[row][128], 2 * t[row][64]) << row;
}

TEST(FmTablesTest, ConstantTables) {
  EXPECT_EQ(NoteStepTable[3], NoteStepTable[4]);
  EXPECT_EQ(NoteStepTable[7], NoteStepTable[8]);
  EXPECT_EQ(NoteStepTable[11], NoteStepTable[12]);
  EXPECT_EQ(RateStepTable[10], 1024);
  EXPECT_EQ(RateStepTable[11], 2047);
  EXPECT_EQ(SustainLevels[14], 56);
  EXPECT_EQ(SustainLevels[15], 124);
  EXPECT_EQ(FeedbackShifts[0], 31);
  EXPECT_EQ(FeedbackShifts[7], 1);
  for (int code = 0; code < 32; ++code) {
    EXPECT_EQ(DetuneOffsets[0][code], 0);
    EXPECT_EQ(DetuneOffsets[4][code], 0);
    for (int dt1 = 1; dt1 < 4; ++dt1) {
      EXPECT_EQ(DetuneOffsets[dt1 + 4][code], -DetuneOffsets[dt1][code]);
    }
  }
  EXPECT_EQ(DetuneOffsets[1][4], 2);
  EXPECT_EQ(DetuneOffsets[2][31], 32);
  EXPECT_EQ(DetuneOffsets[3][25], 34);
  EXPECT_EQ(DetuneOffsets[7][31], -44);
}

TEST(FmTablesTest, EnvelopeIncrementRows) {
  using Row = std::array<int8_t, 8>;
  EXPECT_EQ(DecayIncrements[1], (Row{0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(DecayIncrements[5], (Row{1, 1, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(DecayIncrements[7], (Row{1, 1, 1, 0, 1, 1, 1, 0}));
  EXPECT_EQ(DecayIncrements[8], (Row{1, 0, 1, 0, 1, 0, 1, 0}));
  EXPECT_EQ(DecayIncrements[45], (Row{1, 1, 1, 0, 1, 0, 1, 0}));
  EXPECT_EQ(DecayIncrements[47], (Row{1, 1, 1, 1, 1, 1, 1, 0}));
  EXPECT_EQ(DecayIncrements[48], (Row{1, 1, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(DecayIncrements[53], (Row{4, 2, 2, 2, 4, 2, 2, 2}));
  EXPECT_EQ(DecayIncrements[59], (Row{8, 8, 8, 4, 8, 8, 8, 4}));
  EXPECT_EQ(DecayIncrements[60], (Row{16, 16, 16, 16, 16, 16, 16, 16}));
  EXPECT_EQ(AttackShifts[0], (Row{-1, -1, -1, -1, -1, -1, -1, -1}));
  EXPECT_EQ(AttackShifts[2], (Row{4, 4, 4, 4, 4, 4, 4, 4}));
  EXPECT_EQ(AttackShifts[8], (Row{4, -1, 4, -1, 4, -1, 4, -1}));
  EXPECT_EQ(AttackShifts[59], (Row{1, 1, 1, 2, 1, 1, 1, 2}));
  EXPECT_EQ(AttackShifts[63], (Row{0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(FmTablesTest, SlotOrder) {
  EXPECT_EQ(SlotOrder[1], 2);
  EXPECT_EQ(SlotOrder[2], 1);
}

TEST(FmTablesTest, LfoWaveforms) {
  // Saw, square and triangle; amplitude 0..255, pitch -128..127.
  EXPECT_EQ(LfoAmpWave[0][0], 255);
  EXPECT_EQ(LfoAmpWave[0][255], 0);
  EXPECT_EQ(LfoPitchWave[0][0], -1);
  EXPECT_EQ(LfoPitchWave[0][127], -128);
  EXPECT_EQ(LfoPitchWave[0][128], 127);
  EXPECT_EQ(LfoAmpWave[1][127], 255);
  EXPECT_EQ(LfoAmpWave[1][128], 0);
  EXPECT_EQ(LfoPitchWave[1][0], -128);
  EXPECT_EQ(LfoPitchWave[1][255], 127);
  EXPECT_EQ(LfoAmpWave[2][0], 255);
  EXPECT_EQ(LfoAmpWave[2][127], 1);
  EXPECT_EQ(LfoAmpWave[2][128], 0);
  EXPECT_EQ(LfoAmpWave[2][255], 254);
  EXPECT_EQ(LfoPitchWave[2][63], -127);
  EXPECT_EQ(LfoPitchWave[2][64], -128);
  EXPECT_EQ(LfoPitchWave[2][191], 126);
  EXPECT_EQ(LfoPitchWave[2][192], 127);
  EXPECT_EQ(LfoPitchWave[2][255], 1);
  for (int w = 0; w < 3; ++w) {
    for (int k = 0; k < 256; ++k) {
      ASSERT_GE(LfoAmpWave[w][k], 0);
      ASSERT_LE(LfoAmpWave[w][k], 255);
      ASSERT_GE(LfoPitchWave[w][k], -128);
      ASSERT_LE(LfoPitchWave[w][k], 127);
    }
  }
}

TEST(FmChipParamsTest, RatioMulTableForRatio181) {
  FmChipParams p;
  p.SetRatio(181);
  EXPECT_EQ(p.ratio, 181u);
  const int32_t row0[4] = {181, 362, 724, 1086};
  for (int m = 0; m < 4; ++m) EXPECT_EQ(p.RatioMulTable[0][m], row0[m]);
  EXPECT_EQ(p.RatioMulTable[0][15], 5430);
  EXPECT_EQ(p.RatioMulTable[1][0], 255);
  EXPECT_EQ(p.RatioMulTable[1][1], 511);
  EXPECT_EQ(p.RatioMulTable[1][2], 1023);
  EXPECT_EQ(p.RatioMulTable[1][15], 7678);
  EXPECT_EQ(p.RatioMulTable[3][15], 9404);
}

TEST(FmChipParamsTest, SetRatioActsOnlyOnChange) {
  FmChipParams p;
  p.SetRatio(181);
  p.RatioMulTable[2][5] = -7;  // a rebuild would overwrite this
  p.SetRatio(181);
  EXPECT_EQ(p.RatioMulTable[2][5], -7);
  p.SetRatio(0);
  for (int t = 0; t < 4; ++t) {
    for (int m = 0; m < 16; ++m) EXPECT_EQ(p.RatioMulTable[t][m], 0);
  }
  // A ratio far beyond any real rate saturates instead of overflowing.
  p.SetRatio(0xFFFFFFFFu);
  EXPECT_EQ(p.RatioMulTable[0][0], 2147483647);
  EXPECT_EQ(p.RatioMulTable[3][15], 2147483647);
}

}  // namespace
