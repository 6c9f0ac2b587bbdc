#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "fm/opm_chip.h"
#include "fm/opm_timer.h"

namespace {

// A timer whose frame is 64 ticks and whose chip clock is 1: timer A lasts (1024 - NA) frames,
// timer B (256 - NB) x 16 frames. Counts what reaches the hooks.
class TimerTest : public ::testing::Test {
 protected:
  TimerTest() {
    timer.SetHooks({this, &Overflow, &Interrupt});
    timer.SetTime(64, 1);
    timer.SetCounting(true);
  }
  void SetA(uint32_t na) {
    timer.Write(0x10, na >> 2);
    timer.Write(0x11, na & 3);
  }
  static void Overflow(void* owner) { ++static_cast<TimerTest*>(owner)->overflows; }
  static void Interrupt(void* owner, bool asserted) {
    auto* self = static_cast<TimerTest*>(owner);
    ++(asserted ? self->raised : self->dropped);
  }

  OpmTimer timer;
  int raised = 0;
  int dropped = 0;
  int overflows = 0;
};

TEST_F(TimerTest, LoadBitsStartTheTimerOnlyOnTheirChange) {
  SetA(1014);  // 10 frames
  timer.Write(0x11, 0xFE);  // only bits 0-1 belong to the period: still 1014
  timer.Write(0x14, 0x05);  // load and enable A
  timer.Advance(6);
  timer.Write(0x14, 0x05);  // the same load bit again: no restart
  timer.Advance(3);
  EXPECT_EQ(timer.status(), 0u);
  timer.Advance(1);
  EXPECT_EQ(timer.status(), 1u);
  EXPECT_EQ(overflows, 1);
  // Stopped and loaded again: a full period from the new start. A period written while the
  // timer runs applies from its next reload.
  timer.Write(0x14, 0x14);  // stop A, reset its flag
  timer.Write(0x14, 0x05);
  SetA(1004);  // 20 frames
  timer.Advance(9);
  EXPECT_EQ(timer.status(), 0u);
  timer.Advance(1);
  EXPECT_EQ(timer.status(), 1u);
  timer.Write(0x14, 0x15);
  timer.Advance(19);
  EXPECT_EQ(timer.status(), 0u);
  timer.Advance(1);
  EXPECT_EQ(timer.status(), 1u);
  EXPECT_EQ(overflows, 3);
  // NA 0 is the longest period, 1024 frames; NB 0xFF the shortest of B, 16 frames.
  timer.Write(0x14, 0x30);
  SetA(0);
  timer.Write(0x12, 0xFF);
  timer.Write(0x14, 0x0F);
  timer.Advance(16);
  EXPECT_EQ(timer.status(), 2u);
  timer.Advance(1024 - 16 - 1);
  EXPECT_EQ(timer.status(), 2u);
  timer.Advance(1);
  EXPECT_EQ(timer.status(), 3u);
}

TEST_F(TimerTest, FlagsRaiseAndDropTheInterruptLine) {
  timer.Write(0x14, 0x30);  // flag resets with no flag set: no notification
  EXPECT_EQ(dropped, 0);
  SetA(1020);              // 4 frames
  timer.Write(0x12, 0xFE);  // 32 frames
  timer.Write(0x14, 0x03);  // both loaded, neither flag enabled
  timer.Advance(40);
  EXPECT_EQ(timer.status(), 0u);
  EXPECT_EQ(raised, 0);
  EXPECT_GT(overflows, 0);  // the overflow happens all the same (the CSM key-on)
  timer.Write(0x14, 0x0F);  // flags enabled; the load bits do not change
  timer.Advance(4);
  EXPECT_EQ(timer.status(), 1u);
  EXPECT_EQ(raised, 1);
  timer.Advance(40);  // each new flag raises the line; one already set does not
  EXPECT_EQ(timer.status(), 3u);
  EXPECT_EQ(raised, 2);
  timer.Write(0x14, 0x1F);  // reset A: B still pending, the line stays up
  EXPECT_EQ(timer.status(), 2u);
  EXPECT_EQ(dropped, 0);
  timer.Write(0x14, 0x2C);  // reset B, both stopped
  EXPECT_EQ(timer.status(), 0u);
  EXPECT_EQ(dropped, 1);
  timer.Advance(2000);
  EXPECT_EQ(timer.status(), 0u);
  // Switched off (the board as defined), a loaded timer never expires.
  timer.SetCounting(false);
  timer.Write(0x14, 0x0F);
  timer.Advance(5000);
  EXPECT_EQ(timer.status(), 0u);
  // Clear drops the flags without a word on the line.
  timer.SetCounting(true);
  timer.Advance(40);
  ASSERT_EQ(timer.status(), 3u);
  timer.Clear();
  EXPECT_EQ(timer.status(), 0u);
  EXPECT_EQ(dropped, 1);
}

}  // namespace

// Counting timers in a whole chip: flags at the chip's periods whatever the rate and the size
// of the Mix calls, and timer A's CSM key-on sounding a channel that was never keyed on.
class CountingChip : public OpmChip {
 public:
  explicit CountingChip(uint32_t rate) {
    Init(3993600, rate);
    SetTimersCounting(true);
  }
  // The status after `frames` more frames, mixed in calls of at most `chunk`.
  uint32_t StatusAfter(int32_t frames, int32_t chunk) {
    std::vector<StereoFrame> out(static_cast<size_t>(chunk));
    for (int32_t done = 0; done < frames; done += chunk) {
      Mix(out.data(), std::min(chunk, frames - done));
    }
    return status();
  }
};

TEST(OpmTimerTest, CountingRaisesFlagsAtTheChipsPeriodsAtAnyRateAndChunk) {
  // Timer B at 0xF0: 16 x 1024 clocks = 4.103 ms; timer A at 924: 100 x 64 clocks = 1.603 ms.
  struct Case {
    uint32_t rate;
    int32_t b_before, b_after, a_before, a_after;  // frames
  } cases[] = {{44100, 180, 181, 70, 71}, {22050, 90, 91, 35, 36}};
  for (const Case& c : cases) {
    for (int32_t chunk : {1, 7, 4096}) {
      CountingChip chip(c.rate);
      chip.Write(0x12, 0xF0);
      chip.Write(0x14, 0x0A);  // load B, enable B
      EXPECT_EQ(chip.StatusAfter(c.b_before, chunk), 0u) << c.rate << " " << chunk;
      EXPECT_EQ(chip.StatusAfter(c.b_after - c.b_before, chunk), 2u) << c.rate << " " << chunk;
      chip.Write(0x14, 0x3A);  // reset both flags; B keeps running, A still stopped
      EXPECT_EQ(chip.status(), 0u);
      EXPECT_EQ(chip.StatusAfter(181 * static_cast<int32_t>(c.rate) / 44100, chunk), 2u)
          << "B reloads while its load bit stays set";
      chip.Write(0x14, 0x30);  // both stopped, flags reset
      chip.Write(0x10, 924 >> 2);
      chip.Write(0x11, 924 & 3);
      chip.Write(0x14, 0x01);  // A loaded, its flag not enabled: it never rises
      EXPECT_EQ(chip.StatusAfter(c.a_after, chunk), 0u);
      chip.Write(0x14, 0x00);
      chip.Write(0x14, 0x05);
      EXPECT_EQ(chip.StatusAfter(c.a_before, chunk), 0u) << c.rate << " " << chunk;
      EXPECT_EQ(chip.StatusAfter(c.a_after - c.a_before, chunk), 1u) << c.rate << " " << chunk;
    }
  }
  // A change of rate keeps the time a timer has left: B half run at 44100 Hz, the rest at 22050.
  {
    CountingChip chip(44100);
    chip.Write(0x12, 0xF0);
    chip.Write(0x14, 0x0A);
    EXPECT_EQ(chip.StatusAfter(90, 64), 0u);
    chip.SetRate(3993600, 22050);  // 90.9 frames left at 44100 Hz are 45.5 at 22050
    EXPECT_EQ(chip.StatusAfter(45, 64), 0u);
    EXPECT_EQ(chip.StatusAfter(1, 64), 2u);
  }
  // Switched off (the board as defined), the same programming never raises a flag.
  CountingChip chip(44100);
  chip.SetTimersCounting(false);
  chip.Write(0x12, 0xF0);
  chip.Write(0x14, 0x0A);
  EXPECT_EQ(chip.StatusAfter(1000, 64), 0u);
}

TEST(OpmTimerTest, CsmTimerAKeysOnAChannelNeverKeyedOn) {
  auto energy = [](bool counting) {
    CountingChip chip(44100);
    chip.SetTimersCounting(counting);
    chip.Write(0x20, 0xC7);  // both sides, algorithm 7: every operator a carrier
    chip.Write(0x28, 0x4A);
    for (uint32_t op = 0; op < 4; ++op) {
      chip.Write(0x60 + op * 8, 0x00);  // TL 0
      chip.Write(0x80 + op * 8, 0x1F);  // AR 31
      chip.Write(0xE0 + op * 8, 0x0F);
    }
    chip.Write(0x10, 0xF0);
    chip.Write(0x14, 0x81);  // CSM, timer A loaded: no 0x08 write at all
    std::vector<StereoFrame> out(4410);
    chip.Mix(out.data(), 4410);
    int64_t sum = 0;
    for (const StereoFrame& f : out) sum += std::abs(f.left);
    return sum;
  };
  EXPECT_GT(energy(true), 1000000);
  EXPECT_EQ(energy(false), 0);
}

TEST(OpmChipCopyTest, ACopyRunsOnByItselfWithItsOwnTimer) {
  // A channel set up for CSM but never keyed on: only the copy's own timer A can sound it.
  CountingChip original(44100);
  original.Write(0x20, 0xC7);
  original.Write(0x28, 0x4A);
  for (uint32_t op = 0; op < 4; ++op) {
    original.Write(0x60 + op * 8, 0x00);
    original.Write(0x80 + op * 8, 0x1F);
    original.Write(0xE0 + op * 8, 0x0F);
  }
  original.Write(0x10, 0xF0);
  original.Write(0x14, 0x81);
  OpmChip copy(original);
  OpmChip assigned;
  assigned = original;
  original.Reset();  // stops the original's timers and silences it
  auto energy = [](OpmChip& chip) {
    std::vector<StereoFrame> out(4410, StereoFrame{0, 0});
    chip.Mix(out.data(), 4410);
    int64_t sum = 0;
    for (const StereoFrame& f : out) sum += std::abs(f.left);
    return sum;
  };
  EXPECT_GT(energy(copy), 1000000);
  EXPECT_GT(energy(assigned), 1000000);
  EXPECT_EQ(energy(original), 0);

  // Copies of a sounding chip render the same frames as it, each advancing only itself.
  OpmChip twin(copy);
  std::vector<StereoFrame> a(1000, StereoFrame{0, 0});
  std::vector<StereoFrame> b(1000, StereoFrame{0, 0});
  copy.Mix(a.data(), 1000);
  twin.Mix(b.data(), 1000);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(a[i].left, b[i].left) << i;
}
