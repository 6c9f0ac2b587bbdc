// SeekableSong: a song on its chips that can be moved to any frame in bounded steps, so that the
// thread moving it can stop between two steps (a newer target, the player quitting).
//
// Going back it plays on from the latest snapshot at or before the target: a copy of the player
// and of its chips (MusicChips::Clone) taken as the song passes a mark, one every ten seconds of
// song time at first, the marks spread out so that the copies stay few however long the song.
// Before the first mark, or on chips that cannot be copied (the board behind the module file,
// which has no way to hand its state over), it starts over from the beginning on fresh chips.
// Played straight on, without a seek, it renders what MusicPlayer renders.
//
// Not thread-safe: LiveSong keeps its threads apart.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "music/music_log.h"
#include "player/music_player.h"

class SeekableSong {
 public:
  // Makes a fresh set of chips; null with a reason in *error when it cannot.
  using MakeChips = std::function<std::unique_ptr<MusicChips>(std::string* error)>;

  SeekableSong(const MusicLog& log, const PlaybackOptions& playback, MakeChips make);
  ~SeekableSong();
  SeekableSong(const SeekableSong&) = delete;
  SeekableSong& operator=(const SeekableSong&) = delete;

  // The first chips and the player; false with a reason in *error.
  bool Begin(std::string* error);
  // The next frames (MusicPlayer::Render), with a snapshot when one is due.
  int32_t Render(StereoFrame* frames, int32_t count);

  enum class Step { kThere, kOnTheWay, kFailed };
  // Moves toward frame (at most the song's length), rendering at most budget frames: first back
  // to a snapshot or the beginning when frame is behind the song. kThere once it stands at
  // frame; kFailed, with a reason in *error, when fresh chips could not be had.
  Step MoveToward(uint64_t frame, uint64_t budget, std::string* error);

  const MusicPlayer& player() const { return *player_; }
  size_t snapshot_count() const { return snapshots_.size(); }
  // Ends the chips' work: the first thing a set of chips could not write (a board's register
  // log), or empty.
  std::string Finish();

 private:
  struct Snapshot {
    std::unique_ptr<MusicChips> chips;
    std::unique_ptr<MusicPlayer> player;  // playing on chips
  };

  void TakeSnapshotIfDue();
  // The player and chips at the latest snapshot at or before frame, or at the beginning.
  bool GoBack(uint64_t frame, std::string* error);
  // Keeps every other snapshot and marks half as often.
  void Thin();

  const MusicLog& log_;
  PlaybackOptions playback_;
  MakeChips make_;
  std::unique_ptr<MusicChips> chips_;
  std::unique_ptr<MusicPlayer> player_;
  std::map<uint64_t, Snapshot> snapshots_;  // by position
  uint64_t interval_;                       // frames between marks
  bool copyable_ = true;                    // the chips give copies
  std::string failure_;                     // the first Finish that failed
};
