#include <gtest/gtest.h>

#include "control/board_control.h"
#include "tests/core_state.h"
#include "tests/recording_host.h"

namespace {

// A stand-in device: forwards the timer-queue event to the control block, as the board does.
struct Owner {
  BoardControl control;
  static void VYXCALL Routine(void* owner, uint32_t) {
    auto* self = static_cast<Owner*>(owner);
    self->control.PeriodicInterrupt(owner, &Routine);
  }
  void Write(uint32_t reg, uint32_t value) {
    if (control.ControlWrite(reg, value) == BoardControl::InterruptChange::kSwitchedOn) {
      Routine(this, 1);
    }
  }
};

TEST(BoardControl, ResetValuesAndSelectedReads) {
  BoardControl c;
  EXPECT_EQ(c.Read(0), 0u);
  EXPECT_EQ(c.Read(2), 2u);
  EXPECT_EQ(c.Read(4), 255u);
  EXPECT_EQ(c.Read(6), 255u);
  EXPECT_EQ(c.Read(1), 255u);
  c.Write(1, 0x05);
  EXPECT_EQ(c.Read(4), 64u);
  EXPECT_EQ(c.Read(6), 255u);
  c.Write(1, 0x09);
  EXPECT_EQ(c.Read(6), 255u);
  EXPECT_EQ(c.Read(4), 255u);
  c.Write(1, 0x03);
  EXPECT_EQ(c.Read(4), 0u);
  EXPECT_EQ(c.Read(6), 0u);
  c.Write(1, 0x71);  // bits 4-6 are ignored: select 1
  EXPECT_EQ(Look(c).select, 1u);
  EXPECT_EQ(c.Read(6), 0u);
  for (uint32_t s : {6u, 7u}) {
    c.Write(1, s);
    EXPECT_EQ(c.Read(4), 0u) << s;
  }
}

TEST(BoardControl, InterruptStartsAtOnceAndRepeats) {
  RecordingHost host;
  Owner o;
  o.control.Bind(&host, 0x105, &host);
  o.Write(6, 0x02);
  ASSERT_EQ(host.outs.size(), 1u);
  EXPECT_EQ(host.outs[0], std::make_pair(0x105u, 1u));
  ASSERT_EQ(host.events.size(), 1u);
  EXPECT_EQ(host.events[0].count, 3120);
  EXPECT_EQ(host.events[0].owner, &o);
  EXPECT_EQ(host.events[0].argument, 1u);
  EXPECT_EQ(host.events[0].flag, 0u);
  o.Write(6, 0x02);  // unchanged: nothing extra
  EXPECT_EQ(host.outs.size(), 1u);
  EXPECT_EQ(host.events.size(), 1u);
  ASSERT_TRUE(host.Expire());
  EXPECT_EQ(host.outs.size(), 2u);
  EXPECT_EQ(host.events.size(), 1u) << "re-armed";
  EXPECT_EQ(host.calls, (std::vector<std::string>{"Out", "RemoveEvents", "AddEvent", "Out",
                                                   "RemoveEvents", "AddEvent"}));
}

TEST(BoardControl, SwitchingOffLetsThePendingEventRunOut) {
  RecordingHost host;
  Owner o;
  o.control.Bind(&host, 0x105, &host);
  o.Write(6, 0x02);
  o.Write(6, 0x00);
  ASSERT_TRUE(host.Expire());
  EXPECT_EQ(host.outs.size(), 1u);
  EXPECT_TRUE(host.events.empty());
}

TEST(BoardControl, OtherSelectOrRegistersChangeNothing) {
  RecordingHost host;
  Owner o;
  o.control.Bind(&host, 0x105, &host);
  o.Write(1, 0x01);
  o.Write(6, 0x02);
  EXPECT_EQ(Look(o.control).control, 0u);
  for (uint32_t reg : {3u, 4u, 5u, 7u}) o.Write(reg, 0xFF);
  EXPECT_EQ(Look(o.control).select, 1u);
  EXPECT_TRUE(host.calls.empty());
}

TEST(BoardControl, DroppingActiveResetsTheBlock) {
  RecordingHost host;
  Owner o;
  o.control.Bind(&host, 0x105, &host);
  o.Write(1, 0x80);
  o.Write(6, 0x02);
  EXPECT_EQ(host.outs.size(), 1u);
  o.Write(1, 0x00);  // active -> inactive: reset
  EXPECT_EQ(Look(o.control).control, 0u);
  host.Expire();
  EXPECT_EQ(host.outs.size(), 1u) << "the interrupt ends at its next event";

  RecordingHost host2;
  Owner p;
  p.control.Bind(&host2, 0x105, &host2);
  p.Write(1, 0x00);
  p.Write(6, 0x02);
  p.Write(1, 0x00);  // never active: no reset
  EXPECT_EQ(Look(p.control).control, 2u);
  host2.Expire();
  EXPECT_EQ(host2.outs.size(), 2u);
}

TEST(BoardControl, RestartWithdrawsThePendingEvent) {
  RecordingHost host;
  Owner o;
  o.control.Bind(&host, 0x105, &host);
  o.Write(6, 0x02);
  o.Write(6, 0x00);
  o.Write(6, 0x02);
  EXPECT_EQ(host.outs.size(), 2u);
  EXPECT_EQ(host.events.size(), 1u);
  EXPECT_EQ(host.Count("RemoveEvents"), 2);
}

TEST(BoardControl, WithoutHostServicesNothingIsRaised) {
  RecordingHost host;
  Owner o;
  o.control.Bind(&host, 0x105, nullptr);
  o.Write(6, 0x02);
  Owner p;
  p.control.Bind(nullptr, 0x105, &host);
  p.Write(6, 0x02);
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(Look(o.control).control, 2u);
}

TEST(BoardControl, RestoredStateKeepsTheInterruptGoingAndDamagedOnesAreRefused) {
  RecordingHost host;
  Owner o;
  o.control.Bind(&host, 0x105, &host);
  o.Write(1, 0x80);
  o.Write(6, 0x02);
  const std::vector<uint8_t> state = o.control.Save();
  EXPECT_TRUE(Look(o.control).armed);

  RecordingHost later;
  Owner p;
  p.control.Bind(&later, 0x105, &later);
  ASSERT_TRUE(p.control.Restore(state.data(), state.size()));
  EXPECT_EQ(p.control.Save(), state);
  EXPECT_TRUE(later.calls.empty()) << "restoring raises nothing";
  Owner::Routine(&p, 1);  // the pending event expires: raised and re-armed
  EXPECT_EQ(later.outs.size(), 1u);
  EXPECT_EQ(later.events.size(), 1u);
  p.Write(1, 0x00);  // it was active: this resets the block and ends the interrupt
  ASSERT_TRUE(later.Expire());
  EXPECT_EQ(later.outs.size(), 1u);
  EXPECT_FALSE(Look(p.control).armed);

  std::vector<std::vector<uint8_t>> bad = Damaged(state);
  bad.push_back(Resealed(state, 0, StateMagic("VTON"), 4));
  bad.push_back(Resealed(state, 13, 16, 1));  // select past register 15
  bad.push_back(Resealed(state, 12, 2, 1));   // active not a bool
  BoardControl c;
  c.Write(1, 0x05);
  const std::vector<uint8_t> before = c.Save();
  for (const std::vector<uint8_t>& bytes : bad) {
    EXPECT_FALSE(c.Restore(bytes.data(), bytes.size())) << bytes.size();
    ASSERT_EQ(c.Save(), before);
  }
  EXPECT_EQ(c.Read(4), 64u);
}

}  // namespace
