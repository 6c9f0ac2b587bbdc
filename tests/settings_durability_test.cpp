// The host's settings file on disk: it survives a process that dies in the middle of saving
// (always either the old or the new complete file, with the host's own sections intact), and a
// save goes where the file really is, keeps what the user set on it and is led nowhere else.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

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

// The child's save hook: the process dies at the stage it was told.
void KillAtStage(ProfileFile::SaveStage stage, void* context) {
  if (stage == *static_cast<ProfileFile::SaveStage*>(context)) kill(getpid(), SIGKILL);
}

TEST(SettingsDurability, KilledAtEveryStageOfASaveLeavesAWholeFile) {
  TempDir dir;
  const std::string path = dir.File("VYX.INI");
  const std::string host = "; Vyx\r\n[Machine]\r\nModel=3\r\n[Sound]\r\nRate=44100\r\n";
  const BoardSettings a = Variant(-12, 0), b = Variant(17, 1);

  // The whole files that may be seen: the host's alone, after a save of a, after one of b.
  WriteAll(path, host);
  ProfileFile first(path);
  ASSERT_TRUE(WriteSettings(first, a));
  const std::string file_a = ReadAll(path);
  ProfileFile second(path);
  ASSERT_TRUE(WriteSettings(second, b));
  const std::string file_b = ReadAll(path);
  ASSERT_NE(file_a, file_b);

  using Stage = ProfileFile::SaveStage;
  struct Case {
    Stage stage;
    bool replaced;  // whether the new file is in place when the process dies
  };
  const Case cases[] = {{Stage::kCreated, false},
                        {Stage::kHalfWritten, false},
                        {Stage::kWritten, false},
                        {Stage::kRenamed, true}};
  for (const Case& c : cases) {
    for (const std::string& start : {host, file_a}) {
      WriteAll(path, start);
      pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        Stage stage = c.stage;
        ProfileFile profile(path);
        profile.set_save_stage_hook(&KillAtStage, &stage);
        WriteSettings(profile, b);
        _exit(0);  // not killed: the stage was never reached
      }
      int status = 0;
      waitpid(child, &status, 0);
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
          << "stage " << static_cast<int>(c.stage) << " was never reached";
      EXPECT_EQ(ReadAll(path), c.replaced ? file_b : start)
          << "killed at stage " << static_cast<int>(c.stage);
    }
  }

  // A killed save may leave its temporary file, never a damaged settings file.
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "VYX.INI" || (name.rfind("VYX.INI.", 0) == 0 &&
                                      name.size() == std::string("VYX.INI.").size() + 17 &&
                                      name.substr(name.size() - 5) == ".part"))
        << name;
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

namespace {

namespace fs = std::filesystem;

TEST(SettingsDurability, SavesThroughTheUsersLinkAndNeverThroughAPlantedOne) {
  TempDir dir;
  const std::string path = dir.File("VYX.INI");
  WriteAll(dir.File("real.ini"), "[Host]\n");
  fs::create_symlink("real.ini", path);
  ProfileFile linked(path);
  ASSERT_TRUE(WriteSettings(linked, DefaultSettings()));
  EXPECT_TRUE(fs::is_symlink(path));
  EXPECT_EQ(ReadAll(dir.File("real.ini")).rfind("[Host]\n[VORLA]\n", 0), 0u);

  // Planted where the temporary file used to be made.
  fs::create_symlink("victim", path + ".tmp." + std::to_string(getpid()));
  ProfileFile planted(path);
  EXPECT_TRUE(WriteSettings(planted, DefaultSettings()));
  EXPECT_FALSE(fs::exists(dir.File("victim")));
}

TEST(SettingsDurability, KeepsTheModeAndLeavesAReadOnlyFileAsItIs) {
  TempDir dir;
  const std::string path = dir.File("VYX.INI");
  WriteAll(path, "[Keep]\n");
  chmod(path.c_str(), 0666);
  ProfileFile shared(path);
  ASSERT_TRUE(WriteSettings(shared, DefaultSettings()));
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0666)) << "whatever the umask";

  WriteAll(path, "[Keep]\n");
  chmod(path.c_str(), 0444);  // not written even by root, who could
  ProfileFile read_only(path);
  EXPECT_FALSE(WriteSettings(read_only, DefaultSettings()));
  EXPECT_EQ(ReadAll(path), "[Keep]\n");
}

TEST(SettingsDurability, AnOversizedOrSpecialFileIsUnreadableAndKept) {
  TempDir dir;
  const std::string path = dir.File("VYX.INI");
  const std::string big = "[VORLA]\nVolume0=90\n; " + std::string(1 << 20, 'x') + "\n";
  WriteAll(path, big);
  ProfileFile oversized(path);
  EXPECT_EQ(ReadSettings(oversized).volume[0], 0) << "defaults";
  EXPECT_FALSE(WriteSettings(oversized, DefaultSettings()));
  EXPECT_TRUE(ReadAll(path) == big) << "kept as it was";

  // A file of exactly the largest size is read, but a save that would make it larger is not
  // made: the next run would refuse the file.
  const std::string head = "[VORLA]\nVolume0=90\n; ";
  const std::string full = head + std::string((1 << 20) - head.size() - 1, 'x') + "\n";
  WriteAll(path, full);
  ProfileFile at_limit(path);
  EXPECT_EQ(ReadSettings(at_limit).volume[0], 90 - 100) << "honoured";
  EXPECT_FALSE(WriteSettings(at_limit, DefaultSettings()));
  EXPECT_TRUE(ReadAll(path) == full) << "kept as it was";

  fs::remove(path);
  fs::create_symlink("/dev/null", path);  // a device is never replaced
  ProfileFile device(path);
  EXPECT_FALSE(WriteSettings(device, DefaultSettings()));
}

}  // namespace
