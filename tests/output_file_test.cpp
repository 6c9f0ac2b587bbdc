// The door for output files, on every platform: a run's files reach their targets together at
// its end or not at all, nothing of the targets changes before, no temporary name is left, and
// the identity checks see one file behind two spellings.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "output/output_file.h"
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
