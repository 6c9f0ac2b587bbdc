// The event list of a MusicLog, built as a reader walks a file's commands: waits next to each
// other become one, writes are counted per chip, the loop point is found among the commands and
// the loop's length is taken from the waits after it. Both readers build through it; their
// messages name the loop point as each format's header does.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "music/music_log.h"

class MusicLogBuilder {
 public:
  // The waits of a log add up to at most this many ticks (years of music at any timer): a log
  // that waits longer is cut there, so that no sum of its waits can wrap.
  static constexpr uint64_t kMaxTicks = uint64_t{1} << 48;

  // `loop_field` is the header offset that holds the loop point ("0x1C"), `loop_name` what the
  // format calls it ("loop offset").
  MusicLogBuilder(MusicLog* log, std::string loop_field, std::string loop_name)
      : log_(log), loop_field_(std::move(loop_field)), loop_name_(std::move(loop_name)) {}

  // The file offset of the loop point; 0 = no loop.
  void SetLoopOffset(uint64_t offset) { loop_offset_ = offset; }
  // Before each command, with its file offset: the loop starts here when this is the loop
  // point; a loop point inside the previous command is dropped with a warning.
  void AtCommand(uint64_t pos);
  void AddWait(uint64_t ticks);
  void AddWrite(uint8_t chip, uint8_t reg, uint8_t data);
  // After the last command: a loop point the walk never reached is dropped with a warning.
  void EndWalk();

  uint64_t ticks() const { return ticks_; }
  bool loop_found() const { return loop_found_; }
  // The song plays once, without its loop.
  void DropLoop();
  // Sets the log's length and loop. A loop that holds no waits would repeat without end: it is
  // played once, with a warning.
  void Finish();

 private:
  void Warn(const std::string& message) { log_->warnings.push_back(message); }

  MusicLog* log_;
  std::string loop_field_;
  std::string loop_name_;
  uint64_t loop_offset_ = 0;
  uint64_t last_command_ = 0;
  uint64_t ticks_ = 0;
  bool loop_found_ = false;
  uint64_t loop_tick_ = 0;
  bool cut_ = false;
};
