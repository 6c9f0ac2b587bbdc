// `vorla info --json`: the line, read back as JSON, holds each file's facts, and stays valid JSON
// whatever bytes its text holds.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "music/music_info_json.h"
#include "tests/music_files.h"

using nlohmann::json;

// One line, parsed: a line that is not valid JSON (invalid UTF-8 included) fails the parse.
json InfoOf(const MusicLog& log, const std::string& path) {
  const std::string line = MusicInfoJson(log, path);
  EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
  return json::parse(line, nullptr, false);
}

json InfoOfFile(const std::string& relative) {
  MusicLog log;
  std::string error;
  EXPECT_TRUE(ReadMusicFile(TestDataDir() + "/" + relative, &log, &error)) << error;
  return InfoOf(log, relative);
}

TEST(MusicInfoJson, TheFactsOfEachFileReadBack) {
  VgmFile v(0x160);  // the VGM modifiers: 0xC1 the lowest volume (-63, which counts as -64), the loop base signed
  v.Byte(0x7C, 0xC1).Byte(0x7E, 0xFE).Byte(0x7F, 0x20).Cmd({0x61, 0x10, 0x00, 0x66});
  json j = InfoOf(ReadLog(v.Bytes(), "mod.vgm"), "mod.vgm");
  EXPECT_EQ(j["volume_modifier"], -64);
  EXPECT_EQ(j["loop_modifier"], 32);
  EXPECT_EQ(j["loop_base"], -2);

  REQUIRE_TEST_FILE(ay, "vgm/ay/02_StartingPoint.vgz");
  j = InfoOfFile("vgm/ay/02_StartingPoint.vgz");
  EXPECT_EQ(j["version"], "1.61");
  EXPECT_EQ(j["chips"][0]["clock"], 1789772);
  EXPECT_EQ(j["chips"][0]["played_as"], "AY-3-8910");
  EXPECT_EQ(j["length"]["samples"], 258946);  // VGM counts in samples: as the header says
  EXPECT_EQ(j["skipped"]["K051649 writes"], 1002);

  j = InfoOfFile("synthetic/opm_psg_v3.s98");  // 234 syncs of 10 ms, the loop 231 of them
  EXPECT_EQ(j["version"], "3");
  EXPECT_EQ(j["tag"]["title"], "synthetic OPM+PSG S98 v3 test");
  EXPECT_EQ(j["length"]["seconds"], 2.34);
  EXPECT_EQ(j["loop"]["length"]["samples"], 231 * 441);
  EXPECT_FALSE(j.contains("loop_modifier"));  // VGM only

  for (const char* name : {"good", "loop-offset-wrong", "missing-eod-command_(with-gd3)",
                           "data-offset-wrong", "gd3-cut-short"}) {
    j = InfoOfFile("vgm/robustness/" + std::string(name) + ".vgm");
    EXPECT_EQ(j["tag"]["title"], "Title") << name;
    EXPECT_EQ(j["warnings"].empty(), std::string(name) == "good") << name;
  }
}

TEST(MusicInfoJson, BytesThatAreNotUtf8ComeOutReplaced) {
  MusicLog log;
  log.format = "VGM 1.71";
  log.tag.title = "bad \xFF\xC3 end";
  log.tag.extra = {{"mood", "\x80"}, {"mood", "calm"}};
  const json j = InfoOf(log, "bad\xFE.vgm");  // a Linux file name is any bytes
  EXPECT_EQ(j["path"], "bad\xEF\xBF\xBD.vgm");
  EXPECT_EQ(j["tag"]["title"], "bad \xEF\xBF\xBD\xEF\xBF\xBD end");
  EXPECT_EQ(j["tag"]["extra"]["mood"], "\xEF\xBF\xBD\ncalm");  // a key given twice keeps both
}
