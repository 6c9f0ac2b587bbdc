// The VGM reader on the shared real and broken files, and on small files made here for the
// paths no real file covers.
#include <gtest/gtest.h>

#include <string>

#include "music/music_info.h"
#include "music/music_reader.h"
#include "music/vgm_reader.h"
#include "tests/music_files.h"

namespace {

MusicLog Read(const std::vector<uint8_t>& bytes) { return ReadLog(bytes, "t.vgm"); }
std::string ReadError(const std::vector<uint8_t>& bytes) { return ReadLogError(bytes, "t.vgm"); }

// A 1.71 file with one YM2151 at 3579545 Hz and one AY8910 at 1789773 Hz.
VgmFile OpmAyFile() {
  VgmFile f;
  f.Set(0x30, 3579545).Set(0x74, 1789773);
  return f;
}

TEST(VgmReader, RealYm2151FilesPlayOnceDespiteTheirLoopOffset) {
  REQUIRE_TEST_FILE(deck, "vgm/ym2151/DeckTheHalls.vgm");
  REQUIRE_TEST_FILE(jingle, "vgm/ym2151/JingleBells.vgm");
  MusicLog log;
  std::string error;
  ASSERT_TRUE(ReadMusicFile(deck, &log, &error)) << error;
  EXPECT_EQ(log.format, "VGM 1.60");
  EXPECT_EQ(log.opm_clock, 3579545u);
  EXPECT_EQ(log.total_ticks, 752640u);
  EXPECT_EQ(log.opm_writes, 1540u);
  EXPECT_EQ(Skipped(log, "Sega PCM writes"), 15u);
  EXPECT_FALSE(log.loops());  // a loop offset whose loop holds 0 samples: no loop
  EXPECT_TRUE(Contains(log.notes, "0 samples"));
  EXPECT_TRUE(log.warnings.empty());
  EXPECT_EQ(log.tag.system, "Arcade Machine");

  ASSERT_TRUE(ReadMusicFile(jingle, &log, &error)) << error;
  EXPECT_EQ(log.total_ticks, 1505280u);
  EXPECT_EQ(log.opm_writes, 1706u);
  EXPECT_FALSE(log.loops());
  EXPECT_EQ(log.tag.title, "Jingle Bells");
  EXPECT_EQ(log.tag.author, "Trad., arr. Matt Heffernan");
}

TEST(VgmReader, RealAyFileAndItsGzipCopyReadTheSame) {
  REQUIRE_TEST_FILE(vgm, "vgm/ay/02_StartingPoint.vgm");
  REQUIRE_TEST_FILE(vgz, "vgm/ay/02_StartingPoint.vgz");
  MusicLog a, b;
  std::string error;
  ASSERT_TRUE(ReadMusicFile(vgm, &a, &error)) << error;
  ASSERT_TRUE(ReadMusicFile(vgz, &b, &error)) << error;
  EXPECT_EQ(a.format, "VGM 1.61");
  EXPECT_EQ(a.psg_clock[0], 1789772u);
  EXPECT_EQ(a.psg_clock[1], 0u);
  EXPECT_EQ(a.opm_clock, 0u);
  EXPECT_EQ(a.psg_writes[0], 537u);
  EXPECT_EQ(Skipped(a, "K051649 writes"), 1002u);
  EXPECT_EQ(a.total_ticks, 258946u);
  EXPECT_FALSE(a.loops());
  EXPECT_EQ(a.tag.game, "Nemesis 2");
  EXPECT_EQ(a.tag.game_original, "\xE3\x82\xB0\xE3\x83\xA9\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xA6\xE3"
                                  "\x82\xB9\x32");  // グラディウス2
  ASSERT_EQ(a.events.size(), b.events.size());
  for (size_t i = 0; i < a.events.size(); ++i) {
    ASSERT_EQ(a.events[i].ticks, b.events[i].ticks) << i;
    ASSERT_EQ(a.events[i].data, b.events[i].data) << i;
  }
}

TEST(VgmReader, DualChipExerciserSendsTheSecondAyToPsg2AndSkipsTheSecondYm2151) {
  REQUIRE_TEST_FILE(path, "synthetic/ym2151_ay8910_dual_exerciser.vgm");
  MusicLog log;
  std::string error;
  ASSERT_TRUE(ReadMusicFile(path, &log, &error)) << error;
  EXPECT_EQ(log.psg_clock[0], 1789773u);
  EXPECT_EQ(log.psg_clock[1], 1789773u);
  EXPECT_EQ(log.total_ticks, 74634u);
  ASSERT_TRUE(log.loops());
  EXPECT_EQ(log.loop_ticks, 73000u);
  // The loop starts at "54 08 00": a key-off of FM channel 1.
  const MusicEvent& first = log.events[log.loop_event];
  EXPECT_EQ(first.ticks, 0u);
  EXPECT_EQ(first.chip, kChipOpm);
  EXPECT_EQ(first.reg, 0x08);
  EXPECT_EQ(first.data, 0x00);
  // "A0 80 7F": register 0 of the second AY.
  EXPECT_TRUE(std::any_of(log.events.begin(), log.events.end(), [](const MusicEvent& e) {
    return e.ticks == 0 && e.chip == kChipPsg2 && e.reg == 0 && e.data == 0x7F;
  }));
  EXPECT_EQ(log.psg_writes[1], 4u);
  EXPECT_EQ(Skipped(log, "second YM2151 writes (the board has one FM chip)"), 28u);
  EXPECT_EQ(Skipped(log, "data blocks"), 1u);
  EXPECT_EQ(log.tag.notes, "Self-made parser test, not music.\nNot from any game.");
  EXPECT_TRUE(log.warnings.empty());
}

TEST(VgmReader, BrokenFilesPlayWhatIsValidAndSayWhatIsNot) {
  REQUIRE_TEST_FILE(good, "vgm/robustness/good.vgm");
  REQUIRE_TEST_FILE(loop, "vgm/robustness/loop-offset-wrong.vgm");
  REQUIRE_TEST_FILE(eod, "vgm/robustness/missing-eod-command_(with-gd3).vgm");
  REQUIRE_TEST_FILE(data, "vgm/robustness/data-offset-wrong.vgm");
  REQUIRE_TEST_FILE(gd3, "vgm/robustness/gd3-cut-short.vgm");
  MusicLog log;
  std::string error;
  ASSERT_TRUE(ReadMusicFile(good, &log, &error)) << error;
  EXPECT_TRUE(log.warnings.empty());
  EXPECT_EQ(log.total_ticks, 141120u);
  EXPECT_EQ(log.loop_ticks, 141120u);
  EXPECT_EQ(Skipped(log, "YM2612 writes"), 37u);
  EXPECT_EQ(log.opm_clock, 0u);

  ASSERT_TRUE(ReadMusicFile(loop, &log, &error)) << error;
  EXPECT_FALSE(log.loops());
  EXPECT_TRUE(Contains(log.warnings, "0x14A is not at the start of a command"));
  EXPECT_EQ(log.total_ticks, 141120u);

  // Without its end command the stream stops before the tag, not inside it.
  ASSERT_TRUE(ReadMusicFile(eod, &log, &error)) << error;
  EXPECT_TRUE(Contains(log.warnings, "without an end command"));
  EXPECT_EQ(log.total_ticks, 141120u);
  EXPECT_EQ(log.tag.title, "Title");

  ASSERT_TRUE(ReadMusicFile(data, &log, &error)) << error;
  EXPECT_EQ(log.total_ticks, 0u);
  EXPECT_TRUE(Contains(log.warnings, "offset 0xC0: unknown command 0x00"));
  EXPECT_TRUE(Contains(log.warnings, "data offset"));

  ASSERT_TRUE(ReadMusicFile(gd3, &log, &error)) << error;
  EXPECT_EQ(log.total_ticks, 141120u);
  EXPECT_EQ(log.tag.author_original, "AuthorJ");
  EXPECT_EQ(log.tag.notes, "Not");
  EXPECT_TRUE(Contains(log.warnings, "cut off"));
}

TEST(VgmReader, RefusesWhatIsNoVgmItCanRead) {
  EXPECT_NE(ReadError({'R', 'I', 'F', 'F', 0, 0}).find("neither a VGM"), std::string::npos);
  std::vector<uint8_t> short_header = OpmAyFile().Bytes();
  short_header.resize(40);
  EXPECT_NE(ReadError(short_header).find("truncated header"), std::string::npos);
  EXPECT_NE(ReadError(VgmFile(0x180).Cmd({0x66}).Bytes()).find("unknown VGM version 0x180"),
            std::string::npos);
  EXPECT_NE(ReadError(VgmFile(0x1A0).Cmd({0x66}).Bytes()).find("offset 0x8"), std::string::npos);
  VgmFile past = OpmAyFile();
  past.Cmd({0x66}).Set(0x34, 0x1000);
  EXPECT_NE(ReadError(past.Bytes()).find("past the end of the file"), std::string::npos);
}

TEST(VgmReader, EveryWaitFormAddsUp) {
  VgmFile f = OpmAyFile();
  // 61 (0x1234) + 62 (735) + 63 (882) + 70 (1) + 7F (16) + 85 (a YM2612 write, then 5).
  f.Cmd({0x61, 0x34, 0x12, 0x62, 0x63, 0x70, 0x7F, 0x85, 0x66});
  MusicLog log = Read(f.Bytes());
  EXPECT_EQ(log.total_ticks, 0x1234u + 735 + 882 + 1 + 16 + 5);
  EXPECT_EQ(Skipped(log, "YM2612 writes"), 1u);
  // Waits next to each other become one event.
  EXPECT_EQ(log.events.size(), 1u);
}

TEST(VgmReader, Commands40To4ETakeOneOperandBefore161AndTwoFrom161On) {
  VgmFile old_file(0x160);
  old_file.Cmd({0x41, 0x01, 0x70, 0x66});
  EXPECT_EQ(Read(old_file.Bytes()).total_ticks, 1u);  // 41 01, then a wait of 1
  VgmFile new_file(0x161);
  new_file.Cmd({0x41, 0x01, 0x70, 0x66});
  EXPECT_EQ(Read(new_file.Bytes()).total_ticks, 0u);  // 41 01 70 is one command
}

TEST(VgmReader, HeaderBytesFromTheDataOnAreNotHeaderFields) {
  // A 1.51 file whose data starts at 0x40: the bytes where the AY clock would be (0x74) are
  // commands, and the file has no AY.
  VgmFile f(0x151, 0x40);
  f.Set(0x30, 3579545);
  for (int i = 0; i < 0x40; ++i) f.Cmd({0x70});
  f.Cmd({0x66});
  MusicLog log = Read(f.Bytes());
  EXPECT_EQ(log.psg_clock[0], 0u);
  EXPECT_EQ(log.total_ticks, 0x40u);
}

TEST(VgmReader, Version100TakesTheYm2151ClockFrom0x10AndItsDataFrom0x40) {
  VgmFile f(0x100, 0x40);
  f.Set(0x10, 3579545).Set(0x34, 0xDEAD);  // 0x34 means nothing before 1.50
  f.Cmd({0x54, 0x28, 0x4A, 0x62, 0x66});
  MusicLog log = Read(f.Bytes());
  EXPECT_EQ(log.opm_clock, 3579545u);
  EXPECT_EQ(log.opm_writes, 1u);
  EXPECT_EQ(log.total_ticks, 735u);
}

TEST(VgmReader, WritesToChipsTheHeaderDoesNotDeclareAreSkippedAndCounted) {
  VgmFile f;
  f.Set(0x74, 1789773);  // one AY, no YM2151
  f.Cmd({0x54, 0x08, 0x00, 0xA0, 0x88, 0x0F, 0xA0, 0x08, 0x0F, 0x70, 0x66});
  MusicLog log = Read(f.Bytes());
  EXPECT_EQ(Skipped(log, "YM2151 writes (the header declares no YM2151)"), 1u);
  EXPECT_EQ(Skipped(log, "second AY8910 writes (the header declares no second AY8910)"), 1u);
  EXPECT_EQ(log.psg_writes[0], 1u);
}

TEST(VgmReader, DataBlocksAreSkippedByTheirLengthAndABadOneStopsTheStream) {
  VgmFile f = OpmAyFile();
  f.Cmd({0x67, 0x66, 0x00, 0x03, 0x00, 0x00, 0x00, 0x66, 0x66, 0x66, 0x70, 0x66}).Set(0x18, 1);
  MusicLog log = Read(f.Bytes());
  EXPECT_EQ(log.total_ticks, 1u);  // the 66 bytes inside the block are data
  EXPECT_TRUE(log.warnings.empty());

  VgmFile longer = OpmAyFile();
  longer.Cmd({0x70, 0x67, 0x66, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x70, 0x66});
  log = Read(longer.Bytes());
  EXPECT_EQ(log.total_ticks, 1u);
  EXPECT_TRUE(Contains(log.warnings, "runs past the end of the data"));

  VgmFile unmarked = OpmAyFile();
  unmarked.Cmd({0x70, 0x67, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x70, 0x66});
  log = Read(unmarked.Bytes());
  EXPECT_EQ(log.total_ticks, 1u);
  EXPECT_TRUE(Contains(log.warnings, "without its 0x66 marker"));
}

TEST(VgmReader, ACutOffCommandEndsTheStreamWithAWarning) {
  VgmFile f = OpmAyFile();
  f.Cmd({0x70, 0x54, 0x28});
  MusicLog log = Read(f.Bytes());
  EXPECT_EQ(log.total_ticks, 1u);
  EXPECT_EQ(log.opm_writes, 0u);
  EXPECT_TRUE(Contains(log.warnings, "cut off"));
}

TEST(VgmReader, LoopRules) {
  // A loop whose waits are there and whose header count agrees.
  VgmFile f = OpmAyFile();
  f.Cmd({0x54, 0x28, 0x4A, 0x7F});
  f.LoopHere().Cmd({0x54, 0x08, 0x78, 0x61, 0x10, 0x00, 0x66});
  f.Set(0x18, 32).Set(0x20, 16);
  MusicLog log = Read(f.Bytes());
  ASSERT_TRUE(log.loops());
  EXPECT_EQ(log.loop_event, 2u);
  EXPECT_EQ(log.loop_ticks, 16u);
  EXPECT_TRUE(log.warnings.empty());

  // The header says the loop is 16 samples, but nothing after the loop point waits: played once.
  VgmFile endless = OpmAyFile();
  endless.Cmd({0x7F}).LoopHere().Cmd({0x54, 0x08, 0x78, 0x66});
  endless.Set(0x18, 16).Set(0x20, 16);
  log = Read(endless.Bytes());
  EXPECT_FALSE(log.loops());
  EXPECT_TRUE(Contains(log.warnings, "loop holds no waits"));

  // A loop point outside the data.
  VgmFile outside = OpmAyFile();
  outside.Cmd({0x7F, 0x66}).Set(0x1C, 0x10000).Set(0x18, 16).Set(0x20, 16);
  log = Read(outside.Bytes());
  EXPECT_FALSE(log.loops());
  EXPECT_TRUE(Contains(log.warnings, "outside the data"));

  // A header loop count that disagrees with the commands: the commands win.
  VgmFile wrong = OpmAyFile();
  wrong.Cmd({0x7F}).LoopHere().Cmd({0x7F, 0x7F, 0x66});
  wrong.Set(0x18, 48).Set(0x20, 20);
  log = Read(wrong.Bytes());
  ASSERT_TRUE(log.loops());
  EXPECT_EQ(log.loop_ticks, 32u);
  EXPECT_TRUE(Contains(log.warnings, "gives the loop 20 samples"));
}

TEST(VgmReader, LoopModifierAndBaseAreKept) {
  VgmFile f(0x160);
  f.Set(0x30, 3579545).Byte(0x7E, 0xFF).Byte(0x7F, 0x20).Cmd({0x70, 0x66});
  MusicLog log = Read(f.Bytes());
  EXPECT_EQ(log.loop_base, -1);
  EXPECT_EQ(log.loop_modifier, 0x20);
  VgmFile plain = OpmAyFile();
  plain.Cmd({0x70, 0x66});
  log = Read(plain.Bytes());
  EXPECT_EQ(log.loop_modifier, 16);  // 0 means 16
}

TEST(VgmReader, TheExtraHeaderGivesTheSecondAyItsOwnClock) {
  VgmFile f;
  f.Set(0x74, 1789773 | 0x40000000u).Set(0xBC, 4);  // extra header at 0xC0
  f.Set(0xC0, 8).Set(0xC4, 4);                       // clock list at 0xC8, no volume list
  f.Byte(0xC8, 1).Byte(0xC9, 18).Set(0xCA, 2000000);  // one entry: chip 18 (AY8910)
  f.Set(0xCE, 0xFFFFFFFF);  // main-header bytes inside the extra header are no fields
  f.Cmd({0x70, 0x66}).Set(0x18, 1);
  MusicLog log = Read(f.Bytes());
  EXPECT_EQ(log.psg_clock[0], 1789773u);
  EXPECT_EQ(log.psg_clock[1], 2000000u);
  EXPECT_TRUE(log.warnings.empty());
}

TEST(VgmReader, VolumeModifierAndChipVolumesAreKeptForChipsMode) {
  // 0x00-0xC0 count up, 0xC1-0xFF down from -63, and -63 counts as -64.
  for (const auto& [byte, v] : {std::pair{0x20, 32}, {0xC0, 192}, {0xFF, -1}, {0xC1, -64}}) {
    VgmFile f(0x160);
    f.Set(0x30, 3579545).Byte(0x7C, static_cast<uint8_t>(byte)).Cmd({0x70, 0x66}).Set(0x18, 1);
    EXPECT_EQ(Read(f.Bytes()).volume_modifier, v) << byte;
  }
  VgmFile f(0x160);
  f.Set(0x30, 3579545).Byte(0x7C, 0x20).Cmd({0x70, 0x66}).Set(0x18, 1);
  EXPECT_NE(FormatMusicInfo(Read(f.Bytes()))
                .find("0x20: x2 (+6.0 dB), applied in chips mode, not in board mode"),
            std::string::npos);

  // Volume list at 0xC8: the YM2151 relative x1.5, the second AY absolute 0x80, a paired
  // chip's entry (bit 7) and a YM2612's ignored.
  VgmFile v;
  v.Set(0x30, 3579545).Set(0x74, 1789773 | 0x40000000u).Set(0xBC, 4);
  v.Set(0xC0, 12).Set(0xC4, 0).Set(0xC8, 4);
  v.Byte(0xCC, 4);
  v.Byte(0xCD, 3).Byte(0xCE, 0).Byte(0xCF, 0x80).Byte(0xD0, 0x81);
  v.Byte(0xD1, 18).Byte(0xD2, 1).Byte(0xD3, 0x80).Byte(0xD4, 0x00);
  v.Byte(0xD5, 18 | 0x80).Byte(0xD6, 0).Byte(0xD7, 0x00).Byte(0xD8, 0x01);
  v.Byte(0xD9, 2).Byte(0xDA, 0).Byte(0xDB, 0x00).Byte(0xDC, 0x02);
  v.Cmd({0x70, 0x66}).Set(0x18, 1);
  const MusicLog log = Read(v.Bytes());
  EXPECT_DOUBLE_EQ(log.opm_volume, 1.5);
  EXPECT_DOUBLE_EQ(log.psg_volume[0], 1.0);
  EXPECT_DOUBLE_EQ(log.psg_volume[1], 0.5);
  EXPECT_TRUE(log.warnings.empty());
}

TEST(VgmReader, AYm2149WithPin26LowRunsAtHalfItsClock) {
  VgmFile f;
  f.Set(0x74, 4000000).Byte(0x78, 0x10).Byte(0x79, 0x11).Cmd({0x70, 0x66});
  MusicLog log = Read(f.Bytes());
  EXPECT_EQ(log.psg_clock[0], 2000000u);
  EXPECT_EQ(log.psg_type[0], "YM2149");
}

TEST(VgmReader, ClocksNoChipCanRunAtAreRefusedWithTheRange) {
  struct Case {
    uint32_t offset, clock;
    const char* message;
  };
  for (const Case& c : {Case{0x30, 64, "a YM2151 runs at 1 MHz to 10 MHz, the file gives it 64 Hz"},
                        Case{0x30, 10000001, "gives it 10000001 Hz"},
                        Case{0x74, 499999, "AY8910 (PSG 1) runs at 0.5 MHz to 5 MHz"},
                        Case{0x74, 5000001, "gives it 5000001 Hz"}}) {
    VgmFile f;
    f.Set(c.offset, c.clock).Cmd({0x70, 0x66}).Set(0x18, 1);
    EXPECT_NE(ReadError(f.Bytes()).find(c.message), std::string::npos) << c.clock;
  }
  // The ends of the ranges play.
  VgmFile edges;
  edges.Set(0x30, 1000000).Set(0x74, 5000000).Cmd({0x70, 0x66}).Set(0x18, 1);
  EXPECT_EQ(Read(edges.Bytes()).opm_clock, 1000000u);
}

TEST(VgmReader, TagStringsAreBoundedByTheTagAndTheFile) {
  VgmFile f = OpmAyFile();
  f.Cmd({0x70, 0x66});
  const size_t tag = f.size();
  f.Set(0x14, static_cast<uint32_t>(tag - 0x14));
  // "Gd3 ", version, length 10: "A", then U+1F3B5 as a surrogate pair, then a string cut off.
  f.Cmd({'G', 'd', '3', ' ', 0x00, 0x01, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00});
  f.Cmd({'A', 0x00, 0x00, 0x00, 0x3C, 0xD8, 0xB5, 0xDF, 0x00, 0x00});
  MusicLog log = Read(f.Bytes());
  EXPECT_EQ(log.tag.title, "A");
  EXPECT_EQ(log.tag.title_original, "\xF0\x9F\x8E\xB5");
  EXPECT_TRUE(Contains(log.warnings, "holds 2 of its 11 strings"));

  VgmFile past = OpmAyFile();
  past.Cmd({0x70, 0x66}).Set(0x14, 0x5000);
  log = Read(past.Bytes());
  EXPECT_TRUE(Contains(log.warnings, "GD3 offset points to 0x5014"));
}

TEST(VgmReader, GzipFaultsAreErrors) {
  VgmFile f = OpmAyFile();
  f.Cmd({0x70, 0x66});
  std::vector<uint8_t> gz = GzipBytes(f.Bytes());
  EXPECT_EQ(Read(gz).total_ticks, 1u);

  std::vector<uint8_t> cut(gz.begin(), gz.begin() + static_cast<long>(gz.size() / 2));
  EXPECT_NE(ReadError(cut).find("ends early"), std::string::npos);

  std::vector<uint8_t> corrupt = gz;
  for (size_t i = 10; i < corrupt.size() - 8; ++i) corrupt[i] = 0xFF;
  EXPECT_NE(ReadError(corrupt).find("corrupt gzip stream"), std::string::npos);
}

}  // namespace
