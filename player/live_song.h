// LiveSong: the song as `vorla play` plays it, between three threads. The audio thread renders
// it (Fill); the key thread asks for it to go elsewhere (SeekTo) and reads where it is; a worker
// thread of its own moves it there, a bounded step at a time, so that neither the keys nor the
// sound ever wait for a seek, however far (a far start is such a seek too).
//
// While a seek is under way the sound is silence. Seeks asked for meanwhile merge: the newest
// target replaces the older one, the worker going on from where it stands when the target is
// ahead, and back (to a snapshot, or the beginning: SeekableSong) only when it is behind. Stop
// ends the worker within one step. The board (--board) has no snapshots: every seek back renders
// it again from the beginning, in the worker all the same, so that it too merges and stops.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "player/music_render.h"
#include "player/seekable_song.h"

class LiveSong {
 public:
  LiveSong(const MusicLog& log, const MusicRunOptions& options, const MusicChipMaker& maker);
  ~LiveSong();
  LiveSong(const LiveSong&) = delete;
  LiveSong& operator=(const LiveSong&) = delete;

  // The chips and the worker; the seek to the start under way when the start is past 0.
  bool Begin(std::string* error);
  // Runs on the audio thread: the next frames as 16-bit stereo, scaled by the volume; silence
  // while paused or seeking.
  void Fill(int16_t* samples, int32_t frames);
  // Asks for the song to go to frame; false (and nothing asked) when that is past its end.
  bool SeekTo(uint64_t frame);
  // Ends the worker, within one step of its work.
  void Stop();
  // The chips' work ended: what they could not write, or empty. After Stop.
  std::string Finish();

  // Where the song stands, or the target of the seek under way.
  uint64_t destination() const;
  bool seeking() const { return seeking_.load(); }
  // A seek could not make its chips: why (then the song cannot go on).
  bool failed() const { return failed_.load(); }
  std::string failure() const;

  // The song's fixed facts: length, loop passes, forever.
  const MusicPlayer& facts() const { return facts_; }
  uint64_t position() const { return position_.load(); }
  int pass() const { return pass_.load(); }
  // The song played to its end (and no seek is taking it elsewhere).
  bool done() const { return done_.load() && !seeking_.load(); }
  int calls_after_end() const { return calls_after_end_.load(); }

  void TogglePause() { paused_.store(!paused_.load()); }
  bool paused() const { return paused_.load(); }
  // Volume in steps of kVolumeStepDb, clamped.
  void Louder(int steps);
  double volume_db() const;

 private:
  void Work();
  void Publish();

  SeekableSong song_;
  const MusicPlayer facts_;
  std::mutex song_mutex_;     // song_: the audio thread or the worker
  std::vector<StereoFrame> scratch_ = std::vector<StereoFrame>(8192);

  mutable std::mutex request_mutex_;  // the fields below up to failure_
  std::condition_variable request_changed_;
  uint64_t target_ = 0;
  bool stop_ = false;
  std::string failure_;
  std::atomic<bool> seeking_{false};  // target_ is not reached yet
  std::atomic<bool> failed_{false};
  std::thread worker_;

  std::atomic<uint64_t> position_{0};
  std::atomic<int> pass_{0};
  std::atomic<bool> done_{false};
  std::atomic<bool> paused_{false};
  std::atomic<int> calls_after_end_{0};
  std::atomic<double> gain_{1.0};
  std::atomic<int> volume_step_{0};
};
