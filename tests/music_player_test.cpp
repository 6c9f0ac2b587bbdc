// The music player's timeline (write frames, rates, loops, fade), the voice names, the chips it
// plays on with voices left out, and moving a song: back to its snapshots, in the seek worker.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "music/music_info.h"
#include "text/clock_text.h"
#include "player/board_retune.h"
#include "player/music_chips.h"
#include "player/live_song.h"
#include "player/music_player.h"
#include "player/seekable_song.h"
#include "player/voices.h"

namespace {

// Records each write with the frame it lands before; every mixed frame gets +1000 left and
// -1000 right.
class RecordingChips : public MusicChips {
 public:
  struct Write {
    uint64_t frame;
    uint8_t chip, reg, data;
  };
  void Write(uint8_t chip, uint8_t reg, uint8_t data) override {
    writes.push_back({mixed, chip, reg, data});
  }
  void Mix(StereoFrame* frames, int32_t count) override {
    for (int32_t i = 0; i < count; ++i) {
      frames[i].left += 1000;
      frames[i].right -= 1000;
    }
    mixed += static_cast<uint64_t>(count);
  }
  std::vector<struct Write> writes;
  uint64_t mixed = 0;
};

MusicEvent W(uint8_t reg, uint8_t data, uint8_t chip = kChipOpm) { return {0, chip, reg, data}; }
MusicEvent Wait(uint32_t ticks) { return {ticks, 0, 0, 0}; }

// Renders the whole song in blocks of `block` frames; all frames.
std::vector<StereoFrame> RenderAll(MusicPlayer* player, int32_t block = 1000) {
  std::vector<StereoFrame> all;
  std::vector<StereoFrame> buffer(static_cast<size_t>(block));
  while (!player->finished()) {
    const int32_t n = player->Render(buffer.data(), block);
    all.insert(all.end(), buffer.begin(), buffer.begin() + n);
  }
  return all;
}

TEST(MusicPlayer, WritesLandOnTheFrameTheirTimeFallsOn) {
  MusicLog log;
  log.events = {W(1, 1), Wait(100), W(2, 2), W(3, 3), Wait(51), W(4, 4)};
  log.total_ticks = 151;
  RecordingChips chips;
  MusicPlayer player(log, PlaybackOptions{44100, 2, 0}, &chips);
  EXPECT_EQ(player.length(), 151u);
  EXPECT_EQ(RenderAll(&player, 7).size(), 151u);
  // The last write comes with the end of the song, when nothing is left to render: dropped.
  ASSERT_EQ(chips.writes.size(), 3u);
  EXPECT_EQ(chips.writes[0].frame, 0u);
  EXPECT_EQ(chips.writes[1].frame, 100u);
  EXPECT_EQ(chips.writes[2].frame, 100u);

  // At half the rate, tick 151 falls on frame 75 (rounded down).
  RecordingChips half;
  MusicPlayer slow(log, PlaybackOptions{22050, 2, 0}, &half);
  EXPECT_EQ(slow.length(), 75u);
  RenderAll(&slow);
  EXPECT_EQ(half.writes[1].frame, 50u);
}

TEST(MusicPlayer, RenderReturnsFewerFramesAtTheEndAndZeroesTheRest) {
  MusicLog log;
  log.events = {Wait(10)};
  log.total_ticks = 10;
  RecordingChips chips;
  MusicPlayer player(log, PlaybackOptions{}, &chips);
  std::vector<StereoFrame> buffer(16, StereoFrame{7, 7});
  EXPECT_EQ(player.Render(buffer.data(), 16), 10);
  EXPECT_EQ(buffer[9].left, 1000);
  EXPECT_EQ(buffer[10].left, 0);
  EXPECT_EQ(buffer[15].right, 0);
  EXPECT_EQ(player.Render(buffer.data(), 16), 0);
  EXPECT_EQ(buffer[0].left, 0);
  EXPECT_TRUE(player.finished());
}

TEST(MusicPlayer, S98SyncsBecomeFrames) {
  MusicLog log;
  log.ticks_num = 1000;  // 10/1000 s a sync: 100 a second
  log.ticks_den = 10;
  log.events = {Wait(1), W(8, 0), Wait(233)};
  log.total_ticks = 234;
  RecordingChips chips;
  MusicPlayer player(log, PlaybackOptions{44100, 1, 0}, &chips);
  EXPECT_EQ(player.length(), 234u * 441);
  RenderAll(&player);
  EXPECT_EQ(chips.writes[0].frame, 441u);
}

TEST(MusicPlayer, TheLoopRepeatsItsWritesAndTheFileAdjustsThePassCount) {
  MusicLog log;
  log.events = {W(1, 1), Wait(10), W(2, 2), Wait(20)};
  log.total_ticks = 30;
  log.loop_event = 2;
  log.loop_ticks = 20;
  RecordingChips chips;
  MusicPlayer player(log, PlaybackOptions{44100, 3, 0}, &chips);
  EXPECT_EQ(player.loop_passes(), 3);
  EXPECT_EQ(player.length(), 30u + 2 * 20);
  RenderAll(&player);
  ASSERT_EQ(chips.writes.size(), 4u);  // the intro write, then the loop's write three times
  EXPECT_EQ(chips.writes[1].frame, 10u);
  EXPECT_EQ(chips.writes[2].frame, 30u);
  EXPECT_EQ(chips.writes[3].frame, 50u);
  EXPECT_EQ(player.current_pass(), 3);

  // Modifier 0x20 doubles the requested passes, base 1 takes one off: 2 x 2 - 1.
  log.loop_modifier = 0x20;
  log.loop_base = 1;
  MusicPlayer adjusted(log, PlaybackOptions{44100, 2, 0}, &chips);
  EXPECT_EQ(adjusted.loop_passes(), 3);
  // However the file adjusts it, the loop plays at least once.
  log.loop_base = 100;
  MusicPlayer at_least_once(log, PlaybackOptions{44100, 2, 0}, &chips);
  EXPECT_EQ(at_least_once.loop_passes(), 1);
}

TEST(MusicPlayer, ALoopingSongFadesOutLinearlyAfterItsLastPass) {
  MusicLog log;
  log.events = {Wait(100)};
  log.total_ticks = 100;
  log.loop_event = 0;
  log.loop_ticks = 100;
  RecordingChips chips;
  // One pass, then a fade of 0.01 s = 441 frames, during which the loop goes on.
  MusicPlayer player(log, PlaybackOptions{44100, 1, 0.01}, &chips);
  EXPECT_EQ(player.length(), 100u + 441);
  std::vector<StereoFrame> frames = RenderAll(&player, 64);
  ASSERT_EQ(frames.size(), 541u);
  EXPECT_EQ(frames[99].left, 1000);
  EXPECT_EQ(frames[100].left, 1000);           // the fade's first frame is at full level
  EXPECT_EQ(frames[100 + 220].left, 1000 * 221 / 441);
  EXPECT_EQ(frames[540].left, 1000 * 1 / 441);  // 2: the last frame is nearly silent
  EXPECT_EQ(frames[540].right, -1000 * 1 / 441);

  // A song without a loop ignores the fade.
  MusicLog once;
  once.events = {Wait(100)};
  once.total_ticks = 100;
  MusicPlayer plain(once, PlaybackOptions{44100, 1, 5.0}, &chips);
  EXPECT_EQ(plain.length(), 100u);
}

TEST(MusicPlayer, ALoopWithoutTimeIsPlayedOnceNotForever) {
  MusicLog log;
  log.events = {W(1, 1), Wait(5), W(2, 2)};
  log.total_ticks = 5;
  log.loop_event = 2;
  log.loop_ticks = 0;
  RecordingChips chips;
  MusicPlayer player(log, PlaybackOptions{44100, 2, 3.0}, &chips);
  EXPECT_EQ(player.length(), 5u);
  RenderAll(&player);
  EXPECT_EQ(chips.writes.size(), 1u);
}

TEST(MusicPlayer, ALoopWithMoreWritesThanItsTimeCanCarryIsWrittenOnItsFirstPassOnly) {
  // One sample of loop holding n writes: 100 a sample is 4.41 million a second, 20 is 882000.
  auto loop_of = [](int writes) {
    MusicLog log;
    log.events = {W(1, 1), Wait(1)};
    log.loop_event = 2;
    for (int i = 0; i < writes; ++i) log.events.push_back(W(2, static_cast<uint8_t>(i)));
    log.events.push_back(Wait(1));
    log.total_ticks = 2;
    log.loop_ticks = 1;
    return log;
  };
  const MusicLog dense = loop_of(100);
  RecordingChips chips;
  // Three passes and a fade of one second, during which the loop goes on.
  MusicPlayer player(dense, PlaybackOptions{44100, 3, 1.0}, &chips);
  EXPECT_EQ(player.length(), 2u + 2 + 44100);
  RenderAll(&player);
  EXPECT_EQ(chips.writes.size(), 1u + 100);
  EXPECT_EQ(chips.writes.back().frame, 1u);
  EXPECT_GT(player.current_pass(), 44100);  // the passes still take their time

  const MusicLog sparse = loop_of(20);
  RecordingChips replayed;
  MusicPlayer again(sparse, PlaybackOptions{44100, 3, 0}, &replayed);
  RenderAll(&again);
  EXPECT_EQ(replayed.writes.size(), 1u + 3 * 20);
}

TEST(MusicPlayer, MulDiv64KeepsTheFullProduct) {
  EXPECT_EQ(MulDiv64(1u << 20, 44100, 44100), 1u << 20);
  EXPECT_EQ(MulDiv64(uint64_t{1} << 62, 6, 4), (uint64_t{3} << 61));
  EXPECT_EQ(MulDiv64(UINT64_MAX, UINT64_MAX, UINT64_MAX), UINT64_MAX);
  EXPECT_EQ(MulDiv64(uint64_t{1} << 40, uint64_t{192000} << 32, 7), UINT64_MAX);  // too big
  EXPECT_EQ(MulDiv64(0xFFFFFFFFFFull, 0x100000000ull, 0x1000000ull), 0xFFFFFFFFFFull << 8);
}

TEST(Voices, NamesGroupsAndErrors) {
  VoiceSet v;
  std::string error;
  ASSERT_TRUE(ParseVoiceList("fm3, PSG2B,tone", &v, &error)) << error;
  EXPECT_EQ(v.count(), 5u);
  EXPECT_TRUE(v[kVoiceFm + 2]);
  EXPECT_TRUE(v[kVoicePsg + 4]);
  EXPECT_TRUE(v[kVoiceTone + 2]);
  VoiceSet groups;
  ASSERT_TRUE(ParseVoiceList("fm,psg4", &groups, &error));
  EXPECT_EQ(groups.count(), 11u);
  EXPECT_TRUE(groups[kVoicePsg + 11]);
  VoiceSet all_psg;
  ASSERT_TRUE(ParseVoiceList("psg", &all_psg, &error));
  EXPECT_EQ(all_psg.count(), 12u);
  for (int i = 0; i < kVoiceCount; ++i) {
    VoiceSet one;
    ASSERT_TRUE(ParseVoiceList(VoiceName(i), &one, &error)) << VoiceName(i);
    EXPECT_TRUE(one[static_cast<size_t>(i)]);
  }
  EXPECT_FALSE(ParseVoiceList("fm1,fm9", &v, &error));
  EXPECT_NE(error.find("'fm9'"), std::string::npos);
  EXPECT_FALSE(ParseVoiceList("psg5", &v, &error));

  VoiceSet solo, mute;
  ParseVoiceList("psg1", &solo, &error);
  ParseVoiceList("psg1b", &mute, &error);
  const VoiceSet chosen = SelectVoices(solo, mute);
  EXPECT_EQ(chosen.count(), 2u);
  EXPECT_FALSE(chosen[kVoicePsg + 1]);
  EXPECT_EQ(SelectVoices(VoiceSet(), mute).count(), static_cast<size_t>(kVoiceCount - 1));
  EXPECT_EQ(PsgChannelMask(chosen, 0), 5u);
}

// The peak of one chip set's output over some frames.
int32_t Peak(MusicChips* chips, int32_t frames) {
  std::vector<StereoFrame> buffer(static_cast<size_t>(frames), StereoFrame{0, 0});
  chips->Mix(buffer.data(), frames);
  int32_t peak = 0;
  for (const StereoFrame& f : buffer) peak = std::max({peak, std::abs(f.left), std::abs(f.right)});
  return peak;
}

TEST(DirectChips, ALeftOutPsgChannelAddsNothingAndTheOthersStillSound) {
  MusicLog log;
  log.psg_clock[0] = 1789773;
  const auto play_b = [](MusicChips* chips) {
    chips->Write(kChipPsg1, 2, 0xFE);   // channel B at about 440 Hz
    chips->Write(kChipPsg1, 7, 0x3D);   // tone B only
    chips->Write(kChipPsg1, 9, 0x0F);   // level 15
  };
  VoiceSet without_b = AllVoices();
  without_b.reset(kVoicePsg + 1);
  DirectChips muted(log, 44100, without_b);
  play_b(&muted);
  EXPECT_EQ(Peak(&muted, 2000), 0);
  // Channel B's bit of the channel mask (before the routing, the periods written since the last
  // step and the checksum in the saved state) is clear.
  const std::vector<uint8_t> state = muted.psg(0).Save();
  EXPECT_EQ(state.at(state.size() - 19) & 7u, 5u);

  DirectChips open(log, 44100, AllVoices());
  play_b(&open);
  EXPECT_GT(Peak(&open, 2000), 0);
}

TEST(DirectChips, ALeftOutFmChannelKeepsItsPanBitsCleared) {
  MusicLog log;
  log.opm_clock = 3579545;
  const auto play_ch2 = [](MusicChips* chips) {
    chips->Write(kChipOpm, 0x21, 0xC7);               // channel 2: both sides, algorithm 7
    for (uint8_t op = 0; op < 4; ++op) {
      chips->Write(kChipOpm, 0x41 + 8 * op, 0x01);    // MUL 1
      chips->Write(kChipOpm, 0x61 + 8 * op, 0x00);    // loudest
      chips->Write(kChipOpm, 0x81 + 8 * op, 0x1F);    // fastest attack
    }
    chips->Write(kChipOpm, 0x29, 0x4A);
    chips->Write(kChipOpm, 0x08, 0x79);               // key on, channel 2
  };
  VoiceSet without_fm2 = AllVoices();
  without_fm2.reset(kVoiceFm + 1);
  // 8000 frames: past the converter's latency (about 1100 frames at 44.1 kHz).
  DirectChips muted(log, 44100, without_fm2);
  play_ch2(&muted);
  EXPECT_EQ(Peak(&muted, 8000), 0);

  DirectChips open(log, 44100, AllVoices());
  play_ch2(&open);
  EXPECT_GT(Peak(&open, 8000), 0);
}

// Chips whose every frame tells the chips' own time and the writes so far: a copy (Clone) goes on
// from where the original stood, so that a song played on from a snapshot gives the frames of
// the song played straight through only when the player and the chips are restored together.
class TimeChips : public MusicChips {
 public:
  void Write(uint8_t, uint8_t, uint8_t) override { ++written; }
  void Mix(StereoFrame* frames, int32_t count) override {
    for (int32_t i = 0; i < count; ++i) {
      frames[i].left += static_cast<int32_t>(mixed++);
      frames[i].right += static_cast<int32_t>(written);
    }
  }
  uint64_t lead() const override { return 3; }
  std::unique_ptr<MusicChips> Clone() const override {
    return copyable ? std::make_unique<TimeChips>(*this) : nullptr;
  }
  bool copyable = true;
  uint64_t mixed = 0;
  uint64_t written = 0;
};

// A write every second, for seconds seconds, at 1000 frames a second.
MusicLog WriteEverySecond(int seconds) {
  MusicLog log;
  log.ticks_num = 1000;
  for (int i = 0; i < seconds; ++i) {
    log.events.push_back(W(static_cast<uint8_t>(i), static_cast<uint8_t>(i / 256)));
    log.events.push_back(Wait(1000));
  }
  log.total_ticks = 1000u * static_cast<uint64_t>(seconds);
  return log;
}

std::vector<StereoFrame> Frames(SeekableSong* song, int32_t count) {
  std::vector<StereoFrame> frames(static_cast<size_t>(count));
  song->Render(frames.data(), count);
  return frames;
}

bool Same(const std::vector<StereoFrame>& a, const std::vector<StereoFrame>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](StereoFrame x, StereoFrame y) {
    return x.left == y.left && x.right == y.right;
  });
}

// Moves the song to frame; the chips made on the way.
void MoveTo(SeekableSong* song, uint64_t frame) {
  std::string error;
  while (song->MoveToward(frame, 700, &error) == SeekableSong::Step::kOnTheWay) {}
  ASSERT_EQ(song->player().position(), frame);
}

TEST(BoardRetune, WritesMoveToTheBoardsClocksAndPassAsTheyAreAtThem) {
  struct Put {
    uint8_t chip, reg, data;
    bool operator==(const Put&) const = default;
  };
  std::vector<Put> put;
  const auto writes = [&put](const MusicLog& log, std::initializer_list<Put> in) {
    put.clear();
    BoardRetune retune(log, [&put](uint8_t c, uint8_t r, uint8_t d) { put.push_back({c, r, d}); });
    for (const Put& w : in) retune.Write(w.chip, w.reg, w.data);
    return put;
  };
  const std::initializer_list<Put> song = {
      {kChipOpm, 0x2A, 0x4A}, {kChipOpm, 0x32, 0x01}, {kChipOpm, 0x28, 0x40},
      {kChipOpm, 0x18, 0x80}, {kChipPsg1, 0, 0xE8},   {kChipPsg1, 1, 0x23},
      {kChipPsg1, 6, 0x3F},   {kChipPsg1, 12, 0},     {kChipPsg1, 8, 15}};
  // A log made by the board plays its writes as they are.
  MusicLog board;
  board.opm_clock = 3993600;
  board.psg_clock[0] = 1996800;
  EXPECT_EQ(writes(board, song), std::vector<Put>(song));
  // At 3,579,545 Hz a note moves down 121/64 semitone: key code 0x4A (A4) becomes block 4,
  // note 6 and fraction 7 (0x48, the fraction's unused bits kept); 0x40 crosses into block 3
  // (note 10: code 13). The LFO takes the nearest rate: 29 x 2^7 for 16 x 2^8 / 1.1157.
  // Periods scale by 1,996,800 / 1,789,772, at each of their bytes: 232 (the low byte alone)
  // becomes 259, 1000 becomes 1116 (the high byte's unused bits kept), noise period 31 stays
  // at the top, envelope period 0 counts as 1.
  MusicLog file;
  file.opm_clock = 3579545;
  file.psg_clock[0] = 1789772;
  const std::vector<Put> moved = {
      {kChipOpm, 0x2A, 0x48},  {kChipOpm, 0x32, 0x1C},  {kChipOpm, 0x2A, 0x48},
      {kChipOpm, 0x32, 0x1D},  {kChipOpm, 0x28, 0x3D},  {kChipOpm, 0x30, 0x1C},
      {kChipOpm, 0x18, 0x7D},  {kChipPsg1, 0, 0x03},    {kChipPsg1, 1, 0x01},
      {kChipPsg1, 0, 0x5C},    {kChipPsg1, 1, 0x24},    {kChipPsg1, 6, 0x3F},
      {kChipPsg1, 11, 0x01},   {kChipPsg1, 12, 0x00},   {kChipPsg1, 8, 15}};
  EXPECT_EQ(writes(file, song), moved);
}

TEST(SeekableSong, BackwardSeeksPlayOnFromTheLatestSnapshotAsTheSongPlayedStraight) {
  const MusicLog log = WriteEverySecond(3000);
  for (bool copyable : {true, false}) {
    int made = 0;
    SeekableSong song(log, PlaybackOptions{1000, 0, 0}, [&made, copyable](std::string*) {
      ++made;
      auto chips = std::make_unique<TimeChips>();
      chips->copyable = copyable;
      return chips;
    });
    ASSERT_TRUE(song.Begin(nullptr));
    MoveTo(&song, 95'500);
    const std::vector<StereoFrame> straight = Frames(&song, 2000);
    // Back to 95.5 s (from the snapshot at 90 s), and to 31.2 s (from 30 s): the same frames as
    // the song played straight through. Chips that cannot be copied start over on fresh ones.
    MoveTo(&song, 95'500);
    EXPECT_TRUE(Same(Frames(&song, 2000), straight));
    MoveTo(&song, 31'200);
    const std::vector<StereoFrame> earlier = Frames(&song, 10);
    EXPECT_EQ(earlier[0].left, 31'200 + 3);    // the chips' time runs lead() ahead
    EXPECT_EQ(earlier[0].right, 32);           // the writes of seconds 0 to 31.203
    EXPECT_EQ(made, copyable ? 1 : 3);
    // Before the first mark the song starts over on fresh chips.
    MoveTo(&song, 4'000);
    EXPECT_EQ(made, copyable ? 2 : 4);
    EXPECT_EQ(Frames(&song, 1)[0].left, 4'000 + 3);
  }
}

TEST(SeekableSong, TheSnapshotsStayFewHoweverLongTheSong) {
  const MusicLog log = WriteEverySecond(3000);
  SeekableSong song(log, PlaybackOptions{1000, 0, 0},
                    [](std::string*) { return std::make_unique<TimeChips>(); });
  ASSERT_TRUE(song.Begin(nullptr));
  MoveTo(&song, 2'900'000);
  EXPECT_LE(song.snapshot_count(), 32u);
  EXPECT_GE(song.snapshot_count(), 16u);
  MoveTo(&song, 1'234'567);
  EXPECT_EQ(Frames(&song, 1)[0].left, 1'234'567 + 3);
}

// A PSG song on chips mode's chips: tones that change and an envelope, for seconds seconds.
MusicLog PsgSong(int seconds) {
  MusicLog log;
  log.psg_clock[0] = 1789773;
  log.events = {W(7, 0x38, kChipPsg1), W(8, 0x10, kChipPsg1), W(9, 12, kChipPsg1),
                W(11, 0x40, kChipPsg1), W(13, 0x0E, kChipPsg1)};
  for (int i = 0; i < 4 * seconds; ++i) {
    log.events.push_back(W(0, static_cast<uint8_t>(100 + 37 * i), kChipPsg1));
    log.events.push_back(W(2, static_cast<uint8_t>(200 - 13 * i), kChipPsg1));
    log.events.push_back(Wait(11025));
  }
  log.total_ticks = 44100u * static_cast<uint64_t>(seconds);
  return log;
}

TEST(DirectChips, ACopyPlaysOnExactlyAsTheOriginal) {
  const MusicLog log = PsgSong(25);
  for (bool resample : {false, true}) {
    ChipsOptions options;
    options.resample = resample;
    SeekableSong song(log, PlaybackOptions{44100, 0, 0}, [&](std::string*) {
      return std::make_unique<DirectChips>(log, 44100, AllVoices(), options);
    });
    ASSERT_TRUE(song.Begin(nullptr));
    MoveTo(&song, 21 * 44100);
    const std::vector<StereoFrame> straight = Frames(&song, 8192);
    MoveTo(&song, 21 * 44100);   // from the snapshot at 20 s
    EXPECT_TRUE(Same(Frames(&song, 8192), straight)) << resample;
  }

  // The FM chip is copied whole: at the output rate the copy plays on exactly as the original.
  MusicLog fm;
  fm.opm_clock = 3579545;
  ChipsOptions direct;
  direct.resample = false;
  DirectChips chips(fm, 44100, AllVoices(), direct);
  for (auto [reg, data] : {std::pair{0x18, 0xC3}, {0x19, 0x85}, {0x19, 0x22}, {0x0F, 0x9A},
                           {0x20, 0xC7}, {0x23, 0x7F}, {0x28, 0x4A}, {0x2B, 0x31}, {0x78, 0x00},
                           {0x98, 0x1F}, {0x08, 0x78}}) {
    chips.Write(kChipOpm, static_cast<uint8_t>(reg), static_cast<uint8_t>(data));
  }
  std::vector<StereoFrame> frames(500);
  chips.Mix(frames.data(), 500);
  const std::unique_ptr<MusicChips> copy = chips.Clone();
  std::vector<StereoFrame> original(4096), copied(4096);
  chips.Mix(original.data(), 4096);
  copy->Mix(copied.data(), 4096);
  EXPECT_TRUE(Same(original, copied));
  EXPECT_GT(Peak(&chips, 2000), 0);
  EXPECT_GT(Peak(copy.get(), 2000), 0);
}

TEST(LiveSong, SeeksAskedMeanwhileMergeIntoTheLastAndStopEndsAnEndlessOne) {
  MusicLog log = PsgSong(60);
  log.loop_event = 5;
  log.loop_ticks = log.total_ticks;
  MusicRunOptions options;
  options.playback.loops = PlaybackOptions::kLoopForever;
  MusicChipMaker maker;
  std::string error;
  ASSERT_TRUE(maker.Open(options, &error)) << error;
  LiveSong song(log, options, maker);
  ASSERT_TRUE(song.Begin(&error)) << error;
  for (uint64_t seconds : {50, 40, 45}) song.SeekTo(seconds * 44100);
  EXPECT_EQ(song.destination(), 45u * 44100);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (song.seeking() && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(song.position(), 45u * 44100);
  // A target ten days in: the worker is told to stop between two of its steps.
  song.SeekTo(uint64_t{44100} * 864000);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto stop = std::chrono::steady_clock::now();
  song.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - stop, std::chrono::milliseconds(100));
  EXPECT_TRUE(song.seeking());
}

// Channel A's output alone over one frame, tone and noise off: -amp on the board's curve.
int32_t ChannelA(Psg psg) {
  psg.SetRegister(9, 0);
  psg.SetRegister(10, 0);
  psg.SetRouting(3);
  StereoFrame frame{0, 0};
  psg.Mix(&frame, 1);
  return -frame.left;
}

TEST(Psg, ChannelMaskHoldsAChannelAtZeroAndGivesItBack) {
  Psg psg;
  psg.SetClock(894886, 44100);
  psg.SetRegister(8, 15);
  EXPECT_GT(ChannelA(psg), 0);
  psg.SetChannelMask(6);
  EXPECT_EQ(ChannelA(psg), 0);
  psg.SetRegister(8, 14);  // a write while masked stays silent
  EXPECT_EQ(ChannelA(psg), 0);
  psg.SetChannelMask(7);
  // Back where a PSG that was never masked stands after the same write.
  Psg open;
  open.SetClock(894886, 44100);
  open.SetRegister(8, 14);
  EXPECT_GT(ChannelA(psg), 0);
  EXPECT_EQ(ChannelA(psg), ChannelA(open));
  EXPECT_EQ(psg.Save(), open.Save()) << "the mask is 63 again";
}

}  // namespace

TEST(MusicInfo, ClockTextForAnyLength) {
  EXPECT_EQ(FormatClock(75.5), "1:15.50");
  EXPECT_EQ(FormatClock(-3), "0:00.00");
  EXPECT_EQ(FormatClock(std::nan("")), "0:00.00");
  // An S98 timer of 2^32 seconds a sync: no clock face, and no overflow on the way.
  EXPECT_EQ(FormatClock(5000), "1:23:20");
  EXPECT_EQ(FormatClock(3 * 86400 + 61), "3 days 0:01:01");
  EXPECT_EQ(FormatClock(9.38e18), "about 2.97e+11 years");
  MusicLog log;
  log.ticks_num = 1;
  log.ticks_den = 0xFFFFFFFF;
  log.total_ticks = 0xFFFFFFFFFull;
  EXPECT_NE(FormatMusicInfo(log).find("e+"), std::string::npos);
}
