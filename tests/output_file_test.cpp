// The door for output files, on every platform: a run's files reach their targets together at
// its end or not at all, nothing of the targets changes before, no temporary name is left, and
// the identity checks see one file behind two spellings.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "output/output_file.h"
#include "output/output_platform.h"
#include "tests/temp_dir.h"

namespace {

int Entries(const TempDir& dir) {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++n;
  }
  return n;
}

bool Put(OutputSet* set, const std::string& path, const std::string& text) {
  std::string error;
  OutputFile* file = set->Open(path, &error);
  return file != nullptr && std::fputs(text.c_str(), file->stream()) >= 0;
}

TEST(OutputFile, ARunsFilesArePutInPlaceTogetherOrNotAtAll) {
  TempDir dir;
  WriteAll(dir.File("a.txt"), "old a");
  {
    OutputSet set;
    ASSERT_TRUE(Put(&set, dir.File("a.txt"), "new a"));
    ASSERT_TRUE(Put(&set, dir.File("b.txt"), "new b"));
    EXPECT_EQ(ReadAll(dir.File("a.txt")), "old a");  // untouched while the run goes on
    // Dropped unfinished: the targets stay as they were, no temporary name is left.
  }
  EXPECT_EQ(ReadAll(dir.File("a.txt")), "old a");
  EXPECT_FALSE(std::filesystem::exists(dir.File("b.txt")));
  EXPECT_EQ(Entries(dir), 1);

  OutputSet set;
  ASSERT_TRUE(Put(&set, dir.File("a.txt"), "new a"));
  ASSERT_TRUE(Put(&set, dir.File("b.txt"), "new b"));
  std::string error;
  ASSERT_TRUE(set.Commit(&error)) << error;
  EXPECT_EQ(ReadAll(dir.File("a.txt")), "new a");
  EXPECT_EQ(ReadAll(dir.File("b.txt")), "new b");
  EXPECT_EQ(Entries(dir), 2);
}

TEST(OutputFile, AFolderOrAMissingFolderIsRefusedWithTheTargetsName) {
  TempDir dir;
  OutputSet set;
  std::string error;
  EXPECT_EQ(set.Open(dir.path(), &error), nullptr);
  EXPECT_EQ(error, "cannot write " + dir.path() + ": it is a folder");
  EXPECT_EQ(set.Open(dir.File("no/x.wav"), &error), nullptr);
  EXPECT_EQ(error.rfind("cannot write " + dir.File("no/x.wav") + ": ", 0), 0u) << error;
}

TEST(OutputFile, ClashesAreFoundByIdentity) {
  TempDir dir;
  WriteAll(dir.File("in.vgm"), "song");
  const std::string other = dir.path() + "/./sub/../in.vgm";
  std::filesystem::create_directory(dir.File("sub"));
  EXPECT_EQ(OutputClash({{dir.File("in.vgm"), "the input"}}, {other}),
            "the output " + other + " is the input " + dir.File("in.vgm") +
                ": it would be destroyed; write somewhere else");
  EXPECT_NE(OutputClash({}, {dir.File("new.wav"), dir.File("sub/../new.wav")}), "");
  EXPECT_NE(OutputClash({}, {"-", "-"}), "");
  EXPECT_EQ(OutputClash({{dir.File("in.vgm"), "the input"}}, {"-", dir.File("x.wav"), ""}), "");
}

}  // namespace

namespace {

TEST(OutputFile, AFileThatAppearsDuringTheRunIsReplacedOnlyWhenAsked) {
  TempDir dir;
  std::string error;
  {
    OutputSet set;  // new.txt was no file when opened: what appears there is someone else's
    ASSERT_TRUE(Put(&set, dir.File("new.txt"), "ours"));
    WriteAll(dir.File("new.txt"), "theirs");
    EXPECT_FALSE(set.Commit(&error));
    EXPECT_NE(error.find("appeared"), std::string::npos) << error;
  }
  {
    OutputSet set(Replace::kNone);  // named free when the run began: nothing is replaced
    ASSERT_TRUE(Put(&set, dir.File("new.txt"), "ours"));
    EXPECT_FALSE(set.Commit(&error));
  }
  EXPECT_EQ(ReadAll(dir.File("new.txt")), "theirs");
  EXPECT_EQ(Entries(dir), 1);
  OutputSet set(Replace::kAny);
  ASSERT_TRUE(Put(&set, dir.File("late.txt"), "ours"));
  WriteAll(dir.File("late.txt"), "theirs");
  ASSERT_TRUE(set.Commit(&error)) << error;
  EXPECT_EQ(ReadAll(dir.File("late.txt")), "ours");
}

TEST(OutputFile, ANameTooLongForItsTemporaryNameIsCutAtACharactersStart) {
  TempDir dir;
  // 130 two-byte characters: 260 bytes with the suffix's 5 is past 255, cut between characters.
  std::string wide;
  for (int i = 0; i < 130; ++i) wide += "\xC3\xA9";
  const std::string cut = NameWithSuffix(wide, "", ".part");
  EXPECT_LE(cut.size(), 255u);
  EXPECT_EQ(cut.substr(cut.size() - 5), ".part");
  EXPECT_EQ((cut.size() - 5) % 2, 0u) << "cut inside a character";
  EXPECT_EQ(NameWithSuffix("short", "~tag", ".lock"), "short.lock");
  EXPECT_EQ(TemporaryNameFor(std::string(250, 'a')).size(), 255u);
}

TEST(OutputFile, EveryOutputOfARunIsCheckedAgainstEveryInputAndEveryOtherOutput) {
  TempDir dir;
  WriteAll(dir.File("a.vgm"), "song a");
  WriteAll(dir.File("b.vgm"), "song b");
  std::filesystem::create_directory(dir.File("out"));
  std::filesystem::create_hard_link(dir.File("b.vgm"), dir.File("out/a.wav"));
  const std::vector<std::string> clashes =
      OutputClashes({{dir.File("a.vgm"), "the input"}, {dir.File("b.vgm"), "the input"}},
                    {dir.File("out/a.wav"), dir.File("out/b.wav"), dir.File("out/./b.wav")});
  ASSERT_EQ(clashes.size(), 3u);
  EXPECT_NE(clashes[0].find("is the input " + dir.File("b.vgm")), std::string::npos);
  EXPECT_EQ(clashes[1], "");
  EXPECT_NE(clashes[2].find("are one file"), std::string::npos);
}

}  // namespace
