#include <gtest/gtest.h>

#include <string>
#ifdef _WIN32
#include <windows.h>
#endif

#include "settings/board_settings.h"
#include "settings/ini_text.h"
#include "platform/program_directory.h"
#include "settings/profile.h"
#include "tests/temp_dir.h"

namespace {

const char kAllDefaults[] =
    "[VORLA]\r\n"
    "Volume0=100\r\nVolume1=100\r\nVolume2=100\r\nVolume3=100\r\n"
    "Volume4=100\r\nVolume5=100\r\nVolume6=100\r\nVolume7=100\r\n"
    "Output0=1\r\nOutput1=1\r\nOutput2=1\r\nOutput3=1\r\n"
    "Output4=1\r\nOutput5=1\r\nOutput6=1\r\nOutput7=1\r\n"
    "USE_ROMEO=0\r\n";

TEST(IniText, ReadsCaseInsensitivelyWithDefaults) {
  const std::string text =
      "; host settings\r\n[Screen]\r\nWidth=640\r\n[vorla]\r\n  volume3 = 60  \r\n"
      "Output0=abc\r\nOutput1=-7x\r\n";
  EXPECT_EQ(IniGetInt(text, "VORLA", "Volume3", 100), 60);
  EXPECT_EQ(IniGetInt(text, "VORLA", "Volume4", 100), 100);
  EXPECT_EQ(IniGetInt(text, "VORLA", "Output0", 1), 0) << "no leading integer reads 0";
  EXPECT_EQ(IniGetInt(text, "VORLA", "Output1", 1), -7);
  EXPECT_EQ(IniGetInt(text, "VORLA", "Width", 1), 1) << "keys of other sections do not match";
  EXPECT_EQ(IniGetInt(text, "SCREEN", "WIDTH", 0), 640);
  EXPECT_EQ(IniGetInt("[VORLA]\nA=99999999999\nB=-99999999999\n", "VORLA", "A", 0), INT32_MAX);
  EXPECT_EQ(IniGetInt("[VORLA]\nA=99999999999\nB=-99999999999\n", "VORLA", "B", 0), INT32_MIN);
  EXPECT_EQ(IniGetInt("", "VORLA", "A", 42), 42);
  EXPECT_EQ(IniGetInt("[VORLA]\nA=\nB=  \n", "VORLA", "A", 42), 42) << "empty: the default";
  EXPECT_EQ(IniGetInt("[VORLA]\nA=\nB=  \n", "VORLA", "B", 42), 42);
}

TEST(IniText, WriteReplacesInPlaceAndKeepsEveryOtherByte) {
  const std::string before =
      "; Vyx settings\r\n[Screen]\r\nWidth=640\r\n\r\n[Vorla]\r\n; volume of the tone\r\n"
      "volume0 = 90\r\nOutput0=1\r\n\r\n[Sound]\r\nRate=44100\r\n";
  std::string text = before;
  IniSetValue(&text, "VORLA", "Volume0", "100");
  EXPECT_EQ(text,
            "; Vyx settings\r\n[Screen]\r\nWidth=640\r\n\r\n[Vorla]\r\n; volume of the tone\r\n"
            "volume0 =100\r\nOutput0=1\r\n\r\n[Sound]\r\nRate=44100\r\n");
  IniSetValue(&text, "VORLA", "USE_ROMEO", "0");
  EXPECT_EQ(text,
            "; Vyx settings\r\n[Screen]\r\nWidth=640\r\n\r\n[Vorla]\r\n; volume of the tone\r\n"
            "volume0 =100\r\nOutput0=1\r\nUSE_ROMEO=0\r\n\r\n[Sound]\r\nRate=44100\r\n");
}

TEST(IniText, WriteAddsMissingSectionWithTheFileLineEnding) {
  std::string unix_text = "[Screen]\nWidth=640";  // no final newline
  IniSetValue(&unix_text, "VORLA", "Volume0", "100");
  EXPECT_EQ(unix_text, "[Screen]\nWidth=640\n[VORLA]\nVolume0=100\n");
  std::string empty;
  IniSetValue(&empty, "VORLA", "Volume0", "100");
  EXPECT_EQ(empty, "[VORLA]\r\nVolume0=100\r\n");
}

TEST(IniText, ALoneCarriageReturnEndsALine) {
  std::string text = "[Screen]\rWidth=640\r[VORLA]\rVolume0=90\rOutput0=1";
  EXPECT_EQ(IniGetInt(text, "VORLA", "Volume0", -1), 90);
  EXPECT_EQ(IniGetInt(text, "Screen", "Volume0", -1), -1) << "each section on its own lines";
  IniSetValue(&text, "VORLA", "USE_ROMEO", "0");
  IniSetValue(&text, "Sound", "Rate", "44100");
  EXPECT_EQ(text, "[Screen]\rWidth=640\r[VORLA]\rVolume0=90\rOutput0=1\rUSE_ROMEO=0\r"
                  "[Sound]\rRate=44100\r");
}

TEST(Settings, MissingFileGivesDefaultsAndSaveWritesAll17KeysInOrder) {
  TempDir dir;
  ProfileFile profile(dir.File("VYX.INI"));
  BoardSettings s = ReadSettings(profile);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(s.volume[i], 0);
    EXPECT_EQ(s.output[i], 1);
  }
  EXPECT_EQ(s.use_romeo, 0);
  EXPECT_TRUE(WriteSettings(profile, s));
  EXPECT_EQ(ReadAll(dir.File("VYX.INI")), kAllDefaults);
}

TEST(Settings, StoredValuesAreOffsetAndNotClamped) {
  TempDir dir;
  WriteAll(dir.File("VYX.INI"),
           "[VORLA]\nVolume0=150\nVolume3=60\nOutput0=0\nOutput1=1\nOutput2=7\nUSE_ROMEO=5\n");
  ProfileFile profile(dir.File("VYX.INI"));
  BoardSettings s = ReadSettings(profile);
  EXPECT_EQ(s.volume[0], 50);
  EXPECT_EQ(s.volume[3], -40);
  EXPECT_EQ(s.output[0], 0);
  EXPECT_EQ(s.output[2], 7);
  EXPECT_EQ(s.use_romeo, 5);
  s.volume[7] = -12;
  ASSERT_TRUE(WriteSettings(profile, s));
  ProfileFile again(dir.File("VYX.INI"));
  EXPECT_EQ(ReadSettings(again).volume[7], -12);
  EXPECT_EQ(IniGetInt(ReadAll(dir.File("VYX.INI")), "VORLA", "Volume7", 0), 88);
}

TEST(Settings, SaveKeepsTheHostsSectionsByteForByte) {
  TempDir dir;
  // What the platform's own profile writer also keeps as it is: entries written "key=value",
  // comments, order and CRLF line endings.
  const std::string head = "; Vyx emulator settings\r\n[Machine]\r\nModel=3\r\nMemory=640\r\n";
  const std::string tail = "[Sound]\r\n; mixer\r\nRate=44100\r\nBuffer=200\r\n";
  WriteAll(dir.File("VYX.INI"), head + "[VORLA]\r\nVolume0=90\r\n" + tail);
  ProfileFile profile(dir.File("VYX.INI"));
  BoardSettings s = ReadSettings(profile);
  EXPECT_EQ(s.volume[0], -10);
  ASSERT_TRUE(WriteSettings(profile, s));
  const std::string after = ReadAll(dir.File("VYX.INI"));
  ASSERT_GE(after.size(), head.size() + tail.size());
  EXPECT_EQ(after.substr(0, head.size()), head);
  EXPECT_EQ(after.substr(after.size() - tail.size()), tail);
  EXPECT_EQ(IniGetInt(after, "VORLA", "Volume0", 0), 90);
  EXPECT_EQ(IniGetInt(after, "VORLA", "USE_ROMEO", 9), 0);
  EXPECT_EQ(after.find('\n', 0), after.find("\r\n", 0) + 1) << "CRLF kept";
}

TEST(Settings, FailedSaveLeavesTheOldFile) {
  TempDir dir;
  // The settings path names a directory that does not exist: nothing can be written.
  ProfileFile profile(dir.File("missing/VYX.INI"));
  EXPECT_FALSE(WriteSettings(profile, DefaultSettings()));
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
        << "no temporary file is left behind";
  }
}

TEST(Settings, PathFollowsTheHostExecutable) {
#ifdef _WIN32
  char buffer[MAX_PATH];
  const std::string exe(buffer, GetModuleFileNameA(nullptr, buffer, MAX_PATH));
#else
  const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
#endif
  const std::string dir = exe.substr(0, exe.find_last_of("/\\") + 1);
  TempDir elsewhere;
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(elsewhere.path());
  const std::string path = HostSettingsPath();
  std::filesystem::current_path(cwd);
  EXPECT_EQ(path, dir + "VYX.INI");
}

}  // namespace
