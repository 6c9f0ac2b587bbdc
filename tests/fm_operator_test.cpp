#include <gtest/gtest.h>

#include <vector>

#include "fm/fm_operator.h"

namespace {

// One operator bound to a chip record at 3993600 Hz / 44100 Hz, reset, total level 0,
// standing still at phase 0 (block step 0 gives phase_inc 0).
class OperatorTest : public ::testing::Test {
 protected:
  OperatorTest() {
    params.SetRatio(181);
    op.chip = &params;
    op.Reset();
    op.tl = 0;
    op.tl_next = 0;
    op.release_rate = 2;
    op.dirty = true;
    op.Refresh();
  }

  // Instant attack into a frozen sustain at level 0.
  void HoldAtFullLevel() {
    op.attack_rate = 62;
    op.sustain_level = 0;
    op.sustain_rate = 0;
    op.dirty = true;
    op.Refresh();
    op.KeyOn();
  }

  FmChipParams params;
  FmOperator op;
};

TEST_F(OperatorTest, SineExtremes) {
  HoldAtFullLevel();
  ASSERT_EQ(op.env_state, EnvState::Sustain);
  ASSERT_EQ(op.env_level, 0);
  op.phase = 256u << 19;
  EXPECT_EQ(op.Compute(0), 8168);
  op.phase = 768u << 19;
  EXPECT_EQ(op.Compute(0), -8168);
  // The modulator counts half: 1024 moves the index by 512, half a period.
  op.phase = 256u << 19;
  EXPECT_EQ(op.Compute(1024), -8168);
  op.phase = 256u << 19;
  EXPECT_EQ(op.Compute(-1024), -8168);
}

TEST_F(OperatorTest, PhaseUsedIsTheOneBeforeTheAdvance) {
  HoldAtFullLevel();
  op.phase_inc = 512u << 19;
  op.phase = 256u << 19;
  EXPECT_EQ(op.Compute(0), 8168);
  EXPECT_EQ(op.Compute(0), -8168);
  EXPECT_EQ(op.phase, (256u << 19) + (1u << 29));  // one period on: same sine index
}

TEST_F(OperatorTest, AttenuationSilencesDeepLevels) {
  HoldAtFullLevel();
  op.phase = 256u << 19;
  op.env_level = 831;  // 6648 + 2: still one unit
  op.UpdateAtten();
  EXPECT_EQ(op.Compute(0), 1);
  op.phase = 256u << 19;
  op.env_level = 832;  // index 6658: silent
  op.UpdateAtten();
  EXPECT_EQ(op.Compute(0), 0);
  op.env_level = 2000;  // capped at 1023
  op.UpdateAtten();
  EXPECT_EQ(op.atten, 8184u);
  op.phase_inc = 1u << 19;
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(op.Compute(0), 0);
}

TEST_F(OperatorTest, RefreshDerivesStepAndRates) {
  op.block_step = 16496;  // KC 0x4A
  op.key_scale_code = 18;
  op.dt1_row = 3 * 32;
  op.mul = 1;
  op.key_scale = 0;
  op.dirty = true;
  op.Refresh();
  EXPECT_EQ(op.phase_inc, (16496u + 18u) * 362u);
  EXPECT_EQ(op.phase_inc_pm, static_cast<int32_t>(op.phase_inc >> 11));
  EXPECT_EQ(op.ks_offset, 18 >> 3);
  op.dt1_row = 7 * 32;
  op.dt2 = 3;
  op.mul = 15;
  op.key_scale = 3;
  op.dirty = true;
  op.Refresh();
  EXPECT_EQ(op.phase_inc, (16496u - 18u) * 9404u);
  EXPECT_EQ(op.ks_offset, 18);
  // Nothing is derived again until a parameter changes.
  op.mul = 0;
  op.Refresh();
  EXPECT_EQ(op.phase_inc, (16496u - 18u) * 9404u);
}

TEST_F(OperatorTest, FirstComputeAfterResetTicks) {
  EXPECT_EQ(op.env_timer, 0);
  op.Compute(0);
  EXPECT_EQ(op.env_tick, 1);
  EXPECT_EQ(op.env_timer, FmOperator::kEnvTimerPeriod);
}

TEST_F(OperatorTest, EnvelopeTicksDropTheOvershoot) {
  op.attack_rate = 40;  // rate 40: 1024 x 181 per sample, a tick every ceil(4.24) = 5 samples
  op.dirty = true;
  op.Refresh();
  op.KeyOn();
  ASSERT_EQ(op.env_state, EnvState::Attack);
  EXPECT_EQ(op.env_timer_dec, 1024 * 181);
  for (int n = 1; n <= 200; ++n) {
    op.Compute(0);
    ASSERT_EQ(op.env_tick, 1 + (n - 1) / 5) << n;
  }
}

TEST_F(OperatorTest, FullKeyOnKeyOffCycle) {
  op.attack_rate = 40;
  op.decay_rate = 40;
  op.sustain_level = 8;  // target 64
  op.sustain_rate = 40;
  op.release_rate = 15 * 4 + 2;
  op.dirty = true;
  op.Refresh();
  op.KeyOn();
  std::vector<EnvState> states = {op.env_state};
  std::vector<int32_t> entry_levels = {op.env_level};
  int32_t previous_level = op.env_level;
  bool released = false;
  for (int n = 0; n < 200000 && op.env_state != EnvState::Off; ++n) {
    op.Compute(0);
    if (op.env_state == EnvState::Attack) {
      ASSERT_LE(op.env_level, previous_level);
    } else if (op.env_state == states.back()) {
      ASSERT_GE(op.env_level, previous_level);
    }
    if (op.env_state != states.back()) {
      states.push_back(op.env_state);
      entry_levels.push_back(op.env_level);
    }
    previous_level = op.env_level;
    if (op.env_state == EnvState::Sustain && op.env_level >= 200 && !released) {
      op.KeyOff();
      released = true;
      states.push_back(op.env_state);
      entry_levels.push_back(op.env_level);
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
  EXPECT_EQ(op.atten, 955u * 8);
}

TEST_F(OperatorTest, KeyLatch) {
  // Key-off without key-on does nothing.
  op.KeyOff();
  EXPECT_EQ(op.env_state, EnvState::Off);
  op.attack_rate = 20;
  op.dirty = true;
  op.Refresh();
  op.KeyOn();
  ASSERT_EQ(op.env_state, EnvState::Attack);
  op.phase_inc = 12345;
  for (int i = 0; i < 50; ++i) op.Compute(0);
  int32_t level = op.env_level;
  uint32_t phase = op.phase;
  op.KeyOn();  // still keyed: the attack is not restarted
  EXPECT_EQ(op.phase, phase);
  EXPECT_EQ(op.env_level, level);
  EXPECT_TRUE(op.keyed);
}

TEST_F(OperatorTest, KeyOnDuringReleaseKeepsTheLevel) {
  HoldAtFullLevel();
  op.phase_inc = 1u << 22;
  op.release_rate = 7 * 4 + 2;  // a tick every 34 samples
  op.KeyOff();
  ASSERT_EQ(op.env_state, EnvState::Release);
  for (int i = 0; i < 3000; ++i) op.Compute(0);
  int32_t level = op.env_level;
  ASSERT_GT(level, 0);
  ASSERT_LT(level, 955);
  op.attack_rate = 20;  // no longer instant
  op.KeyOn();
  EXPECT_EQ(op.env_state, EnvState::Attack);
  EXPECT_EQ(op.env_level, level);
  EXPECT_EQ(op.phase, 0u);
  EXPECT_EQ(op.output, 0);
  EXPECT_EQ(op.prev_output, 0);
}

TEST_F(OperatorTest, KeyOffAtInaudibleLevels) {
  // In Attack, key-off always releases, even at the off level.
  op.attack_rate = 20;
  op.dirty = true;
  op.Refresh();
  op.KeyOn();
  ASSERT_EQ(op.env_level, 955);
  op.KeyOff();
  EXPECT_EQ(op.env_state, EnvState::Release);
  // Outside Attack a level of 955 or more goes straight to Off.
  op.keyed = true;
  op.env_state = EnvState::Sustain;
  op.env_level = 960;
  op.KeyOff();
  EXPECT_EQ(op.env_state, EnvState::Off);
  EXPECT_EQ(op.env_level, 955);
  EXPECT_EQ(op.env_timer_dec, 181);
}

TEST_F(OperatorTest, InstantAttack) {
  op.attack_rate = 62;
  op.sustain_level = 4;
  op.dirty = true;
  op.Refresh();
  op.KeyOn();
  EXPECT_EQ(op.env_state, EnvState::Decay);
  EXPECT_EQ(op.env_level, 0);
  EXPECT_EQ(op.env_target, 32);

  // AR 30 (rate 60) is instant once key scaling adds 2.
  FmOperator slow = op;
  slow.Reset();
  slow.attack_rate = 60;
  slow.key_scale = 3;
  slow.key_scale_code = 1;
  slow.dirty = true;
  slow.Refresh();
  slow.keyed = false;
  slow.KeyOn();
  EXPECT_EQ(slow.env_state, EnvState::Attack);
  EXPECT_EQ(slow.env_rate, 61);

  FmOperator fast = slow;
  fast.Reset();
  fast.key_scale_code = 2;
  fast.sustain_level = 0;  // and no first decay: straight to Sustain at level 0
  fast.dirty = true;
  fast.Refresh();
  fast.keyed = false;
  fast.KeyOn();
  EXPECT_EQ(fast.env_state, EnvState::Sustain);
  EXPECT_EQ(fast.env_level, 0);
  EXPECT_EQ(fast.env_target, 1024);
}

TEST_F(OperatorTest, ZeroRatesFreezeTheLevel) {
  op.attack_rate = 0;
  op.dirty = true;
  op.Refresh();
  op.KeyOn();
  for (int i = 0; i < 5000; ++i) op.Compute(0);
  EXPECT_EQ(op.env_state, EnvState::Attack);
  EXPECT_EQ(op.env_level, 955);
}

TEST_F(OperatorTest, ResetLeavesTheKeyLatch) {
  HoldAtFullLevel();
  op.Reset();
  EXPECT_TRUE(op.keyed);
  EXPECT_EQ(op.env_state, EnvState::Off);
  EXPECT_EQ(op.tl, 127);
  op.KeyOn();
  EXPECT_EQ(op.env_state, EnvState::Off);
  op.KeyOff();
  op.KeyOn();
  EXPECT_NE(op.env_state, EnvState::Off);
}

TEST_F(OperatorTest, FeedbackReturnsThePreviousSample) {
  HoldAtFullLevel();
  op.phase_inc = 3u << 19;
  FmOperator plain = op;
  int32_t previous = 0;
  for (int i = 0; i < 100; ++i) {
    int32_t expected = plain.Compute(0);
    EXPECT_EQ(op.ComputeFeedback(31), previous) << i;
    EXPECT_EQ(op.output, expected) << i;  // shift 31: no feedback
    previous = op.output;
  }
  // With feedback the waveform bends away from the plain sine.
  FmOperator fed = plain;
  int differences = 0;
  for (int i = 0; i < 100; ++i) {
    plain.Compute(0);
    fed.ComputeFeedback(1);
    differences += fed.output != plain.output;
  }
  EXPECT_GT(differences, 50);
}

TEST_F(OperatorTest, FeedbackLfoReturnsTheNewSample) {
  HoldAtFullLevel();
  op.phase_inc = 3u << 19;
  for (int i = 0; i < 20; ++i) EXPECT_EQ(op.ComputeFeedbackLfo(2), op.output);
}

TEST_F(OperatorTest, AmplitudeModulation) {
  op.am_enable = true;
  op.lfo_sens = 0x30;  // AMS 3
  HoldAtFullLevel();
  params.am_index = 16;  // 16 x 32 = 512 attenuation units: half amplitude
  op.phase = 256u << 19;
  EXPECT_EQ(op.ComputeLfo(0), 4084);
  // Without AM enabled the row is 0.
  op.am_enable = false;
  op.dirty = true;
  op.Refresh();
  op.phase = 256u << 19;
  EXPECT_EQ(op.ComputeLfo(0), 8168);
}

TEST_F(OperatorTest, PitchModulationKeepsTheLow32Bits) {
  HoldAtFullLevel();
  op.phase_inc = 1u << 21;
  op.phase_inc_pm = 1024;
  params.pm_value = 6553;
  op.phase = 0;
  op.ComputeLfo(0);
  EXPECT_EQ(op.phase, (1u << 21) + ((6553u * 1024u) >> 5));
  params.pm_value = -6553;
  op.phase = 0;
  op.ComputeLfo(0);
  EXPECT_EQ(op.phase, (1u << 21) - ((6553u * 1024u) >> 5));
  // A product past 2^31 wraps as a 32-bit multiplication does.
  op.phase_inc = 0xFFFFF800u;
  op.phase_inc_pm = static_cast<int32_t>(op.phase_inc >> 11);
  params.pm_value = 11468;
  op.phase = 0;
  op.ComputeLfo(0);
  uint32_t low = static_cast<uint32_t>(11468ull * (0xFFFFF800u >> 11));
  EXPECT_EQ(op.phase, 0xFFFFF800u + static_cast<uint32_t>(static_cast<int32_t>(low) >> 5));
}

TEST_F(OperatorTest, NoiseIsLinearInTheLevel) {
  HoldAtFullLevel();
  op.env_level = 100;
  op.ComputeNoise(1);
  EXPECT_EQ(op.output, 2 * 923);
  op.ComputeNoise(0x10);  // only bit 0 counts
  EXPECT_EQ(op.output, -2 * 923);
  uint32_t phase = op.phase;
  op.phase_inc = 99;
  op.ComputeNoise(1);
  EXPECT_EQ(op.phase, phase);
  op.tl_level = 1000;
  op.env_level = 23;
  op.ComputeNoise(1);
  EXPECT_EQ(op.output, 0);
  op.env_level = 500;
  op.ComputeNoise(0);
  EXPECT_EQ(op.output, 0);
}

TEST_F(OperatorTest, EnvelopeTickCountWrapsWithoutOverflow) {
  op.env_tick = 0x7FFFFFFF;
  op.env_state = EnvState::Off;
  op.StepEnvelope();
  EXPECT_EQ(op.env_tick & 7, 0);
  EXPECT_LT(op.env_tick, 0);
}

}  // namespace
