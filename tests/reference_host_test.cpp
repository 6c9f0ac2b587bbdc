#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/reference_host.h"

namespace {

// A source that records the calls the mixer makes and writes the running frame index.
struct FakeSource : VyxSoundSource {
  std::vector<std::string> calls;
  int64_t next = 0;
  bool VYXCALL Connect(HostMixer*) override { return true; }
  bool VYXCALL SetRate(uint32_t rate) override {
    calls.push_back("SetRate " + std::to_string(rate));
    return true;
  }
  void VYXCALL Mix(StereoFrame* frames, int32_t count) override {
    calls.push_back("Mix " + std::to_string(count));
    for (int32_t i = 0; i < count; ++i) frames[i].left = static_cast<int32_t>(next++);
  }
};

struct Fixture {
  ReferenceHost host;
  FakeSource source;
  std::vector<std::string> report;
  std::vector<int32_t> rendered;
  Fixture() {
    host.set_report_sink([this](const std::string& line) { report.push_back(line); });
    host.set_frame_sink([this](const StereoFrame* f, int32_t n) {
      for (int32_t i = 0; i < n; ++i) rendered.push_back(f[i].left);
      return true;
    });
    host.AddSource(&source);
  }
};

// An event routine that raises an interrupt on the host it is armed with.
void VYXCALL Raise(void* owner, uint32_t) { static_cast<ReferenceHost*>(owner)->Out(0x105, 1); }

TEST(ReferenceHost, SetRateOnAddAndRateChangeAndChunking) {
  Fixture f;
  f.host.set_chunk(1000);
  f.host.Wait(2500);
  f.host.Wait(0);
  f.host.SetRate(22050);
  EXPECT_EQ(f.source.calls, (std::vector<std::string>{"SetRate 44100", "Mix 1000", "Mix 1000",
                                                      "Mix 500", "SetRate 22050"}));
  ASSERT_EQ(f.rendered.size(), 2500u);
  EXPECT_EQ(f.rendered[2499], 2499);
}

TEST(ReferenceHost, EventsSplitTheWaitAtTheirFrame) {
  Fixture f;
  f.host.set_chunk(1000);
  // 3120 us at 44100 Hz: ceil(137.592) = 138 frames.
  f.host.AddEvent(3120, &f.host, &Raise, 1, 0);
  f.host.Wait(1200);
  EXPECT_EQ(f.report, std::vector<std::string>{"irq frame 138"});
  EXPECT_EQ(f.source.calls, (std::vector<std::string>{"SetRate 44100", "Mix 138", "Mix 1000",
                                                      "Mix 62"}));
  // Due exactly at the last frame of a wait: runs at its end, before the next line.
  f.host.AddEvent(1000000, &f.host, &Raise, 1, 0);  // 44100 frames
  f.host.Wait(44100);
  EXPECT_EQ(f.report.back(), "irq frame 45300");
  EXPECT_EQ(f.host.pending_events(), 0u);
}

std::vector<int*>* g_order = nullptr;
void VYXCALL Record(void* owner, uint32_t) { g_order->push_back(static_cast<int*>(owner)); }

TEST(ReferenceHost, SameFrameEventsRunInArmingOrderAndRemoveEventsWithdraws) {
  Fixture f;
  int a = 0, b = 0;
  std::vector<int*> seen;
  g_order = &seen;
  VyxEventRoutine routine = &Record;
  f.host.AddEvent(100, &b, routine, 0, 0);
  f.host.AddEvent(100, &a, routine, 0, 0);
  f.host.AddEvent(200, &a, routine, 0, 0);
  f.host.RemoveEvents(&a);
  f.host.AddEvent(100, &a, routine, 0, 0);
  f.host.Wait(10);
  EXPECT_EQ(seen, (std::vector<int*>{&b, &a}));
}

TEST(ReferenceHost, UnhandledPortsReadAsOpenBus) {
  Fixture f;
  EXPECT_EQ(f.host.PortIn(0x1234), 0xFFu);
  f.host.PortOut(0x1234, 5);  // ignored
  EXPECT_EQ(f.report, std::vector<std::string>{"in 0x1234 = 0xff"});
}

}  // namespace
