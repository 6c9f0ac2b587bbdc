#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

#include "fm/opm_chip.h"
#include "tests/fm_operator_probe.h"

namespace {

using P = FmOperatorProbe;

class ChipTest : public ::testing::Test {
 protected:
  ChipTest() { chip.Init(3993600, 44100); }

  // A loud voice: algorithm 7 (four carriers), TL 0, AR 31, no decay, keyed off and on
  // (a reset keeps the key latches of channels 2-8).
  void Voice(int ch, uint32_t pan, uint32_t kc = 0x4A, uint32_t pms_ams = 0) {
    chip.Write(0x08, ch);
    chip.Write(0x20 + ch, (pan << 6) | 7);
    chip.Write(0x28 + ch, kc);
    chip.Write(0x38 + ch, pms_ams);
    for (int slot = 0; slot < 4; ++slot) {
      uint32_t base = slot * 8 + ch;
      chip.Write(0x40 + base, 0x01);  // MUL 1
      chip.Write(0x60 + base, 0x00);  // TL 0
      chip.Write(0x80 + base, 0x1F);  // AR 31
      chip.Write(0xA0 + base, pms_ams ? 0x80 : 0x00);
      chip.Write(0xC0 + base, 0x00);
      chip.Write(0xE0 + base, 0x0F);  // SL 0, RR 15
    }
    chip.Write(0x08, 0x78 | ch);
  }

  std::vector<StereoFrame> Render(int count) {
    std::vector<StereoFrame> frames(count, StereoFrame{0, 0});
    chip.Mix(frames.data(), count);
    return frames;
  }

  OpmChip chip;
};

TEST_F(ChipTest, InitDerivesRateValues) {
  EXPECT_EQ(chip.rate_ratio(), 181u);
  EXPECT_EQ(chip.params().ratio, 181u);
  EXPECT_EQ(chip.params().RatioMulTable[0][1], 362);
  EXPECT_EQ(chip.volume_factor(), 16384);
  EXPECT_EQ(chip.status(), 0u);
}

TEST_F(ChipTest, LfoIncrements) {
  const uint32_t cases[4][2] = {{0xFF, 179552}, {0xC8, 17376}, {0x0F, 5}, {0x00, 2}};
  for (const auto& c : cases) {
    chip.Write(0x18, c[0]);
    EXPECT_EQ(chip.lfo_increment(), c[1]) << c[0];
  }
}

TEST_F(ChipTest, VolumeFactors) {
  const int32_t cases[][2] = {{25, 51810}, {20, 51810}, {0, 16384}, {-40, 1638},
                              {-191, 0},   {-192, 0},   {std::numeric_limits<int32_t>::min(), 0}};
  for (const auto& c : cases) {
    chip.SetVolume(c[0]);
    EXPECT_EQ(chip.volume_factor(), c[1]) << c[0];
  }
}

TEST_F(ChipTest, SetRate) {
  chip.Write(0x18, 0xFF);
  chip.SetRate(3993600, 0);  // ignored
  EXPECT_EQ(chip.rate_ratio(), 181u);
  chip.SetRate(3993600, 22050);
  EXPECT_EQ(chip.rate_ratio(), 362u);
  EXPECT_EQ(chip.params().RatioMulTable[0][0], 362);
  EXPECT_EQ(chip.lfo_increment(), 179552u);  // until register 0x18 is written again
  chip.Write(0x18, 0xFF);
  EXPECT_EQ(chip.lfo_increment(), 2u * 179552u);
  chip.SetRate(0xFFFFFFFFu, 1);  // beyond 32 bits: saturated
  EXPECT_EQ(chip.rate_ratio(), 0xFFFFFFFFu);
  chip.SetRate(63, 44100);  // no timer clock: ratio 0
  EXPECT_EQ(chip.rate_ratio(), 0u);
}

TEST_F(ChipTest, AbsurdRatesStayDefined) {
  // Run every per-sample path at extreme ratios; the sanitizer build checks for overflow.
  const uint32_t rates[][2] = {{0xFFFFFFFFu, 1}, {3993600, 7}, {3993600, 0xFFFFFFFFu}};
  for (const auto& r : rates) {
    chip.Init(r[0], r[1]);
    chip.SetVolume(20);
    chip.Write(0x18, 0xFF);
    chip.Write(0x19, 0xFF);
    chip.Write(0x19, 0x7F);
    chip.Write(0x10, 0);
    chip.Write(0x14, 0x03);
    chip.Write(0x0F, 0x9F);
    for (int ch = 0; ch < 8; ++ch) Voice(ch, 3, 0x7E, 0x73);
    for (int ch = 0; ch < 8; ++ch) {
      chip.Write(0x40 + ch, 0x7F);  // DT1 7, MUL 15
      chip.Write(0xC0 + ch, 0xC0);  // DT2 3
    }
    std::vector<StereoFrame> frames = Render(4000);
    EXPECT_GE(chip.noise_counter(), 0);
    EXPECT_LE(chip.noise_counter(), 4096);
  }
}

TEST_F(ChipTest, ChannelRegisters) {
  chip.Write(0x23, 0xEE);  // pan 3, FB 5, algorithm 6
  EXPECT_EQ(chip.pan(3), 3u);
  EXPECT_EQ(chip.channel(3).fb_shift(), FeedbackShifts[5]);
  EXPECT_EQ(chip.channel(3).algorithm(), 6u);
  chip.Write(0x2B, 0x4A);
  chip.Write(0x33, 0xFF);  // KF 63
  EXPECT_EQ(chip.key_code(3), 0x4Au);
  EXPECT_EQ(chip.key_fraction(3), 63u);
  EXPECT_EQ(chip.channel(3).op(2).block_step(), 17456u);
  chip.Write(0x3B, 0x73);  // PMS 7, AMS 3 -> 0x37 for the channel
  EXPECT_EQ(chip.channel(3).op(0).lfo_sens() & 0xFF, 0x37u);
  chip.Write(0x123, 0x00);  // beyond the register space: ignored
  EXPECT_EQ(chip.pan(3), 3u);
  chip.Write(0x19, 0x85);
  chip.Write(0x19, 0x23);
  EXPECT_EQ(chip.pmd(), 5u);
  EXPECT_EQ(chip.amd(), 0x23u);
  chip.Write(0x19, 0xFF);
  EXPECT_EQ(chip.pmd(), 0x7Fu);
  EXPECT_EQ(chip.amd(), 0x23u);
  chip.Write(0x1B, 0xC6);
  EXPECT_EQ(chip.lfo_waveform(), 2u);
}

TEST_F(ChipTest, OperatorRegistersFollowTheSlotOrder) {
  // Slots M1, M2, C1, C2 are operators 0, 2, 1, 3.
  const int slot_to_op[4] = {0, 2, 1, 3};
  for (int slot = 0; slot < 4; ++slot) {
    uint32_t base = slot * 8 + 5;
    chip.Write(0x40 + base, 0x5C);
    chip.Write(0x60 + base, 0xA5);
    chip.Write(0x80 + base, 0x9B);
    chip.Write(0xA0 + base, 0x8D);
    chip.Write(0xC0 + base, 0x87);
    chip.Write(0xE0 + base, 0xF3);
    const FmOperator& op = chip.channel(5).op(slot_to_op[slot]);
    EXPECT_EQ(P::dt1_row(op), 5 * 32);
    EXPECT_EQ(P::mul(op), 12);
    EXPECT_EQ(op.tl(), 0x25);
    EXPECT_EQ(op.tl_next(), 0x25u);
    EXPECT_EQ(P::key_scale(op), 2);
    EXPECT_EQ(P::attack_rate(op), 0x1Bu * 2);
    EXPECT_EQ(P::decay_rate(op), 0x0D * 2);
    EXPECT_TRUE(op.am_enable());
    EXPECT_EQ(P::sustain_rate(op), 7 * 2);
    EXPECT_EQ(P::dt2(op), 2);
    EXPECT_EQ(P::sustain_level(op), 124);
    EXPECT_EQ(P::release_rate(op), 3 * 4 + 2);
    EXPECT_TRUE(op.dirty());
    // The other channels are untouched.
    EXPECT_EQ(P::mul(chip.channel(4).op(slot_to_op[slot])), 0);
  }
}

TEST_F(ChipTest, CsmModeOnlyKeysOffAndLatchesTotalLevel) {
  chip.Write(0x14, 0x80);
  chip.Write(0x08, 0x78 | 2);  // key-on is not available in CSM mode
  for (const FmOperator& op : chip.channel(2).ops()) EXPECT_FALSE(op.keyed());
  chip.Write(0x14, 0x00);
  chip.Write(0x08, 0x78 | 2);
  chip.Write(0x14, 0x80);
  chip.Write(0x08, 0x28 | 2);  // bits for M1 and M2 set: C1 and C2 are keyed off
  EXPECT_TRUE(chip.channel(2).op(0).keyed());
  EXPECT_FALSE(chip.channel(2).op(1).keyed());
  EXPECT_TRUE(chip.channel(2).op(2).keyed());
  EXPECT_FALSE(chip.channel(2).op(3).keyed());

  // Total level: latched only, and taken over at the next attack.
  chip.Mix(nullptr, 0);  // refresh: nothing dirty afterwards
  chip.Write(0x62, 0x10);  // slot M1 of channel 2
  const FmOperator& m1 = chip.channel(2).op(0);
  EXPECT_EQ(m1.tl_next(), 0x10u);
  EXPECT_EQ(m1.tl(), 127);
  EXPECT_FALSE(m1.dirty());
  // The CSM key-on of a counting timer A (NA 1023: an overflow every frame) keys every
  // operator off and on again.
  chip.SetTimersCounting(true);
  chip.Write(0x10, 0xFF);
  chip.Write(0x11, 0x03);
  chip.Write(0x14, 0x81);
  StereoFrame frames[2] = {};
  chip.Mix(frames, 2);
  for (int ch = 0; ch < 8; ++ch) {
    for (const FmOperator& op : chip.channel(ch).ops()) EXPECT_TRUE(op.keyed());
  }
  EXPECT_EQ(m1.tl(), 0x10);
  // Without CSM the overflow keys nothing on.
  chip.Write(0x14, 0x01);
  chip.Write(0x08, 0x00 | 4);
  chip.Mix(frames, 2);
  EXPECT_FALSE(chip.channel(4).op(0).keyed());
  EXPECT_EQ(chip.status(), 0u);
}

TEST_F(ChipTest, ResetSweep) {
  Voice(0, 3);
  Voice(3, 1);
  chip.Write(0x0F, 0x85);
  chip.Write(0x18, 0xFF);
  chip.Write(0x19, 0x90);
  chip.Write(0x19, 0x10);
  chip.Write(0x1B, 2);
  chip.Write(0x12, 0x80);
  chip.Write(0x14, 0x8A);
  Render(100);
  uint32_t lfo_phase = chip.lfo_phase();
  ASSERT_NE(lfo_phase, 0u);
  chip.Reset();
  for (int ch = 0; ch < 8; ++ch) {
    EXPECT_EQ(chip.pan(ch), 0u);
    EXPECT_EQ(chip.key_code(ch), 0u);
    for (const FmOperator& op : chip.channel(ch).ops()) {
      EXPECT_EQ(op.env_state(), EnvState::Off);
      EXPECT_EQ(op.tl(), 127);
      EXPECT_EQ(op.block_step(), 649u);  // KC 0, KF 0
    }
    EXPECT_EQ(chip.channel(ch).fb_shift(), 31u);
  }
  EXPECT_EQ(chip.noise_shift(), 12345u);
  EXPECT_EQ(chip.noise_counter(), 0);
  EXPECT_EQ(chip.noise_control(), 0u);
  EXPECT_EQ(chip.pmd(), 0u);
  EXPECT_EQ(chip.amd(), 0u);
  EXPECT_EQ(chip.lfo_waveform(), 0u);
  EXPECT_EQ(chip.lfo_increment(), 2u);
  EXPECT_EQ(chip.status(), 0u);
  EXPECT_EQ(chip.lfo_phase(), lfo_phase);  // the LFO is not restarted
  // Only channel 0 was keyed off by the sweep (0x08 written with 0); channel 3 keeps its
  // latch, so a key-on write has no effect until it is keyed off.
  EXPECT_FALSE(chip.channel(0).op(0).keyed());
  EXPECT_TRUE(chip.channel(3).op(0).keyed());
  chip.Write(0x08, 0x78 | 3);
  EXPECT_EQ(chip.channel(3).op(0).env_state(), EnvState::Off);
  // Channel 0 sounds again but no pan is set: nothing reaches the output.
  chip.Write(0x08, 0x78 | 0);
  std::vector<StereoFrame> frames = Render(200);
  for (const StereoFrame& f : frames) {
    ASSERT_EQ(f.left, 0);
    ASSERT_EQ(f.right, 0);
  }
  // Timer B, loaded and enabled before, was stopped: counting now raises no flag.
  chip.SetTimersCounting(true);
  Render(2000);
  EXPECT_EQ(chip.status(), 0u);
}

TEST_F(ChipTest, SilentChipAddsNothingAndStandsStill) {
  chip.Write(0x18, 0xFF);
  chip.Write(0x0F, 0x9F);
  std::vector<StereoFrame> frames(64, StereoFrame{7, -7});
  chip.Mix(frames.data(), 64);
  for (const StereoFrame& f : frames) {
    ASSERT_EQ(f.left, 7);
    ASSERT_EQ(f.right, -7);
  }
  EXPECT_EQ(chip.lfo_phase(), 0u);
  EXPECT_EQ(chip.noise_shift(), 12345u);
}

TEST_F(ChipTest, PanRouting) {
  for (uint32_t pan = 0; pan < 4; ++pan) {
    chip.Reset();
    Voice(1, pan);
    std::vector<StereoFrame> frames = Render(300);
    bool any_left = false;
    bool any_right = false;
    for (const StereoFrame& f : frames) {
      any_left = any_left || f.left != 0;
      any_right = any_right || f.right != 0;
      if (pan == 3) {
        ASSERT_EQ(f.left, f.right);
      }
    }
    EXPECT_EQ(any_left, (pan & 1) != 0) << pan;
    EXPECT_EQ(any_right, (pan & 2) != 0) << pan;
  }
}

TEST_F(ChipTest, SumsAreClampedBeforeTheVolume) {
  for (int ch = 0; ch < 8; ++ch) Voice(ch, 3);  // eight channels in phase: up to 8 x 32672
  std::vector<StereoFrame> frames = Render(400);
  int32_t high = 0;
  int32_t low = 0;
  for (const StereoFrame& f : frames) {
    high = std::max(high, f.left);
    low = std::min(low, f.left);
  }
  EXPECT_EQ(high, 65535);
  EXPECT_EQ(low, -65536);

  // At +10 dB the product passes 2^31 and must still come out right.
  chip.Reset();
  chip.SetVolume(20);
  for (int ch = 0; ch < 8; ++ch) Voice(ch, 3);
  std::vector<StereoFrame> loud(400, StereoFrame{1000, -1000});
  chip.Mix(loud.data(), 400);
  high = 0;
  low = 0;
  for (const StereoFrame& f : loud) {
    high = std::max(high, f.left);
    low = std::min(low, f.right);
  }
  EXPECT_EQ(high, 1000 + static_cast<int32_t>((65535ll * 51810) >> 14));  // 207236
  EXPECT_EQ(low, -1000 + static_cast<int32_t>((-65536ll * 51810) >> 14));  // -207240
}

TEST_F(ChipTest, OutputAddsIntoTheHostFramesWithoutClamping) {
  Voice(0, 3);
  std::vector<StereoFrame> reference = Render(50);
  chip.Reset();
  Voice(0, 3);
  std::vector<StereoFrame> frames(50, StereoFrame{std::numeric_limits<int32_t>::max(), 5});
  chip.Mix(frames.data(), 50);
  for (int i = 0; i < 50; ++i) {
    uint32_t wrapped = 0x7FFFFFFFu + static_cast<uint32_t>(reference[i].left);
    ASSERT_EQ(frames[i].left, static_cast<int32_t>(wrapped));
    ASSERT_EQ(frames[i].right, 5 + reference[i].right);
  }
}

TEST_F(ChipTest, LfoAdvancesEveryEighthSample) {
  Voice(0, 3);
  chip.Write(0x18, 0xFF);
  Render(7);
  EXPECT_EQ(chip.lfo_phase(), 0u);
  Render(1);
  EXPECT_EQ(chip.lfo_phase(), 179552u);
  Render(80);
  EXPECT_EQ(chip.lfo_phase(), 11u * 179552u);
  chip.Write(0x01, 0x02);  // LFO reset
  EXPECT_EQ(chip.lfo_phase(), 0u);
}

TEST_F(ChipTest, LfoIndicesFromTheWaveforms) {
  Voice(0, 3);
  chip.Write(0x19, 0x7F);
  chip.Write(0x19, 0xFF);
  const int32_t first[3][2] = {{253, 127}, {253, 1}, {253, 127}};  // step 0: am, pm
  for (int w = 0; w < 3; ++w) {
    chip.Write(0x1B, w);
    chip.Write(0x01, 0x02);
    chip.Write(0x01, 0x00);
    Render(1);
    EXPECT_EQ(chip.params().am_index, first[w][0]) << w;
    EXPECT_EQ(chip.params().pm_index, first[w][1]) << w;
  }
  // Half-depth saw at step 128: amplitude (127 x 64) / 128, pitch (127 x 64) / 128 + 128.
  chip.Write(0x19, 0x40);
  chip.Write(0x19, 0xC0);
  chip.Write(0x1B, 0);
  chip.Write(0x01, 0x02);
  chip.Write(0x01, 0x00);
  chip.Write(0x18, 0x0F + 0xF0);  // 179552 per 8 samples
  while (((chip.lfo_phase() >> 16) & 0xFF) < 128) Render(1);
  uint32_t k = (chip.lfo_phase() >> 16) & 0xFF;
  Render(1);
  EXPECT_EQ(chip.params().am_index, static_cast<int32_t>((255 - k) * 64 / 128));
  EXPECT_EQ(chip.params().pm_index, static_cast<int32_t>((255 - k) * 64 / 128 + 128));
  // Negative pitch values round toward minus infinity.
  chip.Write(0x19, 0x81);  // PMD 1
  chip.Write(0x01, 0x02);
  chip.Write(0x01, 0x00);
  Render(1);
  EXPECT_EQ(chip.params().pm_index, 127);  // -1 x 1 / 128 -> -1
}

TEST_F(ChipTest, NoiseWaveformDrawsOnPhaseCrossings) {
  Voice(0, 3);
  chip.Write(0x1B, 3);
  chip.Write(0x19, 0x7F);
  chip.Write(0x19, 0xFF);
  chip.Write(0x18, 0x00);  // 2 per 8 samples: no crossing within the test
  chip.Write(0x01, 0x02);  // and a fresh start, which draws at once
  chip.Write(0x01, 0x00);
  std::srand(77);
  Render(100);
  // One random value feeds both: at full depths the pitch index sits one above the amplitude
  // index, whatever the value.
  const int32_t am = chip.params().am_index;
  EXPECT_EQ(chip.params().pm_index, am + 1);
  EXPECT_GE(am, 0);
  EXPECT_LE(am, 253);
  // Exactly one value was drawn: the next one is the seed's second.
  const int32_t next = std::rand();
  std::srand(77);
  std::rand();
  EXPECT_EQ(std::rand(), next);
}

TEST_F(ChipTest, TestRegisterHoldsChannelsWithoutLfo) {
  // A channel with deep vibrato sounds like one without, while register 0x01 bit 1 is set.
  chip.Write(0x18, 0xFF);
  chip.Write(0x19, 0xFF);
  chip.Write(0x19, 0x7F);
  Voice(0, 3, 0x4A, 0x73);
  chip.Write(0x01, 0x02);
  std::vector<StereoFrame> held = Render(500);
  EXPECT_EQ(chip.lfo_phase(), 62u * 179552u);  // the phase keeps moving all the same

  OpmChip plain;
  plain.Init(3993600, 44100);
  plain.Write(0x20, 0xC7);
  plain.Write(0x28, 0x4A);
  for (int slot = 0; slot < 4; ++slot) {
    plain.Write(0x40 + slot * 8, 0x01);
    plain.Write(0x60 + slot * 8, 0x00);
    plain.Write(0x80 + slot * 8, 0x1F);
    plain.Write(0xE0 + slot * 8, 0x0F);
  }
  plain.Write(0x08, 0x78);
  std::vector<StereoFrame> reference(500, StereoFrame{0, 0});
  plain.Mix(reference.data(), 500);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(held[i].left, reference[i].left) << i;

  // Released, the LFO bends the sound.
  chip.Write(0x01, 0x00);
  std::vector<StereoFrame> free_running = Render(500);
  std::vector<StereoFrame> reference_next(500, StereoFrame{0, 0});
  plain.Mix(reference_next.data(), 500);
  int differences = 0;
  for (int i = 0; i < 500; ++i) differences += free_running[i].left != reference_next[i].left;
  EXPECT_GT(differences, 100);
}

uint32_t Shift(uint32_t value) { return (value & 1) ? (value >> 1) ^ 0x8408 : value >> 1; }

TEST_F(ChipTest, NoiseCounterPerFrequency) {
  // 2 x 181 = 362 per sample: the first shift comes with sample 12 (4344).
  const int32_t remainders[][2] = {{0, 4344 - 4096}, {30, 4344 - 256}, {31, 4344 - 263}};
  for (const auto& c : remainders) {
    chip.Reset();
    Voice(7, 3);
    chip.Write(0x0F, 0x80 | c[0]);
    Render(11);
    EXPECT_EQ(chip.noise_counter(), 11 * 362);
    EXPECT_EQ(chip.noise_shift(), 12345u);
    Render(1);
    EXPECT_EQ(chip.noise_counter(), c[1]) << c[0];
    EXPECT_EQ(chip.noise_shift(), Shift(12345)) << c[0];
  }
  // The noise generator runs only while channel 8 sounds with noise enabled.
  chip.Reset();
  Voice(0, 3);
  chip.Write(0x0F, 0x9F);
  Render(50);
  EXPECT_EQ(chip.noise_shift(), 12345u);
  EXPECT_EQ(chip.noise_counter(), 0);
}

TEST_F(ChipTest, FastNoiseShiftsOncePerSampleWithABoundedCounter) {
  Voice(7, 3);
  chip.Write(0x27, 0xC0);  // algorithm 0: the channel plays the noise alone, one frame late
  chip.Write(0x0F, 0x80 | 31);
  uint32_t expected_shift = 12345;
  int32_t previous_sample = 0;
  for (int block = 0; block < 200; ++block) {
    std::vector<StereoFrame> frames = Render(500);
    for (int i = 0; i < 500; ++i) {
      int frame = block * 500 + i + 1;
      if (frame >= 12) expected_shift = Shift(expected_shift);
      ASSERT_EQ(frames[i].left, previous_sample) << frame;
      previous_sample = (expected_shift & 1) ? 2046 : -2046;
    }
    ASSERT_EQ(chip.noise_shift(), expected_shift);
    ASSERT_LE(chip.noise_counter(), 4096);
    ASSERT_GE(chip.noise_counter(), 0);
  }
}

}  // namespace
