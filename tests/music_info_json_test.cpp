// `vorla info --json`: the line read back as JSON holds the facts of each file, and stays valid
// JSON whatever bytes the file's text holds.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "music/music_info_json.h"
#include "tests/music_files.h"

namespace {

using nlohmann::json;

// One line, parsed: a line that is not valid JSON (invalid UTF-8 included) fails the parse.
json InfoOf(const MusicLog& log, const std::string& path) {
  const std::string line = MusicInfoJson(log, path);
  EXPECT_EQ(line.find('\n'), line.size() - 1) << "not one line: " << line;
  json parsed = json::parse(line, nullptr, false);
  EXPECT_FALSE(parsed.is_discarded()) << line;
  return parsed;
}

json InfoOfFile(const std::string& path) {
  MusicLog log;
  std::string error;
  EXPECT_TRUE(ReadMusicFile(path, &log, &error)) << error;
  json parsed = InfoOf(log, path);
  EXPECT_EQ(parsed["path"], path);
  return parsed;
}

}  // namespace

TEST(MusicInfoJson, TheFactsOfEachFileReadBack) {
  // The VGM modifiers as the header gives them: 0xC1 is the lowest volume, the loop base signed.
  VgmFile v(0x160);
  v.Byte(0x7C, 0xC1).Byte(0x7E, 0xFE).Byte(0x7F, 0x20).Cmd({0x61, 0x10, 0x00, 0x66});
  json j = InfoOf(ReadLog(v.Bytes(), "mod.vgm"), "mod.vgm");
  EXPECT_EQ(j["volume_modifier"], -63);
  EXPECT_EQ(j["loop_modifier"], 32);
  EXPECT_EQ(j["loop_base"], -2);
  EXPECT_EQ(j["length"]["samples"], 16);

  REQUIRE_TEST_FILE(deck, "vgm/ym2151/DeckTheHalls.vgm");
  j = InfoOfFile(deck);
  EXPECT_EQ(j["format"], "VGM");
  EXPECT_EQ(j["version"], "1.60");
  ASSERT_EQ(j["chips"].size(), 1u);
  EXPECT_EQ(j["chips"][0]["chip"], "YM2151");
  EXPECT_EQ(j["chips"][0]["clock"], 3579545);
  EXPECT_EQ(j["chips"][0]["writes"], 1540);
  EXPECT_EQ(j["length"]["samples"], 752640);
  EXPECT_DOUBLE_EQ(j["length"]["seconds"].get<double>(), 17.067);
  EXPECT_EQ(j["loop"]["loops"], false);  // its loop holds no samples
  EXPECT_EQ(j["loop_modifier"], 16);

  REQUIRE_TEST_FILE(ay, "vgm/ay/02_StartingPoint.vgz");
  j = InfoOfFile(ay);
  ASSERT_EQ(j["chips"].size(), 1u);
  EXPECT_EQ(j["chips"][0]["type"], "AY8910");
  EXPECT_EQ(j["chips"][0]["played_as"], "AY-3-8910");
  EXPECT_EQ(j["chips"][0]["clock"], 1789772);
  EXPECT_EQ(j["chips"][0]["writes"], 537);
  EXPECT_EQ(j["length"]["samples"], 258946);
  ASSERT_EQ(j["skipped"].size(), 1u);
  EXPECT_EQ(j["skipped"].begin().value(), 1002);

  REQUIRE_TEST_FILE(dual, "synthetic/ym2151_ay8910_dual_exerciser.vgm");
  j = InfoOfFile(dual);
  EXPECT_EQ(j["loop"]["loops"], true);
  EXPECT_EQ(j["loop"]["length"]["samples"], 73000);
  EXPECT_EQ(j["loop"]["start"]["samples"], 74634 - 73000);
  EXPECT_EQ(j["chips"].size(), 3u);  // the FM, and both PSGs

  REQUIRE_TEST_FILE(s98, "synthetic/opm_psg_v3.s98");
  j = InfoOfFile(s98);
  EXPECT_EQ(j["format"], "S98");
  EXPECT_EQ(j["version"], "3");
  EXPECT_EQ(j["tag"]["title"], "synthetic OPM+PSG S98 v3 test");
  EXPECT_EQ(j["chips"][0]["clock"], 4000000);
  EXPECT_EQ(j["chips"][1]["played_as"], "YM2149");
  // 234 syncs of 10 ms, the loop 231 of them.
  EXPECT_EQ(j["length"]["samples"], 103194);
  EXPECT_EQ(j["loop"]["length"]["samples"], 101871);
  EXPECT_FALSE(j.contains("loop_modifier"));  // a VGM field

  for (const char* name : {"good.vgm", "loop-offset-wrong.vgm", "missing-eod-command_(with-gd3).vgm",
                           "data-offset-wrong.vgm", "gd3-cut-short.vgm"}) {
    REQUIRE_TEST_FILE(path, std::string("vgm/robustness/") + name);
    j = InfoOfFile(path);
    EXPECT_EQ(j["tag"]["title"], "Title") << name;
    EXPECT_EQ(j["warnings"].empty(), std::string(name) == "good.vgm") << name;
  }
}

TEST(MusicInfoJson, TextThatIsNotUtf8StillGivesValidJson) {
  // A tag marked UTF-8 that is not, read from a file.
  S98File f({{5, 4000000}});
  f.Cmd({0xFF, 0xFD});
  f.Set(0x10, static_cast<uint32_t>(f.size()));
  f.Text("[S98]\xEF\xBB\xBFtitle=bad \xFF\xC3 end\nmood=\x80\n");
  f.Cmd({0x00});
  json j = InfoOf(ReadLog(f.Bytes(), "bad.s98"), "bad.s98");
  EXPECT_EQ(j["tag"]["title"].get<std::string>().substr(0, 4), "bad ");

  // Bytes that are not UTF-8 wherever text reaches the line (a file name on Linux is any bytes).
  MusicLog log;
  log.format = "VGM 1.71";
  log.tag.title = "bad \xFF\xC3 end";
  log.tag.extra = {{"mood", "\x80"}, {"mood", "\xE6\xB5\x8B"}};
  log.warnings = {"offset 0x40: \xC0"};
  j = InfoOf(log, "bad\xFE.vgm");
  EXPECT_EQ(j["path"], "bad\xEF\xBF\xBD.vgm");
  EXPECT_EQ(j["tag"]["title"], "bad \xEF\xBF\xBD\xEF\xBF\xBD end");  // U+FFFD for each
  EXPECT_EQ(j["tag"]["extra"]["mood"], "\xEF\xBF\xBD\n\xE6\xB5\x8B");  // both values kept
  EXPECT_EQ(j["warnings"][0], "offset 0x40: \xEF\xBF\xBD");
}
