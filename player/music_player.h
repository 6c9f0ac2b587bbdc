// Plays a MusicLog into a set of chips: applies each register write at the output frame its
// time falls on, repeats the looped part, fades out at the end, and renders the frames between.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "vyx/stereo_frame.h"
#include "music/music_log.h"

// Where a log's writes go and where its sound comes from: the chip classes themselves, or the
// board through the module file.
class MusicChips {
 public:
  virtual ~MusicChips() = default;
  virtual void Write(uint8_t chip, uint8_t reg, uint8_t data) = 0;
  // Adds count frames of output into frames.
  virtual void Mix(StereoFrame* frames, int32_t count) = 0;
  // Output frames between a write and the first frame that sounds it (a converter's latency):
  // the player applies its writes this far ahead of the frames it hands out.
  virtual uint64_t lead() const { return 0; }
  // A copy of the chips as they stand, to play on from later (a seek's snapshot); null when they
  // cannot be copied (a board behind a module file).
  virtual std::unique_ptr<MusicChips> Clone() const { return nullptr; }
  // Ends the chips' work; what they were asked to write and could not (the board's register
  // log), or empty.
  virtual std::string Finish() { return std::string(); }
};

struct PlaybackOptions {
  static constexpr int kLoopForever = -1;
  uint32_t rate = 44100;      // output frames per second
  // Passes of the looped part, before the file's own adjustment; 0: the song's data once, no
  // repeat and no fade; kLoopForever: the loop repeats until the song is cut (or stopped).
  int loops = 2;
  double fade_seconds = 0;    // a looping song goes on this long past its last pass, fading out
  double max_seconds = 0;     // > 0: the song is cut after this much (counted from the start)
  double start_seconds = 0;   // the song is heard from this far in
  double speed = 1;           // the writes come this much faster (0.25 to 4); the pitch stays
};

class MusicPlayer {
 public:
  MusicPlayer(const MusicLog& log, const PlaybackOptions& options, MusicChips* chips);
  // other at the point of the song it stands at, playing on chips (a copy of other's chips).
  MusicPlayer(const MusicPlayer& other, MusicChips* chips);

  // Zeroes frames[0, count), renders the next frames of the song into them and returns how many
  // belong to the song: count until the end, fewer at the end, 0 after it.
  int32_t Render(StereoFrame* frames, int32_t count);

  // Frames of the song's timeline rendered so far (those before the start included).
  uint64_t position() const { return position_; }
  // The song's last frame on its own timeline, fade included (and cut to max_seconds past the
  // start); UINT64_MAX when it is longer than 64 bits of frames can tell, or repeats forever.
  uint64_t length() const { return length_; }
  // The frame the song is heard from (start_seconds), at most length().
  uint64_t start() const { return start_; }
  // The loop repeats until the song is cut or stopped.
  bool forever() const { return forever_; }
  // Runs the song on to frame (at most length()), the chips rendering and the frames going
  // nowhere; a frame at or before position() leaves the song where it is. The first Render
  // skips to start() itself, unless a SkipTo came before it.
  void SkipTo(uint64_t frame);
  bool finished() const { return position_ >= length_; }
  // Passes of the looped part the song plays (0 when the log does not loop).
  int loop_passes() const { return loop_passes_; }
  // The pass of the looped part being played (1 = the first), 0 before the loop point.
  int current_pass() const { return current_pass_; }
  uint64_t fade_frames() const { return fade_frames_; }

  // The output frame on which a tick of the log falls (rounded down).
  uint64_t FrameOf(uint64_t tick) const;

 private:
  void Step();
  // The loop's passes, the fade and the cut, from the options.
  void SetEnd(const PlaybackOptions& options, uint64_t song_ticks);
  // Runs the chips through the lead_ frames of their converters' latency, once.
  void RunLead();
  // Renders count frames into frames, applying each write when the chips' own time reaches it.
  void Run(StereoFrame* frames, int32_t count);
  void Fade(StereoFrame* frames, int32_t count) const;

  const MusicLog& log_;
  MusicChips* chips_;
  uint64_t frame_mul_;   // FrameOf = tick * frame_mul_ / frame_div_
  uint64_t frame_div_;
  bool looping_ = false;
  bool forever_ = false;
  // The looped part holds more writes than its time could ever carry: it is written on its first
  // pass only, and each later pass is its time alone (one step, whatever the part holds).
  bool dense_loop_ = false;
  int loop_passes_ = 0;
  uint64_t fade_start_ = 0;
  uint64_t fade_frames_ = 0;
  uint64_t fade_end_ = 0;
  uint64_t length_ = 0;
  uint64_t start_ = 0;
  bool begun_ = false;     // rendered or skipped: start_ is behind us

  size_t index_ = 0;       // next event
  uint64_t tick_ = 0;      // time of the next event, counted across loop passes
  bool events_done_ = false;
  int current_pass_ = 0;
  uint64_t position_ = 0;
  uint64_t lead_ = 0;      // the chips' time runs this many frames ahead of position_
  uint64_t chip_time_ = 0; // frames the chips have rendered
};

// floor(a * b / c) without overflow of the product; UINT64_MAX when the result does not fit.
uint64_t MulDiv64(uint64_t a, uint64_t b, uint64_t c);
