// The host's settings file survives a process that dies in the middle of saving: it is always
// either the old or the new complete file, with the host's own sections intact.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>

#include "settings/board_settings.h"
#include "settings/profile.h"
#include "tests/temp_dir.h"

namespace {

BoardSettings Variant(int32_t volume, int32_t output) {
  BoardSettings s = DefaultSettings();
  for (int i = 0; i < 8; ++i) {
    s.volume[i] = volume - i;
    s.output[i] = (output + i) & 1;
  }
  s.use_romeo = output;
  return s;
}

TEST(SettingsDurability, KilledMidSaveLeavesAWholeFile) {
  TempDir dir;
  const std::string path = dir.File("VYX.INI");
  const std::string host = "; Vyx\r\n[Machine]\r\nModel=3\r\n[Sound]\r\nRate=44100\r\n";
  const BoardSettings a = Variant(-12, 0), b = Variant(17, 1);

  // The three whole files that may ever be seen: the host's alone, after a save of a, of b.
  WriteAll(path, host);
  ProfileFile first(path);
  ASSERT_TRUE(WriteSettings(first, a));
  const std::string file_a = ReadAll(path);
  ProfileFile second(path);
  ASSERT_TRUE(WriteSettings(second, b));
  const std::string file_b = ReadAll(path);
  ASSERT_NE(file_a, file_b);
  WriteAll(path, host);

  // Kill points spread over about four saves, however fast this machine saves.
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i) {
    ProfileFile timing(dir.File("timing.ini"));
    WriteSettings(timing, i & 1 ? a : b);
  }
  const auto save_us = std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::steady_clock::now() - t0).count() / 5;
  std::filesystem::remove(dir.File("timing.ini"));
  const int max_delay = static_cast<int>(std::min<int64_t>(4 * save_us + 200, 200000));

  std::mt19937 random(12345);
  int changed = 0;
  for (int round = 0; round < 150; ++round) {
    const std::string before = ReadAll(path);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) {
        ProfileFile profile(path);
        WriteSettings(profile, (i & 1) ? b : a);
      }
    }
    usleep(std::uniform_int_distribution<int>(0, max_delay)(random));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    const std::string after = ReadAll(path);
    ASSERT_TRUE(after == host || after == file_a || after == file_b)
        << "round " << round << ": a torn file of " << after.size() << " bytes";
    changed += after != before;
  }
  EXPECT_GT(changed, 0) << "the child never completed a save: the test proved nothing";

  // A killed save may leave its temporary file, never a damaged settings file.
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "VYX.INI" || name.rfind("VYX.INI.tmp.", 0) == 0) << name;
  }
}

TEST(SettingsDurability, ReadOnlyDirectoryFailsQuietlyAndKeepsTheFile) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
  TempDir dir;
  WriteAll(dir.File("VYX.INI"), "[Keep]\nA=1\n");
  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read |
                                               std::filesystem::perms::owner_exec);
  ProfileFile profile(dir.File("VYX.INI"));
  EXPECT_FALSE(WriteSettings(profile, DefaultSettings()));
  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
  EXPECT_EQ(ReadAll(dir.File("VYX.INI")), "[Keep]\nA=1\n");
}

}  // namespace

namespace {

TEST(SettingsDurability, AnUnreadableFileIsNeverReplaced) {
  TempDir dir;
  // A directory where the file should be: it exists but cannot be read as a file.
  std::filesystem::create_directory(dir.File("VYX.INI"));
  WriteAll(dir.File("VYX.INI") + "/keep", "x");
  ProfileFile profile(dir.File("VYX.INI"));
  BoardSettings s = ReadSettings(profile);
  EXPECT_EQ(s.volume[0], 0) << "defaults";
  EXPECT_FALSE(WriteSettings(profile, s));
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("VYX.INI")));
  EXPECT_EQ(ReadAll(dir.File("VYX.INI") + "/keep"), "x");
}

}  // namespace
