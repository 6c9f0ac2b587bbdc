// The S98 reader on the shared synthetic file and on small files made here.
#include <gtest/gtest.h>

#include <string>

#include "music/music_reader.h"
#include "music/s98_reader.h"
#include "tests/music_files.h"

namespace {

constexpr uint32_t kOpm = 5;
constexpr uint32_t kPsg = 1;
constexpr uint32_t kAy = 15;
constexpr uint32_t kOpn2 = 3;

MusicLog Read(const std::vector<uint8_t>& bytes) { return ReadLog(bytes, "t.s98"); }
std::string ReadError(const std::vector<uint8_t>& bytes) { return ReadLogError(bytes, "t.s98"); }

TEST(S98Reader, SyntheticVersion3File) {
  REQUIRE_TEST_FILE(path, "synthetic/opm_psg_v3.s98");
  MusicLog log;
  std::string error;
  ASSERT_TRUE(ReadMusicFile(path, &log, &error)) << error;
  EXPECT_EQ(log.format, "S98 version 3");
  // Timer 0/0: the defaults, 10/1000 s a sync.
  EXPECT_EQ(log.ticks_num, 1000u);
  EXPECT_EQ(log.ticks_den, 10u);
  EXPECT_EQ(log.opm_clock, 4000000u);
  EXPECT_EQ(log.psg_clock[0], 2000000u);
  EXPECT_EQ(log.psg_type[0], "YM2149");
  EXPECT_EQ(log.total_ticks, 234u);
  ASSERT_TRUE(log.loops());
  EXPECT_EQ(log.loop_ticks, 231u);  // FE 81 01 (131 syncs) and FE 62 (100)
  const MusicEvent& first = log.events[log.loop_event];
  EXPECT_EQ(first.chip, kChipOpm);
  EXPECT_EQ(first.reg, 0x08);
  EXPECT_EQ(first.data, 0x00);
  EXPECT_EQ(log.opm_writes, 8u);
  EXPECT_EQ(log.psg_writes[0], 4u);
  EXPECT_EQ(log.tag.title, "synthetic OPM+PSG S98 v3 test");
  EXPECT_TRUE(log.warnings.empty());
  EXPECT_DOUBLE_EQ(log.seconds(log.total_ticks), 2.34);
}

TEST(S98Reader, HeaderFaultsAreErrors) {
  S98File bad_version({{kOpm, 4000000}}, '4');
  EXPECT_NE(ReadError(bad_version.Bytes()).find("unknown S98 version '4'"), std::string::npos);

  std::vector<uint8_t> short_header = S98File({{kOpm, 4000000}}).Bytes();
  short_header.resize(0x18);
  EXPECT_NE(ReadError(short_header).find("truncated header"), std::string::npos);

  S98File many({{kOpm, 4000000}});
  many.Cmd({0xFF, 0xFD}).Set(0x1C, 65);
  EXPECT_NE(ReadError(many.Bytes()).find("65 devices (at most 64)"), std::string::npos);

  S98File records({{kOpm, 4000000}});
  records.Cmd({0xFF, 0xFD}).Set(0x1C, 20);
  EXPECT_NE(ReadError(records.Bytes()).find("run past the end"), std::string::npos);

  S98File packed({{kOpm, 4000000}}, '2');
  packed.Cmd({0xFF, 0xFD}).Set(0x0C, 1000);
  EXPECT_NE(ReadError(packed.Bytes()).find("compressed S98 files are not supported"),
            std::string::npos);

  S98File past({{kOpm, 4000000}});
  past.Cmd({0xFF, 0xFD}).Set(0x14, 0x900);
  EXPECT_NE(ReadError(past.Bytes()).find("offset 0x14"), std::string::npos);

  S98File fast({{kOpm, 4000000}});
  fast.Cmd({0xFF, 0xFD}).Set(0x04, 1).Set(0x08, 10000000);
  EXPECT_NE(ReadError(fast.Bytes()).find("faster than"), std::string::npos);
}

TEST(S98Reader, TimerFieldsAndDefaults) {
  S98File v3({{kOpm, 4000000}});
  v3.Cmd({0xFF, 0xFD}).Set(0x04, 1).Set(0x08, 60);
  MusicLog log = Read(v3.Bytes());
  EXPECT_EQ(log.ticks_num, 60u);  // 60 syncs a second
  EXPECT_EQ(log.ticks_den, 1u);
  // Version 1 has no denominator field: whatever is at 0x08, it is 1000.
  S98File v1({}, '1');
  v1.Cmd({0xFF, 0xFD}).Set(0x04, 5).Set(0x08, 60);
  log = Read(v1.Bytes());
  EXPECT_EQ(log.ticks_num, 1000u);
  EXPECT_EQ(log.ticks_den, 5u);
}

TEST(S98Reader, DeviceListsAndTheWritesTheBoardCannotPlay) {
  // Version 1: no device list, so one OPNA, whose writes the board skips.
  S98File v1({}, '1');
  v1.Cmd({0x00, 0x07, 0x38, 0xFF, 0xFD});
  MusicLog log = Read(v1.Bytes());
  EXPECT_EQ(log.opm_clock, 0u);
  EXPECT_EQ(Skipped(log, "YM2608 (OPNA) writes"), 1u);
  EXPECT_TRUE(Contains(log.notes, "one YM2608"));

  // Version 2: the list ends at a record of type 0. An OPN2, then an AY and an OPM.
  S98File v2({{kOpn2, 7670454}, {kAy, 1789773}, {kOpm, 3579545}}, '2');
  v2.Cmd({0x00, 0x28, 0xF0, 0x02, 0x08, 0x0F, 0x04, 0x28, 0x4A, 0x05, 0x28, 0x4A, 0x06, 0x00,
          0x00, 0xFE, 0x00, 0xFD});
  log = Read(v2.Bytes());
  EXPECT_EQ(log.psg_clock[0], 1789773u);
  EXPECT_EQ(log.psg_type[0], "AY8910");
  EXPECT_EQ(log.opm_clock, 3579545u);
  EXPECT_EQ(Skipped(log, "YM2612 (OPN2) writes"), 1u);
  EXPECT_EQ(Skipped(log, "second-port writes to YM2151 (OPM)"), 1u);
  EXPECT_EQ(Skipped(log, "writes to device 3, which the header does not list"), 1u);
  EXPECT_EQ(log.psg_writes[0], 1u);
  EXPECT_EQ(log.opm_writes, 1u);
  EXPECT_EQ(log.total_ticks, 2u);  // FE 00 = 2 syncs

  // Five PSGs: the fifth has no room on the board.
  S98File five({{kPsg, 2000000}, {kPsg, 2000000}, {kPsg, 2000000}, {kPsg, 2000000},
                {kPsg, 2000000}});
  five.Cmd({0x08, 0x08, 0x0F, 0x06, 0x08, 0x0F, 0xFF, 0xFD});
  log = Read(five.Bytes());
  EXPECT_TRUE(log.has_psg(3));
  EXPECT_EQ(log.psg_writes[3], 1u);
  EXPECT_EQ(Skipped(log, "PSG (YM2149) writes"), 1u);
}

TEST(S98Reader, WaitCounts) {
  S98File f({{kOpm, 4000000}});
  // FF = 1; FE 00 = 2; FE 7F = 129; FE 81 01 = 131; FE FF FF 03 = 0xFFFF + 2.
  f.Cmd({0xFF, 0xFE, 0x00, 0xFE, 0x7F, 0xFE, 0x81, 0x01, 0xFE, 0xFF, 0xFF, 0x03, 0xFD});
  EXPECT_EQ(Read(f.Bytes()).total_ticks, 1u + 2 + 129 + 131 + 0xFFFF + 2);

  S98File cut({{kOpm, 4000000}});
  cut.Cmd({0xFF, 0xFE, 0x81});
  MusicLog log = Read(cut.Bytes());
  EXPECT_EQ(log.total_ticks, 1u);
  EXPECT_TRUE(Contains(log.warnings, "cut off by the end of the data"));

  S98File endless_count({{kOpm, 4000000}});
  endless_count.Cmd({0xFF, 0xFE, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01, 0xFD});
  log = Read(endless_count.Bytes());
  EXPECT_EQ(log.total_ticks, 1u);
  EXPECT_TRUE(Contains(log.warnings, "longer than 5 bytes"));

  // The waits never add up past 2^48 ticks, however many 35-bit waits follow one another.
  S98File endless({{kOpm, 4000000}});
  for (int i = 0; i < 9000; ++i) endless.Cmd({0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
  endless.Cmd({0xFD});
  log = Read(endless.Bytes());
  EXPECT_EQ(log.total_ticks, uint64_t{1} << 48);
  EXPECT_TRUE(Contains(log.warnings, "the song is cut there"));
  EXPECT_LT(log.events.size(), 70000u);
  EXPECT_NE(ReadError({'S', '9', '8'}).find("truncated header: the file has 3 bytes"),
            std::string::npos);
}

TEST(S98Reader, ReservedCommandsAndMissingEndStopTheStream) {
  S98File f({{kOpm, 4000000}});
  f.Cmd({0xFF, 0x80, 0xFF, 0xFD});
  MusicLog log = Read(f.Bytes());
  EXPECT_EQ(log.total_ticks, 1u);
  EXPECT_TRUE(Contains(log.warnings, "reserved command 0x80"));

  S98File open_end({{kOpm, 4000000}});
  open_end.Cmd({0xFF, 0x00, 0x08});
  log = Read(open_end.Bytes());
  EXPECT_EQ(log.total_ticks, 1u);
  EXPECT_EQ(log.opm_writes, 0u);
  EXPECT_TRUE(Contains(log.warnings, "cut off"));
}

TEST(S98Reader, LoopRules) {
  S98File inside({{kOpm, 4000000}});
  inside.Cmd({0x00, 0x08, 0x78}).LoopHere().Cmd({0xFF, 0xFD});
  inside.Set(0x18, static_cast<uint32_t>(inside.size() - 3));  // inside "00 08 78"
  MusicLog log = Read(inside.Bytes());
  EXPECT_FALSE(log.loops());
  EXPECT_TRUE(Contains(log.warnings, "not at the start of a command"));

  S98File empty({{kOpm, 4000000}});
  empty.Cmd({0xFF}).LoopHere().Cmd({0x00, 0x08, 0x78, 0xFD});
  log = Read(empty.Bytes());
  EXPECT_FALSE(log.loops());
  EXPECT_TRUE(Contains(log.warnings, "loop holds no waits"));

  S98File good({{kOpm, 4000000}});
  good.Cmd({0xFF}).LoopHere().Cmd({0x00, 0x08, 0x78, 0xFF, 0xFF, 0xFD});
  log = Read(good.Bytes());
  ASSERT_TRUE(log.loops());
  EXPECT_EQ(log.loop_event, 1u);
  EXPECT_EQ(log.loop_ticks, 2u);
}

TEST(S98Reader, Version3TagsInUtf8AndShiftJis) {
  S98File utf8({{kOpm, 4000000}});
  utf8.Cmd({0xFF, 0xFD});
  utf8.Set(0x10, static_cast<uint32_t>(utf8.size()));
  utf8.Text("[S98]\xEF\xBB\xBFtitle=\xE6\xB5\x8B\n" "artist=Someone\r\nyear=1989\ngenre=Game\n");
  utf8.Cmd({0x00});
  MusicLog log = Read(utf8.Bytes());
  EXPECT_EQ(log.tag.title, "\xE6\xB5\x8B");
  EXPECT_EQ(log.tag.author, "Someone");
  EXPECT_EQ(log.tag.date, "1989");
  ASSERT_EQ(log.tag.extra.size(), 1u);
  EXPECT_EQ(log.tag.extra[0].first, "genre");

  S98File sjis({{kOpm, 4000000}});
  sjis.Cmd({0xFF, 0xFD});
  sjis.Set(0x10, static_cast<uint32_t>(sjis.size()));
  sjis.Text("[S98]title=\x83\x65\x83\x58\x83\x67\n");  // テスト in Shift_JIS, no terminator
  log = Read(sjis.Bytes());
  EXPECT_EQ(log.tag.title, "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88");
}

TEST(S98Reader, ATagAfterTheDumpEndsAStreamWithoutItsEndCommand) {
  S98File f({{kOpm, 4000000}});
  f.Cmd({0xFF});
  f.Set(0x10, static_cast<uint32_t>(f.size()));
  f.Text("plain title");  // "pla" would read as a write to device 56 if the stream ran on
  MusicLog log = Read(f.Bytes());
  EXPECT_EQ(log.tag.title, "plain title");
  EXPECT_EQ(log.total_ticks, 1u);
  EXPECT_TRUE(Contains(log.warnings, "without an end command"));
  EXPECT_TRUE(log.skipped.empty());
}

TEST(S98Reader, TagsAreKeptToTheirFirst64KiBAnd256Entries) {
  // A Shift_JIS comment of 40000 characters (80000 bytes, 120000 in UTF-8), then 300 keys.
  std::string text = "[S98]comment=";
  for (int i = 0; i < 40000; ++i) text += "\x83\x65";
  text += "\n";
  for (int i = 0; i < 300; ++i) text += "k" + std::to_string(i) + "=v\n";
  text += "TITLE=last\n";
  S98File f({{kOpm, 4000000}});
  f.Cmd({0xFF, 0xFD});
  f.Set(0x10, static_cast<uint32_t>(f.size()));
  f.Text(text);
  MusicLog log = Read(f.Bytes());
  // Cut at a whole character: 21845 of them (three bytes each) fit in 64 KiB.
  EXPECT_EQ(log.tag.notes.size(), 21845u * 3);
  EXPECT_EQ(log.tag.notes.substr(0, 3), "\xE3\x83\x86");
  ASSERT_EQ(log.tag.extra.size(), 256u);
  EXPECT_EQ(log.tag.extra.back().first, "k255");
  EXPECT_EQ(log.tag.title, "last");  // a named field after the cap is still read
  EXPECT_TRUE(Contains(log.warnings, "longer than 64 KiB; cut"));
  EXPECT_TRUE(Contains(log.warnings, "44 entries more than the 256 kept"));
}

}  // namespace
