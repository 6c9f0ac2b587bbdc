// The register log the board keeps when it is asked to: every FM data write (register and value,
// as latched) and every PSG data write (which PSG, register, value), each at the time the host's
// mixer has reached when it arrives, in an S98 version 3 file (the default) or a VGM 1.71 file
// (a name ending in ".vgm").
//
// Time. The device learns time only from Mix: the frames mixed so far at the rate in force. The
// log keeps it as whole ticks plus a fraction part/rate of a tick, so that no time is lost
// between writes; a write lands on the first tick at or after its time, which plays it back on
// its own frame. S98: the timer is 1/R s with R the rate of the first frame or write, so one tick
// is one frame at that rate. VGM: 44100 ticks a second. A later rate change carries the fraction
// of a tick into the new rate, rounded to 1/R of a tick (R the new rate): no drift.
//
// A board reset is logged as the register writes that reset the chips: PSG registers 0-13 to 0
// and 7, 14, 15 to 0xFF (all of a PSG's reset); every FM register to 0, a key-off of all eight
// channels and 0x80 to 0x19. What no FM register write restores (envelope levels and phases of
// the channels, the timers, the noise generator's shift register) is not reset on playback.
//
// Files. A log named as a file is written beside it under a temporary name (output_file.h) and
// put in place by Close, so a log that fails never leaves a torn file there; a second log to the
// same name while one is written is refused (a lock beside it, "NAME.lock"). A folder gets a new
// time-stamped file, created exclusively (never an existing name, never through a link) and
// written in place. The file is flushed whenever a second of music (in ticks) has passed since
// the last flush or a few hundred kilobytes are pending, and completed (end command, tag, final
// header) by Close; the header on disk is rewritten at each flush, so that a log cut short by a
// crash still reads up to its last flush (under its temporary name, for a log named as a file).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "module/board_clocks.h"
#include "output/output_file.h"
#include "reglog/log_writer.h"

class S98Writer;

class BoardLog {
 public:
  // The PSG master clock that sounds at the board's pitch: the board's PSGs count at half of it.
  static constexpr uint32_t kPsgMasterClock = 2 * kBoardPsgClock;

  // Creates the log named by `target`: a file (".vgm": VGM, anything else S98), or a folder
  // (an existing one, or a name ending in a separator) that gets a new time-stamped S98 file.
  // `rate` is the output rate in force. Null with the reason in *error when no file can be made.
  // `watch` (either part may be empty) hears of the names the log makes only while it is
  // written (its temporary file, its lock): each when it is made (true) and when it is gone
  // (false); and, where `complete` is given, receives the complete log at its temporary name to
  // put in place (the host does, when its run succeeds) instead of the log putting itself there.
  struct TemporaryWatch {
    std::function<void(const std::string& path, bool held)> held;
    std::function<void(const std::string& temporary, const std::string& place)> complete;
  };
  static std::unique_ptr<BoardLog> Open(const std::string& target, uint32_t rate,
                                        TemporaryWatch watch, std::string* error);
  ~BoardLog();
  BoardLog(const BoardLog&) = delete;
  BoardLog& operator=(const BoardLog&) = delete;

  void Advance(int32_t frames);
  void SetRate(uint32_t rate);
  void FmWrite(uint32_t latch, uint32_t value);
  void PsgWrite(int psg, uint32_t latch, uint32_t value);
  void BoardReset();
  // Completes and closes the file. Returns what the user should hear of it (writes that had
  // no place in the format, a file that could not be written: then failed()), or empty.
  std::string Close();
  bool failed() const { return !failure_.empty(); }

  const std::string& path() const { return path_; }
  // The board counts its FM timers: the tag says that CSM key-ons are not in the log.
  void NoteCountingTimers() { counting_timers_ = true; }

 private:
  BoardLog(std::string path, bool vgm, uint32_t rate);
  bool Create(const std::string& target, bool folder, std::string* error);
  void Start();
  void Record(uint8_t chip, uint8_t reg, uint8_t data);
  void CatchUp();   // the waits up to the present
  bool Flush();
  void Fail(const char* what);

  OutputFile file_;
  bool open_ = false;
  TemporaryWatch watch_;
  std::string path_;
  std::unique_ptr<RegisterLogWriter> writer_;
  S98Writer* s98_ = nullptr;   // the writer, when it is S98 (its timer is set at the start)
  bool started_ = false;
  uint32_t first_rate_ = 0;
  uint32_t rate_;
  uint64_t tick_rate_ = 0;     // ticks a second
  uint64_t whole_ = 0;         // ticks elapsed
  uint64_t part_ = 0;          // and part_ / rate_ of a tick
  uint64_t written_ = 0;       // ticks already in the stream
  uint64_t flushed_at_ = 0;    // tick of the last flush
  uint64_t frames_ = 0;
  uint64_t rate_changes_ = 0;
  uint64_t dropped_ = 0;       // writes the format has no place for
  bool counting_timers_ = false;
  std::string failure_;        // the first write failure; the log stops there
};
