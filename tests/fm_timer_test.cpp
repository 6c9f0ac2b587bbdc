#include <gtest/gtest.h>

#include <limits>

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
