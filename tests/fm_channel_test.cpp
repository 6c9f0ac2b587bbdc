// The FM channel through the chip's registers: pitch steps, the eight connections with
// feedback, key masks, the LFO rendering, the noise rendering and the block renderer, checked
// frame by frame against the chip's output.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/fm_voice.h"

namespace {

using namespace fm_voice;

constexpr uint32_t kMuls[4] = {1, 3, 2, 5};

class ChannelTest : public ::testing::Test {
 protected:
  ChannelTest() { chip.Init(kClock, kRate); }

  // The model of channel 0 at KC 0x4A (step 16496) with kMuls, algorithm a, FB fb.
  static ChannelModel Model(uint32_t a, uint32_t fb, bool lfo = false) {
    ChannelModel m{};
    for (int i = 0; i < 4; ++i) m.inc[i] = 16496u * 362u * kMuls[i];
    m.algorithm = a;
    m.fb_shift = FeedbackShifts[fb];
    m.lfo = lfo;
    return m;
  }

  // count frames of the chip against count frames of the model; true when all agree.
  ::testing::AssertionResult Matches(ChannelModel& model, int count) {
    const std::vector<StereoFrame> frames = Render(chip, count);
    for (int n = 0; n < count; ++n) {
      const int32_t want = model.Frame();
      if (frames[n].left != want || frames[n].right != want) {
        return ::testing::AssertionFailure()
               << "frame " << n << ": " << frames[n].left << " against " << want;
      }
    }
    return ::testing::AssertionSuccess();
  }

  OpmChip chip;
};

TEST_F(ChannelTest, PitchStepsFromKeyCodeAndFraction) {
  // C2 alone, MUL 1: its phase advances by the channel's step x 362 a frame.
  const uint32_t cases[][3] = {{0x4A, 0, 16496}, {0x4A, 63, 17456}, {0x3A, 0, 8248},
                               {0x7F, 63, 176000}, {0x00, 0, 649}};
  for (const auto& c : cases) {
    chip.Reset();
    SteadyVoice(chip, 0, 7, 0, c[0], {1, 1, 1, 1}, 0b1000);
    chip.Write(0x30, c[1] << 2);
    chip.Write(0x08, 0x78);
    EXPECT_EQ(SignMismatch(Render(chip, 4096), c[2] * 362u, 0), -1) << std::hex << c[0];
  }
  // Note codes 3, 7 and 11 repeat the next note.
  const uint32_t pairs[][3] = {{0x53, 0x54, 9}, {0x27, 0x28, 0}, {0x6B, 0x6C, 40}};
  for (const auto& p : pairs) {
    std::vector<int32_t> heard[2];
    for (int k = 0; k < 2; ++k) {
      chip.Reset();
      SteadyVoice(chip, 0, 7, 0, p[k], {1, 1, 1, 1}, 0b1000);
      chip.Write(0x30, p[2] << 2);
      chip.Write(0x08, 0x78);
      heard[k] = Left(Render(chip, 2000));
    }
    EXPECT_EQ(heard[0], heard[1]) << std::hex << p[0];
  }
}

TEST_F(ChannelTest, AlgorithmsComputeInTheirOrder) {
  // Without LFO, and with the LFO rendering at zero depth (AMS 3 with AM on, AMD 0), which
  // differs only in algorithm 7's feedback sample: the previous one without, the new one with.
  for (bool lfo : {false, true}) {
    for (uint32_t a = 0; a < 8; ++a) {
      chip.Reset();
      SteadyVoice(chip, 0, a, 5, 0x4A, kMuls);
      if (lfo) {
        chip.Write(0x38, 0x03);
        chip.Write(Reg(0xA0, 3, 0), 0x80);
      }
      chip.Write(0x08, 0x78);
      ChannelModel model = Model(a, 5, lfo);
      EXPECT_TRUE(Matches(model, 300)) << "algorithm " << a << " lfo " << lfo;
    }
  }
}

TEST_F(ChannelTest, LfoRenderingFollowsSensitivityAndAmEnable) {
  // Algorithm 7 tells the renderings apart. PMS 0 with AMS 3 uses the LFO only once some
  // operator has AM enabled; a PMS of 1 uses it regardless.
  const struct {
    uint32_t pms_ams, am_slot;
    bool lfo;
  } cases[] = {{0x03, 4, false}, {0x03, 2, true}, {0x10, 4, true}, {0x00, 0, false}};
  for (const auto& c : cases) {
    chip.Reset();
    SteadyVoice(chip, 0, 7, 5, 0x4A, kMuls);
    chip.Write(0x38, c.pms_ams);
    if (c.am_slot < 4) chip.Write(Reg(0xA0, c.am_slot, 0), 0x80);
    chip.Write(0x08, 0x78);
    ChannelModel model = Model(7, 5, c.lfo);
    EXPECT_TRUE(Matches(model, 200)) << std::hex << c.pms_ams << " " << c.am_slot;
  }
}

TEST_F(ChannelTest, RewritingTheConnectionClearsTheFeedbackHistory) {
  SteadyVoice(chip, 0, 4, 6, 0x4A, kMuls);
  chip.Write(0x08, 0x78);
  ChannelModel model = Model(4, 6);
  ASSERT_TRUE(Matches(model, 10));
  chip.Write(0x20, 0xC0 | (6 << 3) | 4);  // the same value again
  model.out[0] = 0;
  model.prev0 = 0;
  EXPECT_TRUE(Matches(model, 100));
}

TEST_F(ChannelTest, KeyMaskStartsEachAttackOnce) {
  SteadyVoice(chip, 0, 7, 3, 0x4A, kMuls);
  for (uint32_t slot = 0; slot < 4; ++slot) chip.Write(Reg(0xE0, slot, 0), 0x0F);  // RR 15
  chip.Write(0x08, (5 << 3) | 0);  // M1 and M2
  ChannelModel model = Model(7, 3);
  model.keyed[1] = model.keyed[3] = false;
  ASSERT_TRUE(Matches(model, 50));
  chip.Write(0x08, 0x78);
  model.KeyOn(1);
  model.KeyOn(3);
  ASSERT_TRUE(Matches(model, 50));
  chip.Write(0x08, 0x78);  // no change: no new attack
  ASSERT_TRUE(Matches(model, 50));
  chip.Write(0x08, 0x00);  // all released: silent within the fastest release
  const std::vector<StereoFrame> released = Render(chip, 400);
  EXPECT_NE(released[0].left, 0);
  EXPECT_EQ(released[399].left, 0);
}

TEST_F(ChannelTest, NoiseRenderings) {
  // Channel 8 with C2 replaced by noise: operators 0, 1, 2 run in that order, each hearing the
  // others' samples of this frame except operator 0's, always the previous frame's; the noise
  // sample joins the sum a frame late. The LFO rendering at zero depth sounds the same.
  for (bool lfo : {false, true}) {
    for (uint32_t a = 0; a < 8; ++a) {
      chip.Reset();
      chip.Write(0x08, 7);  // the reset keeps channel 8's key latch
      chip.Write(0x0F, 0x80);  // NFRQ 0
      SteadyVoice(chip, 7, a, 5, 0x4A, kMuls);
      if (lfo) {
        chip.Write(0x3F, 0x03);
        chip.Write(Reg(0xA0, 0, 7), 0x80);
      }
      chip.Write(0x08, 0x78 | 7);
      ChannelModel model = Model(a, 5);
      NoiseModel noise{0};
      int32_t noise_out = 0;
      const std::vector<StereoFrame> frames = Render(chip, 300);
      for (int n = 0; n < 300; ++n) {
        const FmConnection& c = ConnectionTable[a];
        const int32_t previous0 = model.out[0];
        auto heard = [&](uint8_t mask) {
          return (mask & 1 ? previous0 : 0) + (mask & 2 ? model.out[1] : 0) +
                 (mask & 4 ? model.out[2] : 0);
        };
        const int32_t sum = model.out[0] + model.prev0;
        model.prev0 = model.out[0];
        model.out[0] = ChannelModel::Sine(model.phase[0], sum >> (model.fb_shift + 2));
        model.phase[0] += model.inc[0];
        model.Op(1, heard(c.into[1]));
        model.Op(2, heard(c.into[2]));
        const int32_t want = heard(c.carriers) + noise_out;
        noise_out = (noise.Step() & 1) ? 2046 : -2046;
        ASSERT_EQ(frames[n].left, want) << "algorithm " << a << " lfo " << lfo << " frame " << n;
      }
    }
  }
}

TEST_F(ChannelTest, BlocksRenderWhatSingleFramesRender) {
  // Envelope ticks through attack, decay and release, the LFO moving (triangle, both depths)
  // and calls of uneven lengths: the block renderer's spans must meet all of these exactly.
  for (bool lfo : {false, true}) {
    for (uint32_t a = 0; a < 8; ++a) {
      std::vector<int32_t> heard[2];
      for (int k = 0; k < 2; ++k) {
        OpmChip chip;  // fresh: a reset neither restarts the LFO nor clears the key latches
        chip.Init(kClock, kRate);
        chip.Write(0x18, 0xE5);
        chip.Write(0x19, 0x60);
        chip.Write(0x19, 0xD0);
        chip.Write(0x1B, 2);
        SteadyVoice(chip, 2, a, a, 0x4A, kMuls);
        chip.Write(0x3A, lfo ? 0x63 : 0x00);
        for (uint32_t i = 0; i < 4; ++i) {
          const uint32_t slot = kSlotOf[i];
          chip.Write(Reg(0x60, slot, 2), 0);
          chip.Write(Reg(0x80, slot, 2), 12 + 4 * i);
          chip.Write(Reg(0xA0, slot, 2), (i % 2 == 0 ? 0x80 : 0) | 15);
          chip.Write(Reg(0xC0, slot, 2), 6);
          chip.Write(Reg(0xE0, slot, 2), 0x17);  // sustain level 4, RR 7
        }
        chip.Write(0x08, 0x78 | 2);
        std::vector<StereoFrame> frames(6000, StereoFrame{0, 0});
        int size = 1;
        for (int pos = 0; pos < 6000; pos += size) {
          if (pos == 3000) chip.Write(0x08, 2);  // key off
          size = k == 0 ? 1 : std::min(size * 3 % 701 + 1, (pos < 3000 ? 3000 : 6000) - pos);
          chip.Mix(&frames[pos], size);
        }
        heard[k] = Left(frames);
      }
      ASSERT_EQ(heard[0], heard[1]) << "algorithm " << a << " lfo " << lfo;
      EXPECT_GT(std::count_if(heard[0].begin(), heard[0].end(), [](int32_t v) { return v != 0; }),
                3000);
    }
  }
}

}  // namespace
