#include <gtest/gtest.h>

#include <vector>

#include "fm/fm_operator.h"
#include "tests/fm_operator_probe.h"

namespace {

using P = FmOperatorProbe;

// One operator bound to a chip record at 3993600 Hz / 44100 Hz, reset, total level 0,
// standing still at phase 0 (block step 0 gives phase_inc 0).
class OperatorTest : public ::testing::Test {
 protected:
  OperatorTest() {
    params.SetRatio(181);
    op.BindChip(&params);
    op.Reset();
    op.SetTotalLevel(0);
    op.SetSustainRelease(0, 0);
    op.Refresh();
  }

  // Instant attack into a frozen sustain at level 0.
  void HoldAtFullLevel() {
    op.SetKeyScaleAttack(0, 31);
    op.SetSustainRateDt2(0, 0);
    op.Refresh();
    op.KeyOn();
  }

  // Cycles per second at 44100 Hz over one second of ComputeLfo with the given pitch factor,
  // counted as rising zero crossings.
  double MeasuredHz(int32_t pm_value) {
    int crossings = 0;
    int32_t previous = op.ComputeLfo(0, {pm_value, 0});
    for (int i = 1; i < 44100; ++i) {
      int32_t sample = op.ComputeLfo(0, {pm_value, 0});
      crossings += previous < 0 && sample >= 0;
      previous = sample;
    }
    return crossings;
  }

  FmChipParams params;
  FmOperator op;
};

TEST_F(OperatorTest, SineExtremes) {
  HoldAtFullLevel();
  ASSERT_EQ(op.env_state(), EnvState::Sustain);
  ASSERT_EQ(op.env_level(), 0);
  P::phase(op) = 256u << 19;
  EXPECT_EQ(op.Compute(0), 8168);
  P::phase(op) = 768u << 19;
  EXPECT_EQ(op.Compute(0), -8168);
  // The modulator counts half: 1024 moves the index by 512, half a period.
  P::phase(op) = 256u << 19;
  EXPECT_EQ(op.Compute(1024), -8168);
  P::phase(op) = 256u << 19;
  EXPECT_EQ(op.Compute(-1024), -8168);
}

TEST_F(OperatorTest, PhaseUsedIsTheOneBeforeTheAdvance) {
  HoldAtFullLevel();
  P::phase_inc(op) = 512u << 19;
  P::phase(op) = 256u << 19;
  EXPECT_EQ(op.Compute(0), 8168);
  EXPECT_EQ(op.Compute(0), -8168);
  EXPECT_EQ(op.phase(), (256u << 19) + (1u << 29));  // one period on: same sine index
}

TEST_F(OperatorTest, AttenuationSilencesDeepLevels) {
  HoldAtFullLevel();
  P::phase(op) = 256u << 19;
  P::env_level(op) = 831;  // 6648 + 2: still one unit
  P::UpdateAtten(op);
  EXPECT_EQ(op.Compute(0), 1);
  P::phase(op) = 256u << 19;
  P::env_level(op) = 832;  // index 6658: silent
  P::UpdateAtten(op);
  EXPECT_EQ(op.Compute(0), 0);
  P::env_level(op) = 2000;  // capped at 1023
  P::UpdateAtten(op);
  EXPECT_EQ(op.atten(), 8184u);
  P::phase_inc(op) = 1u << 19;
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(op.Compute(0), 0);
}

TEST_F(OperatorTest, EveryEightTotalLevelStepsHalveTheLevel) {
  HoldAtFullLevel();
  // 8 TL steps are 64 envelope units, 512 attenuation units: half the amplitude each.
  const int32_t peaks[5] = {8168, 4084, 2042, 1021, 510};
  for (uint32_t k = 0; k < 5; ++k) {
    op.SetTotalLevel(8 * k);
    op.Refresh();
    P::phase(op) = 256u << 19;
    EXPECT_EQ(op.Compute(0), peaks[k]) << k;
  }
}

TEST_F(OperatorTest, RefreshDerivesStepAndRates) {
  op.SetBlockStep(16496, 18);  // KC 0x4A
  op.SetDetuneMultiple(3, 1);
  op.Refresh();
  EXPECT_EQ(op.phase_inc(), (16496u + 18u) * 362u);
  op.SetDetuneMultiple(7, 15);
  op.SetSustainRateDt2(0, 3);
  op.Refresh();
  EXPECT_EQ(op.phase_inc(), (16496u - 18u) * 9404u);
  // Nothing is derived again until a parameter changes.
  P::mul(op) = 0;
  op.Refresh();
  EXPECT_EQ(op.phase_inc(), (16496u - 18u) * 9404u);
  // Key scaling adds key code >> (3 - KS) to the rate: 2 with KS 0, 18 with KS 3.
  op.SetKeyScaleAttack(0, 20);
  op.Refresh();
  op.KeyOn();
  EXPECT_EQ(op.env_rate(), 42);
  op.KeyOff();
  op.SetKeyScaleAttack(3, 20);
  op.Refresh();
  op.KeyOn();
  EXPECT_EQ(op.env_rate(), 58);
}

TEST_F(OperatorTest, PitchModulationMovesThePitch) {
  HoldAtFullLevel();
  op.SetBlockStep(16496, 0);  // KC 0x4A, MUL 1: about 490.5 Hz
  op.SetDetuneMultiple(0, 1);
  op.Refresh();
  // The pitch factor is in 1/65536: 6553 raises the pitch by 10 %, -6553 lowers it as much.
  EXPECT_NEAR(MeasuredHz(0), 490.5, 1.0);
  EXPECT_NEAR(MeasuredHz(6553), 539.5, 1.0);
  EXPECT_NEAR(MeasuredHz(-6553), 441.5, 1.0);
}

TEST_F(OperatorTest, PitchModulationKeepsTheLow32Bits) {
  // Ratio 65536 with MUL 0 and block step 0xFFFF: phase_inc 0xFFFF0000, whose scaled product
  // with the deepest pitch factor passes 2^32 and wraps as a 32-bit multiplication does.
  params.SetRatio(0x10000);
  op.SetBlockStep(0xFFFF, 0);
  op.SetDetuneMultiple(0, 0);
  op.Refresh();
  ASSERT_EQ(op.phase_inc(), 0xFFFF0000u);
  const uint32_t low = static_cast<uint32_t>(11468ull * (0xFFFF0000u >> 11));
  EXPECT_EQ(op.LfoPhaseInc(11468), 0xFFFF0000u + static_cast<uint32_t>(static_cast<int32_t>(low) >> 5));
}

TEST_F(OperatorTest, FirstComputeAfterResetTicks) {
  EXPECT_EQ(op.env_timer(), 0);
  op.Compute(0);
  EXPECT_EQ(op.env_tick(), 1);
  EXPECT_EQ(op.env_timer(), FmOperator::kEnvTimerPeriod);
}

TEST_F(OperatorTest, EnvelopeTicksDropTheOvershoot) {
  op.SetKeyScaleAttack(0, 20);  // rate 40: 1024 x 181 per sample, a tick every ceil(4.24) = 5
  op.Refresh();
  op.KeyOn();
  ASSERT_EQ(op.env_state(), EnvState::Attack);
  EXPECT_EQ(op.env_timer_dec(), 1024 * 181);
  for (int n = 1; n <= 200; ++n) {
    op.Compute(0);
    ASSERT_EQ(op.env_tick(), 1 + (n - 1) / 5) << n;
  }
}

TEST_F(OperatorTest, FullKeyOnKeyOffCycle) {
  op.SetKeyScaleAttack(0, 20);
  op.SetDecayAm(20, false);
  op.SetSustainRelease(2, 15);  // sustain level 8: target 64
  op.SetSustainRateDt2(20, 0);
  op.Refresh();
  op.KeyOn();
  std::vector<EnvState> states = {op.env_state()};
  std::vector<int32_t> entry_levels = {op.env_level()};
  int32_t previous_level = op.env_level();
  bool released = false;
  for (int n = 0; n < 200000 && op.env_state() != EnvState::Off; ++n) {
    op.Compute(0);
    if (op.env_state() == EnvState::Attack) {
      ASSERT_LE(op.env_level(), previous_level);
    } else if (op.env_state() == states.back()) {
      ASSERT_GE(op.env_level(), previous_level);
    }
    if (op.env_state() != states.back()) {
      states.push_back(op.env_state());
      entry_levels.push_back(op.env_level());
    }
    previous_level = op.env_level();
    if (op.env_state() == EnvState::Sustain && op.env_level() >= 200 && !released) {
      op.KeyOff();
      released = true;
      states.push_back(op.env_state());
      entry_levels.push_back(op.env_level());
    }
  }
  std::vector<EnvState> expected = {EnvState::Attack, EnvState::Decay, EnvState::Sustain,
                                    EnvState::Release, EnvState::Off};
  EXPECT_EQ(states, expected);
  ASSERT_EQ(entry_levels.size(), 5u);
  EXPECT_EQ(entry_levels[0], 955);  // the attack starts from the off level
  EXPECT_EQ(entry_levels[1], 0);
  EXPECT_EQ(entry_levels[2], 64);
  EXPECT_EQ(entry_levels[4], 955);
  EXPECT_EQ(op.atten(), 955u * 8);
}

TEST_F(OperatorTest, KeyLatch) {
  // Key-off without key-on does nothing.
  op.KeyOff();
  EXPECT_EQ(op.env_state(), EnvState::Off);
  op.SetKeyScaleAttack(0, 10);
  op.Refresh();
  op.KeyOn();
  ASSERT_EQ(op.env_state(), EnvState::Attack);
  P::phase_inc(op) = 12345;
  for (int i = 0; i < 50; ++i) op.Compute(0);
  int32_t level = op.env_level();
  uint32_t phase = op.phase();
  op.KeyOn();  // still keyed: the attack is not restarted
  EXPECT_EQ(op.phase(), phase);
  EXPECT_EQ(op.env_level(), level);
  EXPECT_TRUE(op.keyed());
}

TEST_F(OperatorTest, KeyOnDuringReleaseKeepsTheLevel) {
  HoldAtFullLevel();
  P::phase_inc(op) = 1u << 22;
  op.SetSustainRelease(0, 7);  // a tick every 34 samples
  op.KeyOff();
  ASSERT_EQ(op.env_state(), EnvState::Release);
  for (int i = 0; i < 3000; ++i) op.Compute(0);
  int32_t level = op.env_level();
  ASSERT_GT(level, 0);
  ASSERT_LT(level, 955);
  op.SetKeyScaleAttack(0, 10);  // no longer instant
  op.KeyOn();
  EXPECT_EQ(op.env_state(), EnvState::Attack);
  EXPECT_EQ(op.env_level(), level);
  EXPECT_EQ(op.phase(), 0u);
  EXPECT_EQ(op.output(), 0);
  EXPECT_EQ(op.prev_output(), 0);
}

TEST_F(OperatorTest, KeyOffAtInaudibleLevels) {
  // In Attack, key-off always releases, even at the off level.
  op.SetKeyScaleAttack(0, 10);
  op.Refresh();
  op.KeyOn();
  ASSERT_EQ(op.env_level(), 955);
  op.KeyOff();
  EXPECT_EQ(op.env_state(), EnvState::Release);
  // Outside Attack a level of 955 or more goes straight to Off.
  P::keyed(op) = true;
  P::env_state(op) = EnvState::Sustain;
  P::env_level(op) = 960;
  op.KeyOff();
  EXPECT_EQ(op.env_state(), EnvState::Off);
  EXPECT_EQ(op.env_level(), 955);
  EXPECT_EQ(op.env_timer_dec(), 181);
}

TEST_F(OperatorTest, InstantAttack) {
  op.SetKeyScaleAttack(0, 31);
  op.SetSustainRelease(1, 0);  // sustain level 4
  op.Refresh();
  op.KeyOn();
  EXPECT_EQ(op.env_state(), EnvState::Decay);
  EXPECT_EQ(op.env_level(), 0);
  EXPECT_EQ(op.env_target(), 32);

  // AR 30 (rate 60) is instant once key scaling adds 2.
  FmOperator slow = op;
  slow.Reset();
  slow.SetKeyScaleAttack(3, 30);
  slow.SetBlockStep(0, 1);
  slow.Refresh();
  P::keyed(slow) = false;
  slow.KeyOn();
  EXPECT_EQ(slow.env_state(), EnvState::Attack);
  EXPECT_EQ(slow.env_rate(), 61);

  FmOperator fast = slow;
  fast.Reset();
  fast.SetBlockStep(0, 2);
  fast.SetSustainRelease(0, 0);  // and no first decay: straight to Sustain at level 0
  fast.Refresh();
  P::keyed(fast) = false;
  fast.KeyOn();
  EXPECT_EQ(fast.env_state(), EnvState::Sustain);
  EXPECT_EQ(fast.env_level(), 0);
  EXPECT_EQ(fast.env_target(), 1024);
}

TEST_F(OperatorTest, ZeroRatesFreezeTheLevel) {
  op.SetKeyScaleAttack(0, 0);
  op.Refresh();
  op.KeyOn();
  for (int i = 0; i < 5000; ++i) op.Compute(0);
  EXPECT_EQ(op.env_state(), EnvState::Attack);
  EXPECT_EQ(op.env_level(), 955);
}

TEST_F(OperatorTest, ResetLeavesTheKeyLatch) {
  HoldAtFullLevel();
  op.Reset();
  EXPECT_TRUE(op.keyed());
  EXPECT_EQ(op.env_state(), EnvState::Off);
  EXPECT_EQ(op.tl(), 127);
  op.KeyOn();
  EXPECT_EQ(op.env_state(), EnvState::Off);
  op.KeyOff();
  op.KeyOn();
  EXPECT_NE(op.env_state(), EnvState::Off);
}

TEST_F(OperatorTest, FeedbackReturnsThePreviousSample) {
  HoldAtFullLevel();
  P::phase_inc(op) = 3u << 19;
  FmOperator plain = op;
  int32_t previous = 0;
  for (int i = 0; i < 100; ++i) {
    int32_t expected = plain.Compute(0);
    EXPECT_EQ(op.ComputeFeedback(31), previous) << i;
    EXPECT_EQ(op.output(), expected) << i;  // shift 31: no feedback
    previous = op.output();
  }
  // With feedback the waveform bends away from the plain sine.
  FmOperator fed = plain;
  int differences = 0;
  for (int i = 0; i < 100; ++i) {
    plain.Compute(0);
    fed.ComputeFeedback(1);
    differences += fed.output() != plain.output();
  }
  EXPECT_GT(differences, 50);
}

TEST_F(OperatorTest, FeedbackLfoReturnsTheNewSample) {
  HoldAtFullLevel();
  P::phase_inc(op) = 3u << 19;
  for (int i = 0; i < 20; ++i) {
    const int32_t returned = op.ComputeFeedbackLfo(2, {0, 0});
    EXPECT_EQ(returned, op.output());
  }
}

TEST_F(OperatorTest, AmplitudeModulation) {
  op.SetDecayAm(0, true);
  op.SetLfoSensitivity(0x30);  // AMS 3
  HoldAtFullLevel();
  // Amplitude index 16: 16 x 32 = 512 attenuation units, half amplitude.
  P::phase(op) = 256u << 19;
  EXPECT_EQ(op.ComputeLfo(0, {0, 16}), 4084);
  // Without AM enabled the row is 0.
  op.SetDecayAm(0, false);
  op.Refresh();
  P::phase(op) = 256u << 19;
  EXPECT_EQ(op.ComputeLfo(0, {0, 16}), 8168);
}

TEST_F(OperatorTest, NoiseIsLinearInTheLevel) {
  HoldAtFullLevel();
  P::env_level(op) = 100;
  op.ComputeNoise(1);
  EXPECT_EQ(op.output(), 2 * 923);
  op.ComputeNoise(0x10);  // only bit 0 counts
  EXPECT_EQ(op.output(), -2 * 923);
  uint32_t phase = op.phase();
  P::phase_inc(op) = 99;
  op.ComputeNoise(1);
  EXPECT_EQ(op.phase(), phase);
  P::tl_level(op) = 1000;
  P::env_level(op) = 23;
  op.ComputeNoise(1);
  EXPECT_EQ(op.output(), 0);
  P::env_level(op) = 500;
  op.ComputeNoise(0);
  EXPECT_EQ(op.output(), 0);
}

TEST_F(OperatorTest, EnvelopeTickCountWrapsWithoutOverflow) {
  P::env_tick(op) = 0x7FFFFFFF;
  P::env_state(op) = EnvState::Off;
  P::StepEnvelope(op);
  EXPECT_EQ(op.env_tick() & 7, 0);
  EXPECT_LT(op.env_tick(), 0);
}

}  // namespace
