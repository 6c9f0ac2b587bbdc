#include <gtest/gtest.h>

#include <vector>

#include "module/board_module.h"
#include "settings/ini_text.h"
#include "tests/core_state.h"
#include "tests/recording_host.h"
#include "tests/temp_dir.h"

namespace {

using Calls = std::vector<std::string>;
const Calls kLookups = {"FindService bus", "FindService mixer", "FindService timer queue",
                        "FindService ports", "FindService pages"};

Calls Plus(Calls a, const Calls& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(BoardModule, CreateAndReleaseInOrder) {
  TempDir dir;
  RecordingHost host;
  VyxModule* module = CreateBoardModule(&host, dir.File("VYX.INI"), nullptr);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(host.calls, Plus(kLookups, {"Attach", "AddSource", "AddPage"}));
  EXPECT_NE(host.device, nullptr);
  EXPECT_NE(host.source, nullptr);
  EXPECT_NE(host.page, nullptr);
  EXPECT_EQ(module->Query(nullptr), nullptr);
  EXPECT_EQ(module->Query(reinterpret_cast<void*>(0x1234)), nullptr);
  host.calls.clear();
  module->Release();
  EXPECT_EQ(host.calls, (Calls{"RemoveSource", "Detach", "RemoveEvents", "RemovePage"}));
  // Release writes all 17 keys even though nothing changed.
  const std::string ini = ReadAll(dir.File("VYX.INI"));
  EXPECT_EQ(IniGetInt(ini, "VORLA", "Volume7", 0), 100);
  EXPECT_EQ(IniGetInt(ini, "VORLA", "Output7", 0), 1);
  EXPECT_EQ(IniGetInt(ini, "VORLA", "USE_ROMEO", 9), 0);
}

TEST(BoardModule, MissingBusOrMixerFailsWithoutTouchingTheSettings) {
  for (int missing = 0; missing < 2; ++missing) {
    TempDir dir;
    WriteAll(dir.File("VYX.INI"), "[VORLA]\nVolume0=90\n");
    RecordingHost host;
    (missing == 0 ? host.has_bus : host.has_mixer) = false;
    EXPECT_EQ(CreateBoardModule(&host, dir.File("VYX.INI"), nullptr), nullptr);
    EXPECT_EQ(host.calls, kLookups) << "every service is looked up before any is tested";
    EXPECT_EQ(ReadAll(dir.File("VYX.INI")), "[VORLA]\nVolume0=90\n");
  }
}

TEST(BoardModule, RefusedAttachFailsBeforeMixerAndPages) {
  TempDir dir;
  RecordingHost host;
  host.attach_ok = false;
  EXPECT_EQ(CreateBoardModule(&host, dir.File("VYX.INI"), nullptr), nullptr);
  EXPECT_EQ(host.calls, Plus(kLookups, {"Attach"}));
  EXPECT_FALSE(std::filesystem::exists(dir.File("VYX.INI")));
}

TEST(BoardModule, WithoutPagesTheModuleStillWorks) {
  TempDir dir;
  RecordingHost host;
  host.has_pages = false;
  VyxModule* module = CreateBoardModule(&host, dir.File("VYX.INI"), nullptr);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(host.calls, Plus(kLookups, {"Attach", "AddSource"}));
  host.calls.clear();
  module->Release();
  EXPECT_EQ(host.calls, (Calls{"RemoveSource", "Detach", "RemoveEvents"}));
}

TEST(BoardModule, WithoutPortsOrTimerQueueTheInterruptIsSilent) {
  TempDir dir;
  RecordingHost host;
  host.has_ports = false;
  host.has_timer_queue = false;
  VyxModule* module = CreateBoardModule(&host, dir.File("VYX.INI"), nullptr);
  ASSERT_NE(module, nullptr);
  host.PortOut(0x86, 0x02);
  EXPECT_TRUE(host.outs.empty());
  EXPECT_TRUE(host.events.empty());
  host.calls.clear();
  module->Release();
  EXPECT_EQ(host.calls, (Calls{"RemoveSource", "Detach", "RemovePage"}));
}

TEST(BoardModule, ReleaseWithdrawsPendingInterruptEvents) {
  TempDir dir;
  RecordingHost host;
  VyxModule* module = CreateBoardModule(&host, dir.File("VYX.INI"), nullptr);
  ASSERT_NE(module, nullptr);
  host.PortOut(0x86, 0x02);
  ASSERT_EQ(host.events.size(), 1u);
  module->Release();
  EXPECT_TRUE(host.events.empty()) << "no event may reach the destroyed device";
}

TEST(BoardModule, StoredSettingsHoldFromTheFirstMix) {
  TempDir dir;
  WriteAll(dir.File("VYX.INI"), "[VORLA]\nVolume0=150\nVolume3=60\nVolume7=55\nOutput0=0\n");
  RecordingHost host;
  auto* module = static_cast<BoardModule*>(CreateBoardModule(&host, dir.File("VYX.INI"), nullptr));
  ASSERT_NE(module, nullptr);
  const BoardDevice& d = module->device();
  EXPECT_EQ(Look(d.tone()).voice[0].volume, 506) << "+50 reaches the device unchanged";
  EXPECT_EQ(d.psg_slot(0).volume, -40);
  EXPECT_EQ(d.psg_slot(0).routing, 2u) << "right output only";
  EXPECT_EQ(d.fm_volume(), -45);
  EXPECT_EQ(host.Count("Update"), 0) << "settings applied before the mixer was connected";
  module->Release();
  EXPECT_EQ(IniGetInt(ReadAll(dir.File("VYX.INI")), "VORLA", "Volume0", 0), 150);
}

TEST(BoardModule, StoredFmMuteHoldsWithoutThePage) {
  TempDir dir;
  WriteAll(dir.File("VYX.INI"), "[VORLA]\nVolume7=60\n");
  RecordingHost host;
  VyxModule* module = CreateBoardModule(&host, dir.File("VYX.INI"), nullptr);
  ASSERT_NE(module, nullptr);
  // Channel 1, algorithm 7, all operators loud, keyed on.
  const uint32_t regs[][2] = {{0x20, 0xC7}, {0x28, 0x4A}, {0x60, 0}, {0x68, 0}, {0x70, 0},
                              {0x78, 0},    {0x80, 31},   {0x88, 31}, {0x90, 31}, {0x98, 31},
                              {0x40, 1},    {0x48, 1},    {0x50, 1},  {0x58, 1},  {0x08, 0x78}};
  for (const auto& r : regs) {
    host.PortOut(0x88, r[0]);
    host.PortOut(0x89, r[1]);
  }
  std::vector<StereoFrame> frames(2000, StereoFrame{0, 0});
  host.source->Mix(frames.data(), 2000);
  for (const StereoFrame& f : frames) ASSERT_EQ(f.left, 0) << "FM at -40 is silent";
  module->Release();
}

}  // namespace

namespace {

TEST(BoardModule, CreateAndReleaseManyTimesLeavesNothingBehind) {
  TempDir dir;
  RecordingHost host;
  for (int round = 0; round < 200; ++round) {
    const int stored = 60 + round % 61;
    WriteAll(dir.File("VYX.INI"), "[VORLA]\nVolume7=" + std::to_string(stored) + "\n");
    VyxModule* module = CreateBoardModule(&host, dir.File("VYX.INI"), nullptr);
    ASSERT_NE(module, nullptr);
    host.PortOut(0x86, 0x02);  // an interrupt event is pending at every release
    ASSERT_EQ(host.events.size(), 1u);
    module->Release();
    ASSERT_TRUE(host.events.empty()) << "round " << round;
    ASSERT_EQ(host.device, nullptr);
    ASSERT_EQ(host.source, nullptr);
    ASSERT_EQ(host.page, nullptr);
    // The release wrote back what the module read, with all 17 keys.
    const std::string ini = ReadAll(dir.File("VYX.INI"));
    ASSERT_EQ(IniGetInt(ini, "VORLA", "Volume7", 0), stored);
    ASSERT_EQ(IniGetInt(ini, "VORLA", "USE_ROMEO", 9), 0);
  }
}

}  // namespace
