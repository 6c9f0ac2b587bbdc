#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "fm/fm_channel.h"

namespace {

// A channel bound to a chip record at ratio 181, every operator at full level with instant
// attack, sounding at KC 0x4A with a different multiple each.
class ChannelTest : public ::testing::Test {
 protected:
  ChannelTest() {
    params.SetRatio(181);
    ch.BindChip(&params);
    ch.SetPitch(0x4A, 0);
    ch.SetFeedback(FeedbackShifts[5]);
    Prepare(0);
  }

  // Key off and reset (total level 127; the key latch survives a reset), then full level
  // again and the given algorithm.
  void Prepare(uint32_t algorithm) {
    ch.SetKeyMask(0);
    ch.Reset();
    const int muls[4] = {1, 3, 2, 5};
    for (int i = 0; i < 4; ++i) {
      FmOperator& op = ch.op(i);
      op.SetTotalLevel(0);
      op.SetKeyScaleAttack(0, 31);
      op.SetSustainRelease(0, 0);
      op.SetSustainRateDt2(0, 0);
      op.SetDetuneMultiple(0, muls[i]);
    }
    ch.SelectAlgorithm(algorithm);
  }

  void KeyAll() {
    ch.Refresh();
    ch.SetKeyMask(15);
    ch.Refresh();
  }

  FmChipParams params;
  FmChannel ch;
};

uint32_t StepOf(FmChannel& ch, uint32_t kc, uint32_t kf) {
  ch.SetPitch(kc, kf);
  return ch.op(0).block_step();
}

TEST_F(ChannelTest, PitchSteps) {
  EXPECT_EQ(StepOf(ch, 0x4A, 0), 16496u);
  for (const FmOperator& op : ch.ops()) {
    EXPECT_EQ(op.block_step(), 16496u);
    EXPECT_EQ(op.key_scale_code(), 18u);
    EXPECT_TRUE(op.dirty());
  }
  EXPECT_EQ(StepOf(ch, 0x4A, 63), 17456u);
  EXPECT_EQ(StepOf(ch, 0x3A, 0), 8248u);
  EXPECT_EQ(StepOf(ch, 0x7F, 63), 176000u);
  EXPECT_EQ(StepOf(ch, 0x00, 0), 649u);
  // Note codes 3, 7 and 11 repeat the next note.
  EXPECT_EQ(StepOf(ch, 0x53, 9), StepOf(ch, 0x54, 9));
  EXPECT_EQ(StepOf(ch, 0x27, 0), StepOf(ch, 0x28, 0));
  EXPECT_EQ(StepOf(ch, 0x6B, 40), StepOf(ch, 0x6C, 40));
  // KC 0x4A with MUL 1 sounds at about 490.5 Hz at 44100 Hz.
  ch.SetPitch(0x4A, 0);
  ch.op(0).SetDetuneMultiple(0, 1);
  ch.Refresh();
  double hz = 44100.0 * ch.op(0).phase_inc() / 536870912.0;
  EXPECT_NEAR(hz, 490.5, 0.05);
}

TEST_F(ChannelTest, SelectAlgorithmClearsFeedbackHistory) {
  KeyAll();
  ch.SelectAlgorithm(4);
  for (int i = 0; i < 10; ++i) ch.Render();
  ASSERT_NE(ch.op(0).output(), 0);
  ch.SelectAlgorithm(4);
  EXPECT_EQ(ch.op(0).output(), 0);
  EXPECT_EQ(ch.op(0).prev_output(), 0);
  EXPECT_EQ(ch.algorithm(), 4u);
}

TEST_F(ChannelTest, KeyMask) {
  ch.Refresh();
  ch.SetKeyMask(5);  // M1 and M2
  EXPECT_TRUE(ch.op(0).keyed());
  EXPECT_FALSE(ch.op(1).keyed());
  EXPECT_TRUE(ch.op(2).keyed());
  EXPECT_FALSE(ch.op(3).keyed());
  ch.SetKeyMask(15);
  for (int i = 0; i < 100; ++i) ch.Render();
  uint32_t phase = ch.op(1).phase();
  ch.SetKeyMask(15);  // no change: no new attack
  EXPECT_EQ(ch.op(1).phase(), phase);
  ch.SetKeyMask(0);
  for (const FmOperator& op : ch.ops()) {
    EXPECT_FALSE(op.keyed());
    EXPECT_EQ(op.env_state(), EnvState::Release);
  }
}

TEST_F(ChannelTest, RefreshReportsActivityAndLfoUse) {
  EXPECT_EQ(ch.Refresh(), 0u);  // all off
  ch.op(2).KeyOn();
  ch.op(2).KeyOff();
  ASSERT_EQ(ch.op(2).env_state(), EnvState::Release);
  EXPECT_EQ(ch.Refresh(), FmChannel::kActive);
  ch.SetLfoSensitivity(0x30);  // PMS 0, AMS 3
  EXPECT_EQ(ch.Refresh(), FmChannel::kActive);
  ch.op(3).SetDecayAm(0, true);
  EXPECT_EQ(ch.Refresh(), FmChannel::kActive | FmChannel::kUsesLfo);
  ch.op(3).SetDecayAm(0, false);
  ch.SetLfoSensitivity(0x01);  // PMS 1
  EXPECT_EQ(ch.Refresh(), FmChannel::kActive | FmChannel::kUsesLfo);
  EXPECT_EQ(ch.pm_row(), FmTables::Get().PitchLfoTable[1]);
}

// The computation order of each algorithm, written down independently of the channel: each
// step computes one operator from the outputs its inputs hold at that moment; the feedback
// operator 0 runs last.
struct Step {
  int op;
  std::vector<int> from;
};
struct Order {
  std::vector<Step> steps;
  std::vector<int> result;  // -1 stands for the value returned by the feedback operator
};

const Order kOrders[8] = {
    {{{2, {1}}, {1, {0}}, {3, {2}}}, {3}},
    {{{2, {0, 1}}, {1, {}}, {3, {2}}}, {3}},
    {{{2, {1}}, {1, {}}, {3, {0, 2}}}, {3}},
    {{{2, {}}, {1, {0}}, {3, {1, 2}}}, {3}},
    {{{2, {}}, {1, {0}}, {3, {2}}}, {1, 3}},
    {{{2, {0}}, {1, {0}}, {3, {0}}}, {1, 2, 3}},
    {{{2, {}}, {1, {0}}, {3, {}}}, {1, 2, 3}},
    {{{2, {}}, {1, {}}, {3, {}}}, {1, 2, 3, -1}},
};

int32_t ReferenceFrame(FmOperator (&ops)[4], const Order& order, uint32_t fb_shift, bool lfo,
                       FmLfoValues values) {
  for (const Step& step : order.steps) {
    int32_t m = 0;
    for (int from : step.from) m += ops[from].output();
    if (lfo) {
      ops[step.op].ComputeLfo(m, values);
    } else {
      ops[step.op].Compute(m);
    }
  }
  int32_t fb =
      lfo ? ops[0].ComputeFeedbackLfo(fb_shift, values) : ops[0].ComputeFeedback(fb_shift);
  int32_t sum = 0;
  for (int r : order.result) sum += r < 0 ? fb : ops[r].output();
  return sum;
}

TEST_F(ChannelTest, AlgorithmsComputeInTheirOrder) {
  for (uint32_t lfo = 0; lfo < 2; ++lfo) {
    for (uint32_t a = 0; a < 8; ++a) {
      Prepare(a);
      ch.SetLfoSensitivity(lfo ? 0x37 : 0);
      for (int i = 0; i < 4; ++i) ch.op(i).SetDecayAm(0, lfo);
      KeyAll();
      FmOperator ref[4] = {ch.op(0), ch.op(1), ch.op(2), ch.op(3)};
      int loud = 0;
      for (int frame = 0; frame < 300; ++frame) {
        const int32_t pm_index = 1 + frame % 254;
        const int32_t am_index = frame % 200;
        // PMS 7: the channel's pitch factor comes from row 7.
        const FmLfoValues values{FmTables::Get().PitchLfoTable[7][pm_index], am_index};
        int32_t got = lfo ? ch.RenderLfo(am_index, pm_index) : ch.Render();
        int32_t want = ReferenceFrame(ref, kOrders[a], ch.fb_shift(), lfo, values);
        ASSERT_EQ(got, want) << "algorithm " << a << " lfo " << lfo << " frame " << frame;
        loud += got != 0;
      }
      EXPECT_GT(loud, 150) << "algorithm " << a;
    }
  }
}

TEST_F(ChannelTest, LfoRenderingDiffersOnlyInAlgorithm7) {
  // With the LFO at rest both renderings agree, except that algorithm 7 adds operator 0's
  // previous sample without LFO and its new one with it.
  for (uint32_t a = 0; a < 8; ++a) {
    Prepare(a);
    KeyAll();
    FmChannel other = ch;
    other.BindChip(&params);
    int differences = 0;
    for (int frame = 0; frame < 200; ++frame) {
      int32_t plain = ch.Render();
      int32_t lfo = other.RenderLfo(0, 128);
      ASSERT_EQ(ch.op(0).output(), other.op(0).output());
      if (a == 7) {
        ASSERT_EQ(lfo - plain, ch.op(0).output() - ch.op(0).prev_output()) << frame;
      } else {
        ASSERT_EQ(lfo, plain) << a << " " << frame;
      }
      differences += lfo != plain;
    }
    if (a == 7) {
      EXPECT_GT(differences, 100);
    }
  }
}

TEST_F(ChannelTest, NoiseRenderings) {
  for (uint32_t lfo = 0; lfo < 2; ++lfo) {
    for (uint32_t a = 0; a < 8; ++a) {
      Prepare(a);
      KeyAll();
      uint32_t noise = 0x1234;
      for (int frame = 0; frame < 100; ++frame) {
        noise = (noise >> 1) ^ ((noise & 1) ? 0x8408 : 0);
        int32_t previous_noise = ch.op(3).output();
        int32_t op0_before = ch.op(0).output();
        FmOperator op2_before = ch.op(2);
        int32_t got = lfo ? ch.RenderLfoNoise(noise, 0, 0) : ch.RenderNoise(noise);
        int32_t op1 = ch.op(1).output();
        int32_t op2 = ch.op(2).output();
        int32_t want = previous_noise;
        if (a == 4) want += op1;
        if (a == 5 || a == 6) want += op1 + op2;
        if (a == 7) want += op0_before + op1 + op2;
        ASSERT_EQ(got, want) << a << " " << frame;
        ASSERT_EQ(ch.op(3).output(), (noise & 1) ? 2046 : -2046);
        if (a == 0 || a == 2) {
          // Operator 2 hears operator 1's sample of this frame.
          int32_t heard = lfo ? op2_before.ComputeLfo(op1, {0, 0}) : op2_before.Compute(op1);
          ASSERT_EQ(heard, op2);
        }
      }
    }
  }
}

TEST_F(ChannelTest, BlocksRenderWhatSamplesRender) {
  // Envelope ticks through attack, decay and release, LFO values holding for 1-23 frames, and
  // blocks cut at uneven lengths: the block renderer's spans must meet all of these exactly.
  for (uint32_t lfo = 0; lfo < 2; ++lfo) {
    for (uint32_t a = 0; a < 8; ++a) {
      Prepare(a);
      ch.SetFeedback(FeedbackShifts[a % 8]);  // algorithm 0 runs without feedback
      ch.SetLfoSensitivity(lfo ? 0x36 : 0);
      for (int i = 0; i < 4; ++i) {
        ch.op(i).SetKeyScaleAttack(0, 12 + 4 * i);
        ch.op(i).SetDecayAm(15, i % 2 == 0);
        ch.op(i).SetSustainRelease(1, 7);  // sustain level 4
        ch.op(i).SetSustainRateDt2(6, 0);
      }
      KeyAll();
      FmChannel ref = ch;

      constexpr int32_t kFrames = 6000;
      std::vector<int32_t> am(kFrames), pm(kFrames), run(kFrames), got(kFrames, 0);
      for (int32_t i = 0; i < kFrames; ++i) {
        const bool hold = i > 0 && (i * 7919) % 23 != 0;
        am[i] = hold ? am[i - 1] : (i * 37) % 256;
        pm[i] = hold ? pm[i - 1] : (i * 53) % 256;
      }
      for (int32_t i = kFrames - 1; i >= 0; --i) {
        const bool same = i + 1 < kFrames && am[i] == am[i + 1] && pm[i] == pm[i + 1];
        run[i] = same ? run[i + 1] + 1 : 1;
      }
      int32_t key_off = -1;  // the first block start past the middle
      for (int32_t pos = 0, size = 1; pos < kFrames; pos += size, size = size * 3 % 701 + 1) {
        size = std::min(size, kFrames - pos);
        if (key_off < 0 && pos >= kFrames / 2) {
          key_off = pos;
          ch.SetKeyMask(0);
        }
        if (lfo) {
          ch.RenderBlockLfo(&got[pos], size, FmLfoBlock{&am[pos], &pm[pos], &run[pos]});
        } else {
          ch.RenderBlock(&got[pos], size);
        }
      }
      for (int32_t i = 0; i < kFrames; ++i) {
        if (i == key_off) ref.SetKeyMask(0);
        ASSERT_EQ(got[i], lfo ? ref.RenderLfo(am[i], pm[i]) : ref.Render())
            << "algorithm " << a << " lfo " << lfo << " frame " << i;
      }
      for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ch.op(i).phase(), ref.op(i).phase());
        EXPECT_EQ(ch.op(i).env_timer(), ref.op(i).env_timer());
        EXPECT_EQ(ch.op(i).env_level(), ref.op(i).env_level());
      }
    }
  }
}

}  // namespace
