#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

#include "fm/opm_chip.h"
#include "fm/opm_timer.h"

namespace {

// Opens the register port and counts what reaches the hooks.
class TimerProbe : public OpmTimer {
 public:
  using OpmTimer::ClearTimers;
  using OpmTimer::WriteTimerRegister;

  int raised = 0;
  int dropped = 0;
  int overflows = 0;

 protected:
  void TimerAOverflow() override { ++overflows; }
  void NotifyInterrupt(bool asserted) override { ++(asserted ? raised : dropped); }
};

constexpr int32_t kUnit = 1050256;  // 3993600 Hz / 64

TEST(OpmTimerTest, TimerUnit) {
  TimerProbe t;
  t.SetTimerUnit(3993600 / 64);
  EXPECT_EQ(t.timer_unit(), kUnit);
  // No timer clock at all, or one so slow that the unit leaves 32 bits: saturated.
  t.SetTimerUnit(0);
  EXPECT_EQ(t.timer_unit(), std::numeric_limits<int32_t>::max());
  t.SetTimerUnit(1);
  EXPECT_EQ(t.timer_unit(), std::numeric_limits<int32_t>::max());
}

TEST(OpmTimerTest, Periods) {
  TimerProbe t;
  t.SetTimerUnit(62400);
  t.WriteTimerRegister(0x10, 0);
  t.WriteTimerRegister(0x11, 0);
  EXPECT_EQ(t.timer_a_period(), 1024 * kUnit);
  t.WriteTimerRegister(0x10, 0xFF);
  t.WriteTimerRegister(0x11, 3);
  EXPECT_EQ(t.timer_a_period(), kUnit);
  t.WriteTimerRegister(0x11, 0xFC);  // only bits 0-1 belong to the period
  EXPECT_EQ(t.timer_a_period(), 4 * kUnit);
  t.WriteTimerRegister(0x12, 0);
  EXPECT_EQ(t.timer_b_period(), 256 * kUnit);
  t.WriteTimerRegister(0x12, 0xFF);
  EXPECT_EQ(t.timer_b_period(), kUnit);
  // A new unit does not reach periods already computed.
  t.SetTimerUnit(31200);
  EXPECT_EQ(t.timer_b_period(), kUnit);
  // Periods of a very slow clock saturate.
  t.WriteTimerRegister(0x10, 0);
  t.WriteTimerRegister(0x12, 0);
  t.SetTimerUnit(100);
  t.WriteTimerRegister(0x11, 0);
  t.WriteTimerRegister(0x12, 0);
  EXPECT_EQ(t.timer_a_period(), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(t.timer_b_period(), std::numeric_limits<int32_t>::max());
}

TEST(OpmTimerTest, LoadBitsActOnTheirChange) {
  TimerProbe t;
  t.SetTimerUnit(62400);
  t.WriteTimerRegister(0x10, 0x80);
  t.WriteTimerRegister(0x12, 0x10);
  t.WriteTimerRegister(0x14, 0x05);
  EXPECT_EQ(t.timer_a_count(), 512 * kUnit);
  EXPECT_EQ(t.timer_b_count(), 0);
  t.WriteTimerRegister(0x10, 0);  // the loaded counter keeps the old period
  t.WriteTimerRegister(0x14, 0x05);
  EXPECT_EQ(t.timer_a_count(), 512 * kUnit);
  t.WriteTimerRegister(0x14, 0x04);
  EXPECT_EQ(t.timer_a_count(), 0);
  t.WriteTimerRegister(0x14, 0x07);
  EXPECT_EQ(t.timer_a_count(), 1024 * kUnit);
  EXPECT_EQ(t.timer_b_count(), 240 * kUnit);
  EXPECT_EQ(t.timer_control(), 0x07u);
  t.ClearTimers();
  EXPECT_EQ(t.timer_a_count(), 0);
  EXPECT_EQ(t.timer_b_count(), 0);
  EXPECT_EQ(t.status(), 0u);
  EXPECT_EQ(t.raised + t.dropped + t.overflows, 0);
}

TEST(OpmTimerTest, StatusFlagsAndInterruptLine) {
  TimerProbe t;
  t.WriteTimerRegister(0x14, 0x30);  // flag resets with no flag set: no notification
  EXPECT_EQ(t.dropped, 0);
  t.SetStatus(1);
  EXPECT_EQ(t.status(), 1u);
  EXPECT_EQ(t.raised, 1);
  t.SetStatus(3);  // bit 0 already set: nothing happens
  EXPECT_EQ(t.status(), 1u);
  EXPECT_EQ(t.raised, 1);
  t.SetStatus(2);
  EXPECT_EQ(t.status(), 3u);
  EXPECT_EQ(t.raised, 2);
  t.WriteTimerRegister(0x14, 0x10);  // reset A: B still pending, line stays up
  EXPECT_EQ(t.status(), 2u);
  EXPECT_EQ(t.dropped, 0);
  t.WriteTimerRegister(0x14, 0x20);
  EXPECT_EQ(t.status(), 0u);
  EXPECT_EQ(t.dropped, 1);
  t.ResetStatus(3);
  EXPECT_EQ(t.dropped, 1);
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
