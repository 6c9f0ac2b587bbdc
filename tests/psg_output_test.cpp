// The PSG's output stage in chips mode: band-limited steps, DC blockers and stereo placement,
// against the Psg's own four-sub-sample Mix.
#include "player/psg_output.h"
#include "tests/psg_registers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr uint32_t kBoardClock = 998400;
constexpr uint32_t kRate = 44100;

// count frames of psg through output into a zeroed buffer; the left side (both sides agree).
std::vector<int32_t> Left(PsgOutput& output, Psg& psg, int32_t count) {
  std::vector<StereoFrame> frames(count, StereoFrame{0, 0});
  output.Mix(psg, frames.data(), count);
  std::vector<int32_t> left;
  for (const StereoFrame& f : frames) {
    EXPECT_EQ(f.left, f.right);
    left.push_back(f.left);
  }
  return left;
}

TEST(PsgOutput, BandLimitedKeepsMixsCountersAndSettlesOnItsLevel) {
  // The same registers and calls through both renderings: the counters move alike, the
  // band-limited wave ends on exactly the level Mix holds (no drift after many changes), and
  // a silenced chip falls to 0 and stays there.
  const uint32_t tones[] = {0x1C0, 7, 1, 0x7E};
  const uint32_t mixers[] = {0x38, 0x00, 0x2A, 0x07};
  int k = 0;
  for (uint32_t rate : {kRate, 8000u}) {
    for (uint32_t mixer : mixers) {
      Psg sampled;
      Psg limited;
      PsgOutput output(rate, true, false);
      for (Psg* psg : {&sampled, &limited}) {
        psg->SetClock(kBoardClock, rate);
        psg->SetRouting(3);
        for (uint32_t c = 0; c < 3; ++c) SetTonePeriod(*psg, c, tones[(k + c) % 4]);
        psg->SetRegister(6, 1 + 7 * (k % 5));
        SetEnvelopePeriod(*psg, 3 + 40 * (k % 3));
        psg->SetRegister(13, 8 + (k % 8));
        psg->SetRegister(7, mixer);
        for (uint32_t c = 0; c < 3; ++c) psg->SetRegister(8 + c, c == k % 3u ? 0x10 : 9 + c);
      }
      ++k;
      std::vector<StereoFrame> a(4000, StereoFrame{0, 0});
      for (int32_t count : {1, 3, 250, 1500, 4000}) {
        sampled.Mix(a.data(), count);
        Left(output, limited, count);
        ASSERT_EQ(limited.Save(), sampled.Save()) << "set-up " << k;  // counters alike
      }
      for (Psg* psg : {&sampled, &limited}) {
        psg->SetRegister(7, 0x3F);
        for (uint32_t c = 0; c < 3; ++c) psg->SetRegister(8 + c, 15 - 5 * c);
      }
      a.assign(100, StereoFrame{0, 0});
      sampled.Mix(a.data(), 100);
      EXPECT_EQ(Left(output, limited, 100).back(), a.back().left) << "set-up " << k;
      for (Psg* psg : {&sampled, &limited}) {
        for (uint32_t r = 8; r < 11; ++r) psg->SetRegister(r, 0);
      }
      EXPECT_EQ(Left(output, limited, 100).back(), 0);
      EXPECT_EQ(Left(output, limited, 100).front(), 0);
    }
  }
}

// A Psg with the chips' output at the board's clock, channel A at level 15.
Psg ChipPsg() {
  Psg psg;
  psg.SetChipTrue(true);
  psg.SetClock(kBoardClock, kRate);
  psg.SetRegister(8, 15);
  return psg;
}

TEST(PsgOutput, ChipsOutputIsOneSidedThroughADcBlocker) {
  Psg psg = ChipPsg();
  Psg raw = psg;
  raw.SetRouting(3);
  StereoFrame first{0, 0};
  raw.Mix(&first, 1);
  const int32_t level = first.left;  // tone and noise off: the gate stays open
  ASSERT_GT(level, 0);
  // The level sounds, falling away by the blocker's pole (5 Hz).
  PsgOutput output(kRate, false, true);
  std::vector<int32_t> out = Left(output, psg, kRate / 10);
  const double pole = std::exp(-2 * 3.14159265358979 * 5 / kRate);
  EXPECT_EQ(out[0], level);
  EXPECT_NEAR(out[1], level * pole, 1);
  EXPECT_NEAR(out.back(), level * std::pow(pole, kRate / 10 - 1), 1);
  // Silenced, the blocker goes on falling away and comes to rest on exactly 0.
  psg.SetRegister(8, 0);
  out = Left(output, psg, kRate);
  EXPECT_LT(out[0], 0);
  EXPECT_EQ(out.back(), 0);
  // A tone swings between 0 and the level, its first half-period closed; a tone above half
  // the rate opens the gate at half the level.
  Psg tone = ChipPsg();
  SetTonePeriod(tone, 0, 0x100);
  tone.SetRegister(7, 0x3E);
  PsgOutput tone_output(kRate, false, true);
  out = Left(tone_output, tone, 100);
  EXPECT_EQ(out[0], 0);
  EXPECT_NEAR(*std::max_element(out.begin(), out.end()), level, level / 500);
  Psg fast = ChipPsg();
  SetTonePeriod(fast, 0, 1);
  fast.SetRegister(7, 0x3E);
  PsgOutput fast_output(kRate, false, true);
  EXPECT_EQ(Left(fast_output, fast, 1)[0], level / 2);
}

TEST(PsgOutput, EachChannelSoundsOnItsSharesAsItDoesAlone) {
  // A wholly left, B wholly right, C nowhere: each side is its channel rendered alone, through
  // long and short calls, several blocks and a silenced end, with either output curve.
  for (bool chip_true : {false, true}) {
    for (bool band_limited : {false, true}) {
      Psg panned;
      Psg alone[2];  // A alone, B alone
      for (Psg* psg : {&panned, &alone[0], &alone[1]}) {
        psg->SetChipTrue(chip_true);
        psg->SetClock(kBoardClock, kRate);
        for (uint32_t c = 0; c < 3; ++c) SetTonePeriod(*psg, c, 0x90 + 0x35 * c);
        psg->SetRegister(6, 9);
        SetEnvelopePeriod(*psg, 30);
        psg->SetRegister(13, 14);
        psg->SetRegister(7, 0x2C);  // tones A and B, noise A and C
        for (uint32_t c = 0; c < 3; ++c) psg->SetRegister(8 + c, c == 0 ? 0x10 : 13);
      }
      PsgOutput panned_output(kRate, band_limited, chip_true);
      panned_output.SetPan({{PsgOutput::kPanUnit, 0, 0}, {0, PsgOutput::kPanUnit, 0}});
      PsgOutput alone_output[2] = {{kRate, band_limited, chip_true},
                                   {kRate, band_limited, chip_true}};
      for (uint32_t c = 0; c < 2; ++c) alone[c].SetChannelMask(1u << c);
      for (int32_t count : {1, 700, 3000, 0, 2500}) {
        if (count == 0) {  // silenced from here on
          for (Psg* psg : {&panned, &alone[0], &alone[1]}) {
            for (uint32_t r = 8; r < 11; ++r) psg->SetRegister(r, 0);
          }
          continue;
        }
        std::vector<StereoFrame> out(count, StereoFrame{0, 0});
        panned_output.Mix(panned, out.data(), count);
        const std::vector<int32_t> a = Left(alone_output[0], alone[0], count);
        const std::vector<int32_t> b = Left(alone_output[1], alone[1], count);
        for (int32_t i = 0; i < count; ++i) {
          ASSERT_EQ(out[i].left, a[i]) << chip_true << band_limited << " frame " << i;
          ASSERT_EQ(out[i].right, b[i]) << chip_true << band_limited << " frame " << i;
        }
      }
    }
  }
}

}  // namespace
