// OpmChip's chip-true variant against the YM2151's published facts: the phase-step table (read
// from the shared chipfacts), DT2 and vibrato as steps of the note position, the fastest
// envelope step, and the output's 16-bit saturation and floating-point DAC.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fm/opm_chip.h"
#include "tests/fm_voice.h"

namespace {

// The chip's 768 increments of block 7, or none when the shared facts are not there.
std::vector<uint32_t> ChipPhaseSteps() {
  const char* env = std::getenv("VORLA_SHARED_DIR");
  const std::string shared = env != nullptr && *env != 0 ? env : VORLA_SHARED_DEFAULT;
  std::ifstream in(shared + "/chipfacts/opm_phase_steps.txt");
  std::vector<uint32_t> steps;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    uint32_t v = 0;
    while (words >> v) steps.push_back(v);
  }
  return steps;
}

class ChipTrueTest : public ::testing::Test {
 protected:
  ChipTrueTest() {
    chip.Init(3579545, 55930);  // clock / 64: one chip sample a frame
    chip.SetChipTrue(true);
  }

  // Channel ch sounding operator M1 alone (algorithm 7), MUL 1, full level, on both sides,
  // keyed on afresh (phase 0).
  void Sine(int ch, uint32_t kc, uint32_t kf = 0, uint32_t dt2 = 0, uint32_t d1r = 0) {
    chip.Write(0x08, ch);
    chip.Write(0x20 + ch, 0xC7);
    chip.Write(0x28 + ch, kc);
    chip.Write(0x30 + ch, kf << 2);
    for (int slot = 0; slot < 4; ++slot) {
      const int op = slot * 8 + ch;
      chip.Write(0x40 + op, 0x01);
      chip.Write(0x60 + op, slot == 0 ? 0 : 127);
      chip.Write(0x80 + op, 31);
      chip.Write(0xA0 + op, d1r);
      chip.Write(0xC0 + op, dt2 << 6);
      chip.Write(0xE0 + op, 0xFF);  // SL 15: the decay runs to the bottom
    }
    chip.Write(0x08, 0x08 | ch);
  }

  // Whether the next frames' signs are those of M1 advancing by inc a frame from phase 0. As
  // algorithm 7's feedback operator, its sample reaches the output a frame late without LFO
  // (delay 1) and in its own frame with it (delay 0).
  bool Advances(uint32_t inc, int delay = 1) {
    return fm_voice::SignMismatch(fm_voice::Render(chip, 1024), inc, delay) == -1;
  }

  OpmChip chip;
};

// The operator's phase turns once per 2^29, the chip's once per 2^20.
uint32_t ChipAdvance(const std::vector<uint32_t>& steps, int position) {
  const int block = position / 768;
  return (steps[static_cast<size_t>(position % 768)] >> (7 - block)) << 9;
}

int Position(uint32_t kc, uint32_t kf) {
  const uint32_t code = kc & 15;
  return static_cast<int>((kc >> 4) * 768 + (code - code / 4) * 64 + kf);
}

TEST_F(ChipTrueTest, PitchDt2AndVibratoFollowTheChipsTable) {
  const std::vector<uint32_t> steps = ChipPhaseSteps();
  if (steps.size() != 768) {
    if (std::getenv("CI") != nullptr) FAIL() << "chipfacts/opm_phase_steps.txt is missing";
    GTEST_SKIP() << "chipfacts/opm_phase_steps.txt not found (set VORLA_SHARED_DIR)";
  }
  // Every key code and fraction of octaves 0-7 but the top code 0x7F, whose note lies in the
  // next octave; codes 3, 7 and 11 play the next note up.
  for (uint32_t kc = 0; kc < 0x7F; ++kc) {
    for (uint32_t kf = 0; kf < 64; ++kf) {
      Sine(0, kc, kf);
      ASSERT_TRUE(Advances(ChipAdvance(steps, Position(kc, kf)))) << kc << " " << kf;
    }
  }
  // DT2 moves the note by 384, 500 and 608 steps of 1/64 semitone.
  constexpr int kDt2[4] = {0, 384, 500, 608};
  for (uint32_t dt2 = 1; dt2 < 4; ++dt2) {
    Sine(0, 0x2A, 10, dt2);
    EXPECT_TRUE(Advances(ChipAdvance(steps, Position(0x2A, 10) + kDt2[dt2]))) << dt2;
  }
  // A square LFO starts high: 127 x PMD / 128, rounded down, divided by 32 ... 2 for PMS 1-5
  // (rounded down) or times 2 and 4 for PMS 6 and 7, added to the note position.
  chip.Write(0x1B, 1);
  constexpr int kPmd127[8] = {0, 3, 7, 15, 31, 63, 252, 504};  // from 126
  constexpr int kPmd64[8] = {0, 1, 3, 7, 15, 31, 126, 252};    // from 63
  for (uint32_t pms = 1; pms < 8; ++pms) {
    for (uint32_t pmd : {127u, 64u}) {
      chip.Write(0x19, 0x80 | pmd);
      chip.Write(0x38, pms << 4);
      Sine(0, 0x5A, 0);
      const int shift = pmd == 127 ? kPmd127[pms] : kPmd64[pms];
      EXPECT_TRUE(Advances(ChipAdvance(steps, Position(0x5A, 0) + shift), 0)) << pms << " " << pmd;
    }
  }
}

TEST_F(ChipTrueTest, RatesAbove60StepAsRate60) {
  // D1R 30 is rate 60 at key code 0x0A, D1R 31 rate 62: eight units a step, a step every
  // three chip samples (the board steps 16 units at rates 60-63). The level shows in the noise
  // of channel 8's C2 (TL 96 keeps it within the DAC's exact range).
  for (uint32_t d1r : {30u, 31u}) {
    chip.Reset();
    chip.Write(0x08, 7);
    fm_voice::NoiseProbe(chip, 96, 31, d1r, 0, 0xFF, 0, 0x0A);
    chip.Write(0x08, 0x40 | 7);
    const std::vector<int32_t> levels = fm_voice::Levels(chip, 34, 96);
    EXPECT_EQ(levels[33] - levels[3], 80) << d1r;
  }
}

TEST_F(ChipTrueTest, RatesFollowThePresentKeyCodeAndAnAttackStandsStillAt62And63) {
  // AR 29 KS 1: rate 58 at key code 0x0A, 63 at 0x7A. A key code written during the attack
  // leaves the level where it is; one written at the key-on instant, before or after the key
  // bits, gives the instant attack.
  const auto probe = [this] {
    chip.Reset();
    chip.Write(0x08, 7);  // the key latch outlives a reset
    fm_voice::NoiseProbe(chip, 96, 29, 0, 0, 0x0F, 1, 0x0A);
  };
  probe();
  chip.Write(0x08, 0x40 | 7);
  int32_t level = 255;
  for (int frames = 0; level > 200 && frames < 100; ++frames) {
    level = fm_voice::Levels(chip, 1, 96)[0];
  }
  ASSERT_GT(level, 0);
  chip.Write(0x2F, 0x7A);
  const std::vector<int32_t> held = fm_voice::Levels(chip, 300, 96);
  EXPECT_EQ(*std::min_element(held.begin() + 1, held.end()), held[1]);
  EXPECT_EQ(*std::max_element(held.begin() + 1, held.end()), held[1]);
  EXPECT_GT(held[1], 0);
  for (bool code_first : {true, false}) {
    probe();
    if (code_first) chip.Write(0x2F, 0x7A);
    chip.Write(0x08, 0x40 | 7);
    if (!code_first) chip.Write(0x2F, 0x7A);
    EXPECT_EQ(fm_voice::Levels(chip, 2, 96)[1], 0) << code_first;
  }
}

TEST_F(ChipTrueTest, TheLfoNoiseComesFromTheChipsLfsrNotTheCLibrary) {
  // The noise waveform at a fast LFO rate, deep vibrato: a copy rendered after other seeds of
  // rand() plays the same, and the pitch does move.
  chip.Write(0x18, 0xF0);
  chip.Write(0x19, 0xFF);
  chip.Write(0x1B, 3);
  chip.Write(0x38, 0x70);
  Sine(0, 0x4A);
  OpmChip copy = chip;
  std::srand(1);
  const std::vector<int32_t> first = fm_voice::Left(fm_voice::Render(chip, 20000));
  std::srand(2);
  EXPECT_EQ(fm_voice::Left(fm_voice::Render(copy, 20000)), first);
  chip.Write(0x38, 0);
  EXPECT_NE(fm_voice::Left(fm_voice::Render(copy, 20000)),
            fm_voice::Left(fm_voice::Render(chip, 20000)));
}

TEST_F(ChipTrueTest, TheMixSaturatesAt16BitsAndKeepsTheDacsBits) {
  // Six full-level sines in unison: about 49,000 at the peaks, beyond the chip's range.
  for (int ch = 0; ch < 6; ++ch) Sine(ch, 0x4A);
  std::vector<StereoFrame> frames(4000, StereoFrame{0, 0});
  chip.Mix(frames.data(), 4000);
  int32_t high = 0, low = 0;
  for (const StereoFrame& f : frames) {
    high = std::max(high, f.left);
    low = std::min(low, f.left);
    // The DAC's 10-bit mantissa: a value of 2^(9 + s) or more in size keeps bits s and up.
    const int32_t size = f.left < 0 ? ~f.left : f.left;
    int32_t step = 1;
    while (size >= 512 * step) step *= 2;
    ASSERT_EQ(f.left % step, 0) << f.left;
  }
  EXPECT_EQ(high, 32704);  // 32,767 as the DAC passes it
  EXPECT_EQ(low, -32768);
}

}  // namespace
