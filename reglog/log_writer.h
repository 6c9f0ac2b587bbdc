// Writers of timed register logs: waits and register writes in, the bytes of a chip-music file
// out. The bytes come in three parts: the header (rebuilt from the counts so far whenever it is
// asked for, always the same size), the command stream (taken piece by piece as it grows) and the
// end (the end command and the tag, once). A file is the header followed by everything taken.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/music_chip.h"

// The text a log carries about itself (ASCII or UTF-8).
struct LogTag {
  std::string title;
  std::string system;
  std::string dumper;   // who made the log
  std::string notes;
};

class RegisterLogWriter {
 public:
  virtual ~RegisterLogWriter() = default;

  // Appends a wait of `ticks`.
  virtual void Wait(uint64_t ticks) = 0;
  // Appends a write; false (and nothing appended) when the format has no place for the chip.
  virtual bool Write(uint8_t chip, uint8_t reg, uint8_t data) = 0;
  // Appends the end command and the tag; nothing may be appended afterwards.
  virtual void Finish(const LogTag& tag) = 0;
  // The header as it stands, for the stream appended so far.
  virtual std::vector<uint8_t> Header() const = 0;

  // Moves the bytes appended since the last call to the end of *out.
  void TakeStream(std::vector<uint8_t>* out);
  bool has_pending() const { return !pending_.empty(); }
  size_t pending_size() const { return pending_.size(); }

 protected:
  void Put(uint8_t byte) { pending_.push_back(byte); }
  void Put32(uint32_t value);
  // Bytes of the stream taken or pending, the end included once it is there.
  uint64_t stream_size() const { return taken_ + pending_.size(); }

  uint64_t total_ticks_ = 0;   // the sum of the waits so far

 private:
  std::vector<uint8_t> pending_;
  uint64_t taken_ = 0;
};

// A whole file in memory: the header, then the stream.
std::vector<uint8_t> WholeLogFile(RegisterLogWriter& writer);
