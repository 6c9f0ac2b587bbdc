#include <gtest/gtest.h>

#include <vector>

#include "host/memory_dialog.h"
#include "settings/config_page.h"
#include "tests/temp_dir.h"

namespace {

struct Recorder : SettingsTarget, HostPageSite {
  std::vector<std::string> calls;
  BoardSettings applied{};
  void ApplySettings(const BoardSettings& s) override {
    calls.push_back("ApplySettings");
    applied = s;
  }
  void* VYXCALL GetDialogWindow() override { return nullptr; }
  int32_t VYXCALL GetPageCount() override { return 1; }
  void VYXCALL Applied() override { calls.push_back("Applied"); }
  void VYXCALL Activated(VyxPage*) override { calls.push_back("Activated"); }
  void VYXCALL Changed(void*) override { calls.push_back("Changed"); }
};

class ConfigPageTest : public ::testing::Test {
 protected:
  void Open(const std::string& ini) {
    WriteAll(dir.File("VYX.INI"), ini);
    page.set_path(dir.File("VYX.INI"));
    page.Load(nullptr, &rec);
    rec.calls.clear();
    ASSERT_TRUE(page.FillPageRecord(&rec, &record));
    window = static_cast<DialogControls*>(&dialog);
    EXPECT_EQ(Send(kWmInitDialog, 0, reinterpret_cast<intptr_t>(&record)), 1);
  }
  intptr_t Send(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    return record.dialog_proc(window, message, wparam, lparam);
  }
  intptr_t Notify(uint32_t code) {
    NotifyHeader h{window, 0, code};
    return Send(kWmNotify, 0, reinterpret_cast<intptr_t>(&h));
  }

  TempDir dir;
  Recorder rec;
  ConfigPage page;
  PropSheetPageRecord record{};
  MemoryDialog dialog;
  void* window = nullptr;
};

TEST_F(ConfigPageTest, RecordNamesTemplate101AndThePagesProcedure) {
  Open("");
  EXPECT_EQ(record.size, sizeof(PropSheetPageRecord));
  EXPECT_EQ(record.flags, 0u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(record.template_id), 101u);
  EXPECT_EQ(record.title, nullptr);
  EXPECT_NE(record.dialog_proc, nullptr);
}

TEST_F(ConfigPageTest, LabelsReadZeroUntilActivationThenShowPositionsAndMute) {
  Open("[VORLA]\nVolume0=60\nVolume1=61\nVolume2=120\nVolume7=150\n");
  for (int id : kVolumeLabels) EXPECT_EQ(dialog.label(id), "0");
  EXPECT_EQ(Notify(kPsnSetActive), 1);
  EXPECT_EQ(dialog.label(1002), "Mute");
  EXPECT_EQ(dialog.label(1004), "-39");
  EXPECT_EQ(dialog.label(1006), "20");
  EXPECT_EQ(dialog.label(1024), "20") << "+50 shows at the slider's end";
  EXPECT_EQ(dialog.slider(1001).position, -40) << "range set before position";
  EXPECT_EQ(rec.calls, std::vector<std::string>{"Activated"});
}

TEST_F(ConfigPageTest, ApplyCopiesTheControlsOnceAndReturnsZero) {
  Open("[VORLA]\nVolume7=150\nOutput0=0\n");
  EXPECT_EQ(page.settings().volume[7], 50);
  EXPECT_EQ(dialog.IsButtonChecked(1015), 0u);
  EXPECT_EQ(dialog.IsButtonChecked(1019), 1u);
  dialog.MoveSlider(1007, -12);
  EXPECT_EQ(Send(kWmHScroll, 0, 0), 1);
  EXPECT_EQ(dialog.label(1008), "-12");
  dialog.CheckButton(1025, 1);
  EXPECT_EQ(Send(kWmCommand, 1025, 0), 1);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"Changed", "Changed"}));
  EXPECT_EQ(page.settings().use_romeo, 0) << "nothing changes before apply";
  rec.calls.clear();
  EXPECT_EQ(Notify(kPsnApply), 0);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"ApplySettings", "Applied"}));
  EXPECT_EQ(rec.applied.volume[3], -12);
  EXPECT_EQ(rec.applied.volume[7], 20) << "+50 is stored as +20 after an apply";
  EXPECT_EQ(rec.applied.output[0], 0);
  EXPECT_EQ(rec.applied.use_romeo, 1);
  EXPECT_EQ(page.settings().volume[7], 20);
  EXPECT_EQ(ReadAll(dir.File("VYX.INI")), "[VORLA]\nVolume7=150\nOutput0=0\n")
      << "an apply does not write the file";
}

TEST_F(ConfigPageTest, CommandFilteringAndOtherMessages) {
  Open("");
  EXPECT_EQ(Send(kWmCommand, (1u << 16) | 1015, 0), 0) << "not a click";
  EXPECT_EQ(Send(kWmCommand, 1001, 0), 0) << "not a check box";
  EXPECT_EQ(Send(kWmCommand, 1022, 0), 1);
  EXPECT_EQ(Notify(12345), 1);
  EXPECT_EQ(Send(0x0200, 0, 0), 0);
  EXPECT_EQ(rec.calls, std::vector<std::string>{"Changed"});
}

TEST(ConfigPage, SaveWritesWhatWasLoaded) {
  TempDir dir;
  ConfigPage page;
  page.set_path(dir.File("VYX.INI"));
  page.Load(nullptr, nullptr);
  EXPECT_TRUE(page.Save());
  EXPECT_NE(ReadAll(dir.File("VYX.INI")).find("USE_ROMEO=0"), std::string::npos);
}

}  // namespace
