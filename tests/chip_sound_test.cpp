// The chips heard as they sound: nothing delayed, the same frames at every size of Mix call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "chip_sound/fm_chip_sound.h"
#include "chip_sound/psg_chip_sound.h"

namespace {

constexpr uint32_t kFmClock = 3993600;
constexpr uint32_t kPsgClock = 998400;
constexpr uint32_t kRate = 44100;

// Register writes at output frames.
struct Write {
  int32_t frame;
  uint32_t reg;
  uint32_t value;
};

// A note on channel 0 (algorithm 7, every operator at full level with the fastest attack).
std::vector<Write> FmNote(int32_t frame) {
  std::vector<Write> w = {{0, 0x20, 0xC7}, {0, 0x28, 0x4A}};
  for (uint32_t slot = 0; slot < 4; ++slot) {
    w.push_back({0, 0x40 + 8 * slot, 0x01});
    w.push_back({0, 0x60 + 8 * slot, slot == 3 ? 0x00u : 0x7Fu});
    w.push_back({0, 0x80 + 8 * slot, 0x1F});
    w.push_back({0, 0xE0 + 8 * slot, 0x0F});
  }
  w.push_back({frame, 0x08, 0x78});
  return w;
}

// frames output frames, mixed in calls of at most chunk frames; each write lands after the
// frames before it (apply), as a host's Update before a write makes it.
template <class Apply, class Mix>
std::vector<StereoFrame> Drive(const std::vector<Write>& writes, int32_t frames, int32_t chunk,
                               Apply apply, Mix mix) {
  std::vector<StereoFrame> out(frames, StereoFrame{0, 0});
  int32_t done = 0;
  size_t next = 0;
  while (done < frames) {
    while (next < writes.size() && writes[next].frame <= done) apply(writes[next++]);
    int32_t end = std::min(frames, done + chunk);
    if (next < writes.size()) end = std::min(end, writes[next].frame);
    mix(&out[done], end - done);
    done = end;
  }
  return out;
}

std::vector<StereoFrame> RenderFm(const std::vector<Write>& writes, int32_t frames,
                                  int32_t chunk) {
  OpmChip chip;
  chip.Init(kFmClock, kRate);
  FmChipSound sound(&chip, kFmClock, kRate);
  return Drive(
      writes, frames, chunk,
      [&](const Write& w) {
        sound.Settle();
        chip.Write(w.reg, w.value);
      },
      [&](StereoFrame* out, int32_t n) { sound.Mix(out, n); });
}

std::vector<StereoFrame> RenderPsg(const std::vector<Write>& writes, int32_t frames,
                                   int32_t chunk) {
  Psg psg;
  psg.SetChipTrue(true);
  psg.SetType(Psg::Type::kAy8910);
  psg.SetClock(kPsgClock, kRate);
  PsgChipSound sound(&psg, kRate);
  return Drive(
      writes, frames, chunk,
      [&](const Write& w) {
        sound.Changed();
        psg.SetRegister(w.reg, w.value);
      },
      [&](StereoFrame* out, int32_t n) { sound.Mix(out, n, 3); });
}

bool Same(const std::vector<StereoFrame>& a, const std::vector<StereoFrame>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].left != b[i].left || a[i].right != b[i].right) return false;
  }
  return true;
}

int32_t Peak(const std::vector<StereoFrame>& s, size_t from, size_t to) {
  int32_t peak = 0;
  for (size_t i = from; i < to; ++i) peak = std::max(peak, std::abs(s[i].left));
  return peak;
}

}  // namespace

TEST(ChipSound, FmNoteStartsOnItsFrameAtEveryChunk) {
  // Key-on at 1000, off at 3000, a new key code under way at 2000.
  std::vector<Write> writes = FmNote(1000);
  writes.push_back({2000, 0x28, 0x3E});
  writes.push_back({3000, 0x08, 0x00});
  // Then the level written every 9 frames, as a program that plays a sample through it.
  writes.push_back({3500, 0x08, 0x78});
  for (int32_t f = 3500; f < 4500; f += 9) writes.push_back({f, 0x78, (f / 9 * 5) & 0x1Fu});
  const std::vector<StereoFrame> whole = RenderFm(writes, 6000, 1024);
  EXPECT_EQ(Peak(whole, 0, 1000), 0) << "nothing sounds before the key-on's frame";
  EXPECT_GT(Peak(whole, 1000, 1004), 100) << "the note sounds from its frame on";
  EXPECT_GT(Peak(whole, 1004, 2000), 5000);
  for (int32_t chunk : {1, 7, 300}) {
    EXPECT_TRUE(Same(RenderFm(writes, 6000, chunk), whole)) << "chunk " << chunk;
  }
}

TEST(ChipSound, FmWithoutLaterWritesIsTheChipConverted) {
  // With every write at frame 0, each output frame is the converter's over the chip's frames
  // rendered in one piece.
  const std::vector<StereoFrame> mixed = RenderFm(FmNote(0), 3000, 1);
  OpmChip chip;
  chip.Init(kFmClock, kRate);
  chip.SetChipTrue(true);
  chip.SetRate(kFmClock, kFmClock / 64);
  for (const Write& w : FmNote(0)) chip.Write(w.reg, w.value);
  const RateConverter converter(kFmClock, 64, kRate);
  const uint64_t chip_frames = converter.ChipFrames(3000) + RateConverter::kTaps;
  std::vector<StereoFrame> input(chip_frames, StereoFrame{0, 0});
  chip.Mix(input.data(), static_cast<int32_t>(chip_frames));
  std::vector<int16_t> left(RateConverter::kHalf - 1, 0);
  std::vector<int16_t> right(left);
  for (const StereoFrame& f : input) {
    left.push_back(static_cast<int16_t>(f.left));
    right.push_back(static_cast<int16_t>(f.right));
  }
  std::vector<StereoFrame> expected(3000, StereoFrame{0, 0});
  converter.Convert(left.data(), right.data(), 0, 16384, expected.data(), 3000);
  EXPECT_TRUE(Same(mixed, expected));
  EXPECT_GT(Peak(expected, 0, 3000), 5000);
}

TEST(ChipSound, ConverterTakesTheWorstFullScaleInput) {
  // Above the chip's rate the cut-off is widest (0.485 of the chip's rate) and the taps'
  // magnitudes add up the most. At 96 kHz output frame j falls 0.65 j chip frames in, a phase
  // in twentieths; tap m reads chip frame ip - 31 + m, 31 - m + fraction frames before it.
  // Full-scale samples with the signs of a phase's taps give its largest sum.
  const RateConverter converter(kFmClock, 64, 96000);
  int32_t largest = 0;
  for (uint64_t j = 0; j < 20; ++j) {
    const double fraction = static_cast<double>(j * 13 % 20) / 20;
    std::vector<int16_t> worst(RateConverter::kTaps);
    for (int32_t m = 0; m < RateConverter::kTaps; ++m) {
      const double x = 0.97 * (fraction + RateConverter::kHalf - 1 - m);
      const bool positive = x == 0 || std::sin(3.14159265358979 * x) / x > 0;
      worst[m] = positive ? int16_t{32767} : int16_t{-32768};
    }
    StereoFrame out{0, 0};
    converter.Convert(worst.data(), worst.data(), j, 16384, &out, 1);
    largest = std::max(largest, out.left);
  }
  EXPECT_GT(largest, 2 * 32768) << "the sum is as large as it gets, and in range";
  EXPECT_LT(largest, 3 * 32768);
}

TEST(ChipSound, FmGoesOnThroughARateChange) {
  OpmChip chip;
  chip.Init(kFmClock, kRate);
  FmChipSound sound(&chip, kFmClock, kRate);
  for (const Write& w : FmNote(0)) chip.Write(w.reg, w.value);
  std::vector<StereoFrame> out(4000, StereoFrame{0, 0});
  sound.Mix(out.data(), 2000);
  sound.SetRate(48000);
  sound.Mix(&out[2000], 2000);
  EXPECT_GT(Peak(out, 1000, 2000), 5000);
  EXPECT_GT(Peak(out, 2000, 2100), 5000);
  EXPECT_GT(Peak(out, 3900, 4000), 5000);
}

TEST(ChipSound, PsgToneAndNoiseStartOnTheirFrameAtEveryChunk) {
  // Channel A's level alone from 500 (tone and noise off: the chip sounds the level), its tone
  // from 1000, channel B noise from 1500, A's period changed at 2500, then both silent.
  // From 4000, a sample played through channel C's level, a write every 5 frames.
  std::vector<Write> writes = {
      {0, 0, 0x40},    {0, 6, 0x01},    {0, 7, 0x3F},    {500, 8, 0x0F},  {1000, 7, 0x3E},
      {1500, 7, 0x2E}, {1500, 9, 0x0C}, {2500, 0, 0x90}, {3500, 8, 0x00}, {3500, 9, 0x00}};
  for (int32_t f = 4000; f < 4800; f += 5) writes.push_back({f, 10, (f / 5 * 7) & 15u});
  const std::vector<StereoFrame> whole = RenderPsg(writes, 5000, 1024);
  EXPECT_EQ(Peak(whole, 0, 500), 0);
  EXPECT_GT(Peak(whole, 500, 502), 1000) << "the level's step on its frame";
  for (int32_t chunk : {1, 3, 700}) {
    EXPECT_TRUE(Same(RenderPsg(writes, 5000, chunk), whole)) << "chunk " << chunk;
  }
}
