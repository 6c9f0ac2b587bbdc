// One FM operator through the chip's registers: its sine and levels, its phase step from
// detune, multiple and LFO, and its envelope read from the noise output of channel 8, whose
// size is linear in the level (fm_voice.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/fm_voice.h"

namespace {

using namespace fm_voice;

class OperatorTest : public ::testing::Test {
 protected:
  OperatorTest() { chip.Init(kClock, kRate); }

  // Channel 0's C2 alone at full level (MUL 1, algorithm 7), keyed on afresh.
  void Sine(uint32_t kc, uint32_t tl = 0) {
    chip.Reset();
    SteadyVoice(chip, 0, 7, 0, kc, {1, 1, 1, 1}, 0b1000);
    chip.Write(Reg(0x60, 3, 0), tl);
    chip.Write(0x08, 0x40);
  }
  // Peak and trough of a whole period of a slow sine (KC 0x00: 2285 frames).
  std::pair<int32_t, int32_t> Extremes(uint32_t tl) {
    Sine(0x00, tl);
    const std::vector<int32_t> v = Left(Render(chip, 2400));
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return {*hi, *lo};
  }
  // C2 of channel 8 as the noise probe, keyed on afresh after a reset.
  void Probe(uint32_t tl, uint32_t ar, uint32_t d1r, uint32_t d2r, uint32_t sl_rr,
             uint32_t ks = 0, uint32_t kc = 0x00) {
    chip.Reset();
    chip.Write(0x08, 7);
    NoiseProbe(chip, tl, ar, d1r, d2r, sl_rr, ks, kc);
    Render(chip, 1);  // derives the key scaling; nothing sounds, nothing moves
    chip.Write(0x08, 0x40 | 7);
  }

  OpmChip chip;
};

TEST_F(OperatorTest, FullScaleSineAndEightTotalLevelStepsAHalf) {
  // The sine's smallest attenuation is 2 (8168, not 8192); 8 TL steps are 64 envelope units,
  // 512 attenuation units: half the amplitude.
  const int32_t peaks[5] = {8168, 4084, 2042, 1021, 510};
  for (uint32_t k = 0; k < 5; ++k) {
    EXPECT_EQ(Extremes(8 * k), std::make_pair(peaks[k], -peaks[k])) << k;
  }
  // From a combined level of 832 (attenuation index 6658 and up) every sample is 0.
  EXPECT_EQ(Extremes(104), std::make_pair(0, 0));
  EXPECT_GT(Extremes(103).first, 0);
}

TEST_F(OperatorTest, PhaseStepFromDetuneMultipleAndDt2) {
  // KC 0x4A: step 16496, key-scale code 18; ratio 181: MUL m is x 362 m, MUL 0 x 181, DT2 3
  // turns MUL 15 into x 9404.
  const struct {
    uint32_t dt1_mul, dt2;
    uint32_t inc;
  } cases[] = {{0x31, 0, (16496u + 18u) * 362u},
               {0x7F, 3, (16496u - 18u) * 9404u},
               {0x00, 0, 16496u * 181u},
               {0x05, 1, 16496u * 2559u}};  // 10 x 181 x 1.414
  for (const auto& c : cases) {
    Sine(0x4A);
    chip.Write(Reg(0x40, 3, 0), c.dt1_mul);
    chip.Write(Reg(0xC0, 3, 0), c.dt2 << 6);
    EXPECT_EQ(SignMismatch(Render(chip, 4096), c.inc, 0), -1) << std::hex << c.dt1_mul;
  }
}

TEST_F(OperatorTest, PitchModulationScalesTheStep) {
  // A square LFO at rest in its first half: pitch -128 x PMD 127 / 128 + 128 = index 1, whose
  // entry in PMS row 7 is 281: the step grows by 281 / 65536 (its low 32 bits, shifted by 5).
  for (uint32_t pms : {7u, 0u}) {
    Sine(0x4A);
    chip.Write(0x1B, 1);
    chip.Write(0x19, 0xFF);
    chip.Write(0x01, 0x02);
    chip.Write(0x01, 0x00);
    chip.Write(0x38, pms << 4);
    const uint32_t inc = 16496u * 362u;
    const uint32_t moved = inc + static_cast<uint32_t>((281 * static_cast<int32_t>(inc >> 11)) >> 5);
    EXPECT_EQ(SignMismatch(Render(chip, 8192), pms ? moved : inc, 0), -1) << pms;
  }
}

TEST_F(OperatorTest, AmplitudeModulationAddsToTheAttenuation) {
  // Square LFO, first half: amplitude 255 x AMD 8 / 128 = 15, AMS 3: 15 x 32 attenuation units
  // on top of the sine's; only with AM enabled.
  for (bool am : {true, false}) {
    Sine(0x00);
    chip.Write(0x1B, 1);
    chip.Write(0x19, 0x08);
    chip.Write(0x01, 0x02);
    chip.Write(0x01, 0x00);
    chip.Write(0x38, 0x03);
    chip.Write(Reg(0xA0, 3, 0), am ? 0x80 : 0x00);
    const std::vector<int32_t> v = Left(Render(chip, 2400));
    const int32_t peak = *std::max_element(v.begin(), v.end());
    EXPECT_EQ(peak, am ? FmTables::Get().LogToLinearTable[2 + 15 * 32] : 8168) << am;
  }
}

TEST_F(OperatorTest, KeyScalingAddsToTheRates) {
  // At KC 0x4A (key-scale code 18) KS 3 adds 18 to the rate and KS 0 adds 2: AR 20 with KS 3
  // attacks as AR 28 with KS 0.
  auto attack = [&](uint32_t ks, uint32_t ar) {
    chip.Reset();
    SteadyVoice(chip, 0, 7, 0, 0x4A, {1, 1, 1, 1}, 0b1000);
    chip.Write(Reg(0x80, 3, 0), (ks << 6) | ar);
    Render(chip, 1);  // the key scaling is derived before the key-on
    chip.Write(0x08, 0x40);
    return Left(Render(chip, 3000));
  };
  EXPECT_EQ(attack(3, 20), attack(0, 28));
  EXPECT_NE(attack(0, 20), attack(0, 28));
}

TEST_F(OperatorTest, EnvelopeTicksComeAtTheirRateAndDropTheOvershoot) {
  // Rate 43 (AR 20, KS 0 at key-scale code 24 adds 3): 1024 x 181 a frame off a timer of
  // 786048, a tick every 5 frames (4.24 rounded up: the overshoot is dropped, not carried),
  // the first one on the first frame after the reset. The attack steps on every tick but the
  // eighth.
  Probe(0, 20, 0, 0, 0x0F, 0, 0x60);
  const std::vector<int32_t> levels = Levels(chip, 160, 0);
  EXPECT_EQ(levels[1], 955 - (955 / 16 + 1));
  for (int f = 1; f + 1 < 160; ++f) {
    const bool steps = f % 5 == 0 && (f / 5) % 8 != 7;
    ASSERT_EQ(levels[f + 1] != levels[f], steps) << "frame " << f;
  }
}

TEST_F(OperatorTest, FullKeyOnKeyOffCycle) {
  // Attack down to 0, first decay to SL 2 (level 64), second decay, then a fast release up to
  // the end, where the operator rests at the off level 955.
  Probe(0, 20, 20, 20, 0x2F);
  Render(chip, 1);  // the first frame shows the output cleared by the key-on
  std::vector<int32_t> levels;
  bool bottomed = false;
  while (levels.size() < 20000 && !(bottomed && levels.back() >= 200)) {
    levels.push_back(Levels(chip, 1, 0)[0]);
    bottomed = bottomed || levels.back() == 0;
  }
  const auto bottom = std::find(levels.begin(), levels.end(), 0);
  ASSERT_NE(bottom, levels.end());
  EXPECT_TRUE(std::is_sorted(levels.begin(), bottom, std::greater<int32_t>()));
  ASSERT_GE(levels.back(), 200);
  EXPECT_TRUE(std::is_sorted(bottom, levels.end()));
  EXPECT_NE(std::find(bottom, levels.end(), 64), levels.end());
  chip.Write(0x08, 7);  // RR 15: 16 units every third frame, up to 1024, then off at 955
  std::vector<int32_t> release = Levels(chip, 400, 0);
  const auto top = std::max_element(release.begin(), release.end());
  EXPECT_GT(*top, 1000);
  EXPECT_TRUE(std::is_sorted(release.begin(), top + 1));
  const auto off = std::find(top, release.end(), 955);  // the tick after the top (3 frames)
  EXPECT_LE(off - top, 3);
  EXPECT_EQ(std::count(off, release.end(), 955), release.end() - off);
}

TEST_F(OperatorTest, KeyLatchesActOnlyOnChange) {
  // A second key-on while keyed does not restart the attack; a key-off without a key-on does
  // nothing.
  std::vector<int32_t> once, twice;
  Probe(0, 10, 0, 0, 0x0F);
  Render(chip, 50);
  once = Levels(chip, 300, 0);
  Probe(0, 10, 0, 0, 0x0F);
  Render(chip, 50);
  chip.Write(0x08, 0x40 | 7);
  twice = Levels(chip, 300, 0);
  EXPECT_EQ(once, twice);
  chip.Reset();
  chip.Write(0x08, 7);
  NoiseProbe(chip, 0, 31, 0, 0, 0x0F);
  chip.Write(0x08, 7);  // key-off of an operator that is off: still off, the chip silent
  EXPECT_EQ(Levels(chip, 10, 0), std::vector<int32_t>(10, 1023));
}

TEST_F(OperatorTest, KeyOnDuringReleaseAttacksFromTheCurrentLevel) {
  Probe(0, 31, 0, 0, 0x07);  // instant attack, held at 0; RR 7
  Render(chip, 10);
  chip.Write(0x08, 7);
  const int32_t level = Levels(chip, 3000, 0).back();
  ASSERT_GT(level, 0);
  ASSERT_LT(level, 955);
  chip.Write(Reg(0x80, 3, 7), 16);  // no longer instant
  chip.Write(0x08, 0x40 | 7);
  const std::vector<int32_t> after = Levels(chip, 200, 0);
  EXPECT_LE(after[1], level);
  EXPECT_GT(after[1], level - 50);
  EXPECT_LT(after.back(), after[1]);
}

TEST_F(OperatorTest, KeyOffAtInaudibleLevels) {
  // In Attack (AR 0: stuck at 955) a key-off still releases: the level climbs towards 1024
  // before the operator rests at 955.
  Probe(0, 0, 0, 0, 0x0F);
  Render(chip, 100);
  chip.Write(0x08, 7);
  std::vector<int32_t> levels = Levels(chip, 100, 0);
  EXPECT_GT(*std::max_element(levels.begin(), levels.end()), 1000);
  EXPECT_EQ(levels.back(), 955);
  // Outside Attack a level of 955 or more goes straight to off: silent at once (an operator
  // that is off is not rendered).
  Probe(0, 31, 0, 31, 0x0F);  // instant attack, then a fast second decay
  Render(chip, 1);
  int32_t level = 0;
  while (level < 955) level = Levels(chip, 1, 0)[0];
  chip.Write(0x08, 7);
  EXPECT_EQ(Levels(chip, 100, 0), std::vector<int32_t>(100, 1023));
}

TEST_F(OperatorTest, InstantAttacksAndSkippedDecays) {
  // AR 31 is instant; with SL 0 the first decay is skipped too (D1R 31 never acts), with SL 1
  // it runs to 32 and holds (D2R 0).
  for (uint32_t sl : {0u, 1u}) {
    Probe(0, 31, 31, 0, sl << 4);
    const std::vector<int32_t> levels = Levels(chip, 1000, 0);
    EXPECT_EQ(levels[1], sl * 16) << sl;
    EXPECT_EQ(levels.back(), sl * 32) << sl;
  }
  // AR 30 with KS 3 is instant from key-scale code 2 on (KC 0x08), not at 1 (KC 0x04): only
  // an instant attack leaves the envelope's tick count where AR 31 does, which the following
  // decay (rate 49 or 50, whose steps differ from tick to tick) shows.
  auto decay = [&](uint32_t ar, uint32_t kc) {
    Probe(0, 0xC0 | ar, 24, 0, 0xFF, 0, kc);
    return Levels(chip, 300, 0);
  };
  EXPECT_NE(decay(30, 0x04), decay(31, 0x04));
  EXPECT_EQ(decay(30, 0x08), decay(31, 0x08));
  // A rate of 0 freezes the level: AR 0 never leaves 955.
  Probe(0, 0, 0, 0, 0x0F);
  const std::vector<int32_t> frozen = Levels(chip, 5000, 0);
  EXPECT_EQ(std::count(frozen.begin() + 1, frozen.end(), 955), 4999);
}

TEST_F(OperatorTest, ResetKeepsTheKeyLatch) {
  Probe(0, 31, 0, 0, 0x0F);
  Render(chip, 10);
  chip.Reset();  // its sweep keys off only channel 1 (register 0x08 written with 0)
  NoiseProbe(chip, 0, 31, 0, 0, 0x0F);
  chip.Write(0x08, 0x40 | 7);  // still latched: no attack, the chip silent
  EXPECT_EQ(Levels(chip, 10, 0), std::vector<int32_t>(10, 1023));
  chip.Write(0x08, 7);
  chip.Write(0x08, 0x40 | 7);
  EXPECT_EQ(Levels(chip, 10, 0)[5], 0);
}

TEST_F(OperatorTest, NoiseIsLinearInTheLevel) {
  // 2 x (1023 - TL x 8 - level): 2046 at TL 0, 446 at TL 100, 14 at TL 127.
  for (const auto& [tl, size] : {std::pair{0, 2046}, std::pair{100, 446}, std::pair{127, 14}}) {
    Probe(tl, 31, 0, 0, 0x0F);
    const std::vector<StereoFrame> frames = Render(chip, 50);
    for (int n = 1; n < 50; ++n) ASSERT_EQ(std::abs(frames[n].left), size) << tl;
  }
}

}  // namespace
