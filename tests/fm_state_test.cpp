// OpmChip's saved state: a restore continues exactly where the save was, and a damaged,
// foreign or out-of-range state is refused without touching the chip.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fm/opm_chip.h"

namespace {

std::vector<StereoFrame> Render(OpmChip& chip, int count, int chunk) {
  std::vector<StereoFrame> frames(static_cast<size_t>(count), StereoFrame{0, 0});
  for (int done = 0; done < count; done += chunk) {
    chip.Mix(frames.data() + done, std::min(chunk, count - done));
  }
  return frames;
}

bool Same(const std::vector<StereoFrame>& a, const std::vector<StereoFrame>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].left != b[i].left || a[i].right != b[i].right) return false;
  }
  return true;
}

// Everything running at once: LFO (triangle) on amplitude and pitch, eight voices with slow
// attacks and decays keyed at different times, noise on channel 8, both timers counting with
// their flags, at the given rate and variant.
void Busy(OpmChip& chip, uint32_t rate, bool chip_true) {
  chip.Init(3579545, rate);
  chip.SetChipTrue(chip_true);
  chip.SetTimersCounting(true);
  chip.Write(0x18, 0xC8);
  chip.Write(0x19, 0x50);
  chip.Write(0x19, 0xE0);
  chip.Write(0x1B, 2);
  chip.Write(0x0F, 0x8C);
  chip.Write(0x10, 0xC0);
  chip.Write(0x12, 0xE0);
  chip.Write(0x14, 0x0F);
  for (uint32_t ch = 0; ch < 8; ++ch) {
    chip.Write(0x20 + ch, 0xC0 | (ch << 3) | ch);
    chip.Write(0x28 + ch, 0x30 + ch * 9);
    chip.Write(0x30 + ch, ch * 24);
    chip.Write(0x38 + ch, ch % 2 ? 0x52 : 0x00);
    for (uint32_t slot = 0; slot < 4; ++slot) {
      const uint32_t base = slot * 8 + ch;
      chip.Write(0x40 + base, (slot * 3 + ch) & 0x7F);
      chip.Write(0x60 + base, slot == 3 ? 0x00 : 0x20);
      chip.Write(0x80 + base, 0x08 + ch + slot);  // slow attacks
      chip.Write(0xA0 + base, 0x80 | 0x06);
      chip.Write(0xC0 + base, (ch & 3) << 6 | 0x04);
      chip.Write(0xE0 + base, 0x45);
    }
  }
  for (uint32_t ch = 0; ch < 8; ++ch) {
    chip.Write(0x08, 0x78 | ch);
    Render(chip, 97, 97);
  }
}

TEST(OpmStateTest, ARestoreContinuesBitForBit) {
  for (bool chip_true : {false, true}) {
    for (uint32_t rate : {44100u, 55930u}) {
      OpmChip chip;
      Busy(chip, rate, chip_true);
      const std::vector<uint8_t> state = chip.SaveState();
      const std::vector<StereoFrame> first = Render(chip, 3000, 1);
      const uint32_t status = chip.status();
      ASSERT_NE(status, 0u);  // the timers did run

      // Into the same chip, and into a fresh one set up differently.
      ASSERT_TRUE(chip.LoadState(state.data(), state.size()));
      EXPECT_EQ(chip.SaveState(), state);
      EXPECT_TRUE(Same(Render(chip, 3000, 256), first)) << chip_true << " " << rate;
      EXPECT_EQ(chip.status(), status);
      OpmChip other;
      other.Init(4000000, 22050);
      ASSERT_TRUE(other.LoadState(state.data(), state.size()));
      EXPECT_TRUE(Same(Render(other, 3000, 7), first)) << chip_true << " " << rate;
    }
  }
}

// A chip mixed a frame at a time keeps what it worked out from the LFO's values and from which
// voices sound only while they hold: across a rate change, and after every voice fell silent
// and keyed on again, it plays as a chip mixed in blocks and as a copy restored from its state.
TEST(OpmStateTest, OneFrameMixingKeepsNothingStale) {
  for (bool chip_true : {false, true}) {
    OpmChip chip;
    Busy(chip, 44100, chip_true);
    OpmChip blocks(chip);
    EXPECT_TRUE(Same(Render(chip, 700, 1), Render(blocks, 700, 700)));
    chip.SetRate(3579545, 48000);
    blocks.SetRate(3579545, 48000);
    OpmChip restored;
    const std::vector<uint8_t> state = chip.SaveState();
    ASSERT_TRUE(restored.LoadState(state.data(), state.size()));
    const std::vector<StereoFrame> one = Render(chip, 1500, 1);
    EXPECT_TRUE(Same(one, Render(blocks, 1500, 1500))) << chip_true;
    EXPECT_TRUE(Same(one, Render(restored, 1500, 1))) << chip_true;
    for (uint32_t keys : {0x02u, 0x7Au}) {  // channel 3 keys off, and on again
      chip.Write(0x08, keys);
      blocks.Write(0x08, keys);
      EXPECT_TRUE(Same(Render(chip, 400, 1), Render(blocks, 400, 400))) << chip_true;
    }
    // Whether a voice sounds is looked at once a call: the reference is a chip that is written
    // to (a register with no function) before every frame.
    OpmChip written(chip);
    auto one_written = [&written](int frames) {
      std::vector<StereoFrame> out;
      for (int i = 0; i < frames; ++i) {
        written.Write(0x00, 0);
        out.push_back(Render(written, 1, 1)[0]);
      }
      return out;
    };
    for (OpmChip* c : {&chip, &written}) {
      for (uint32_t ch = 0; ch < 8; ++ch) {
        for (uint32_t slot = 0; slot < 4; ++slot) c->Write(0xE0 + slot * 8 + ch, 0x4F);
        c->Write(0x08, ch);  // fast release
      }
    }
    EXPECT_TRUE(Same(Render(chip, 3000, 1), one_written(3000))) << chip_true;
    for (OpmChip* c : {&chip, &written}) c->Write(0x08, 0x78 | 3);
    EXPECT_TRUE(Same(Render(chip, 1000, 1), one_written(1000))) << chip_true;
  }
}

// The checksum at the end recomputed, so that a changed field reaches the range checks.
void Reseal(std::vector<uint8_t>& state) {
  const uint32_t sum = StateChecksum(state.data(), state.size() - 4);
  for (int i = 0; i < 4; ++i) state[state.size() - 4 + i] = static_cast<uint8_t>(sum >> (8 * i));
}

TEST(OpmStateTest, DamagedOrForeignStatesAreRefusedAndChangeNothing) {
  OpmChip chip;
  Busy(chip, 44100, false);
  const std::vector<uint8_t> good = chip.SaveState();
  OpmChip source;  // a different state to offer the chip
  Busy(source, 48000, true);
  Render(source, 500, 500);
  const std::vector<uint8_t> other = source.SaveState();
  ASSERT_EQ(other.size(), good.size());

  auto refused = [&](std::vector<uint8_t> bytes) {
    return !chip.LoadState(bytes.data(), bytes.size()) && chip.SaveState() == good;
  };
  for (size_t i = 0; i < other.size(); ++i) {
    std::vector<uint8_t> flipped = other;
    flipped[i] ^= 0x10;
    ASSERT_TRUE(refused(flipped)) << "byte " << i;
  }
  EXPECT_TRUE(refused(std::vector<uint8_t>(other.begin(), other.end() - 1)));
  EXPECT_TRUE(refused(std::vector<uint8_t>(other.begin(), other.begin() + 16)));
  EXPECT_TRUE(refused({}));
  EXPECT_FALSE(chip.LoadState(nullptr, other.size()));
  std::vector<uint8_t> longer = other;
  longer.insert(longer.end() - 4, 0);
  // The size says so (the payload between the header and the checksum), the fields end early.
  const auto payload = static_cast<uint32_t>(longer.size() - StateWriter::kHeaderSize - 4);
  for (int i = 0; i < 4; ++i) longer[8 + i] = static_cast<uint8_t>(payload >> (8 * i));
  Reseal(longer);
  EXPECT_TRUE(refused(longer));
  std::vector<uint8_t> magic = other;
  magic[0] = 'X';
  EXPECT_TRUE(refused(magic));
  std::vector<uint8_t> version = other;
  version[4] = 1;  // the layout before the pending attack
  EXPECT_TRUE(refused(version));

  // Every field set to values out of its range, one at a time: refused, or, where the value
  // is one the chip can hold, accepted and rendered (the sanitizer build watches the tables).
  int out_of_range = 0;
  for (size_t i = StateWriter::kHeaderSize; i + 4 < other.size(); ++i) {
    for (uint8_t value : {0x80, 0xFF}) {
      std::vector<uint8_t> bad = other;
      bad[i] = value;
      Reseal(bad);
      if (chip.LoadState(bad.data(), bad.size())) {
        Render(chip, 16, 16);
        ASSERT_TRUE(chip.LoadState(good.data(), good.size()));
      } else {
        ASSERT_EQ(chip.SaveState(), good) << "byte " << i;
        ++out_of_range;
      }
    }
  }
  EXPECT_GT(out_of_range, 1000);
  // After all of that the chip still renders as an untouched twin.
  OpmChip twin;
  Busy(twin, 44100, false);
  EXPECT_TRUE(Same(Render(chip, 2000, 64), Render(twin, 2000, 64)));
}

}  // namespace
