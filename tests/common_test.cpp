// The shared helpers where their edges matter, and the VGM log writer as a player reads it: the
// PSG type it declares and the tag text it carries through UTF-16.
#include <gtest/gtest.h>

#include <string>

#include "common/ascii.h"
#include "common/utf8.h"
#include "music/vgm_reader.h"
#include "reglog/vgm_writer.h"

namespace {

TEST(Common, AsciiCaseFoldsOnlyTheLatinLetters) {
  EXPECT_EQ(AsciiLower("VgZ.S98"), "vgz.s98");
  EXPECT_EQ(AsciiLower("\xC3\x89@[`{"), "\xC3\x89@[`{");  // 'É' and the neighbours of A-Z, a-z
  EXPECT_TRUE(AsciiEqualNoCase("VORLA", "vorla"));
  EXPECT_FALSE(AsciiEqualNoCase("vorla", "vorl"));
}

TEST(Common, Utf8DecodesWellFormedSequencesAndRefusesTheRest) {
  struct Case {
    std::string text;
    bool ok;
    uint32_t cp;
    size_t length;
  };
  const Case cases[] = {{"A", true, 0x41, 1},
                        {"\xC3\xA9", true, 0xE9, 2},
                        {"\xE3\x81\x82", true, 0x3042, 3},
                        {"\xF0\x9F\x8E\xB5", true, 0x1F3B5, 4},
                        {"\xC0\xAF", false, 0, 0},          // overlong '/'
                        {"\xED\xA0\x80", false, 0, 0},      // a surrogate
                        {"\xF4\x90\x80\x80", false, 0, 0},  // past U+10FFFF
                        {"\xE3\x81", false, 0, 0},          // cut short
                        {"\x81", false, 0, 0},              // a stray continuation byte
                        {"\xF8\x88\x80\x80\x80", false, 0, 0}};
  for (const Case& c : cases) {
    size_t pos = 0;
    uint32_t cp = 0;
    EXPECT_EQ(DecodeUtf8(c.text, &pos, &cp), c.ok) << c.text;
    EXPECT_EQ(pos, c.length) << c.text;
    EXPECT_EQ(cp, c.cp) << c.text;
  }
}

TEST(VgmWriter, DeclaresYm2149sAndKeepsTheTagText) {
  VgmWriter writer(VgmLayout{3993600, 1996800});
  writer.Write(kChipPsg1, 8, 15);
  writer.Wait(100);
  LogTag tag;
  tag.title = "Vorla \xE3\x81\x82 \xF0\x9F\x8E\xB5";
  tag.notes = "bad \xC0\xAF end";  // each byte of a broken sequence becomes U+FFFD
  writer.Finish(tag);
  MusicLog log;
  std::string error;
  ASSERT_TRUE(ReadVgm(WholeLogFile(writer), "t.vgm", &log, &error)) << error;
  EXPECT_EQ(log.psg_type[0], "YM2149");
  EXPECT_EQ(log.psg_type[1], "YM2149");
  EXPECT_FALSE(log.psg_is_ay(0));
  EXPECT_EQ(log.tag.title, tag.title);
  EXPECT_EQ(log.tag.notes, "bad \xEF\xBF\xBD\xEF\xBF\xBD end");
}

}  // namespace
