// The VGM reader's parser, shared by its two files: vgm_reader.cpp reads the header, the extra
// header and the tag; vgm_commands.cpp walks the commands. Not for use outside the reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "music/music_bytes.h"
#include "music/music_log.h"
#include "music/music_log_builder.h"

namespace vgm {

constexpr uint32_t kFirstVersion = 0x100;
constexpr uint32_t kLastVersion = 0x172;
constexpr size_t kMinHeader = 0x40;
constexpr size_t kFullHeader = 0x100;
constexpr uint32_t kClockMask = 0x3FFFFFFF;
constexpr uint32_t kDualBit = 0x40000000;
constexpr uint32_t kVariantBit = 0x80000000;
constexpr uint8_t kChipIdYm2151 = 3;    // chip numbers of the extra header's clock list:
constexpr uint8_t kChipIdAy8910 = 18;   // the order of the clock fields in the header

class VgmParser {
 public:
  VgmParser(const std::vector<uint8_t>& bytes, const std::string& name, MusicLog* log)
      : in_(bytes), name_(name), log_(log), build_(log, "0x1C", "loop offset") {}

  bool Parse(std::string* error);

 private:
  bool Fail(std::string* error, const std::string& message) {
    *error = name_ + ": " + message;
    return false;
  }
  void Warn(const std::string& message) { log_->warnings.push_back(message); }
  // A 32-bit header field: 0 when the version predates it or it lies past the header's end.
  uint32_t Field(size_t offset, uint32_t since) const {
    if (version_ < since || offset + 4 > header_end_) return 0;
    return in_.U32(offset);
  }
  int ByteField(size_t offset, uint32_t since, int absent) const {
    if (version_ < since || offset + 1 > header_end_) return absent;
    return in_.U8(offset);
  }
  // The header, field by field.
  bool ReadVersion(std::string* error);
  bool FindData(uint64_t* data_start, std::string* error);
  void ReadExtraHeader(size_t start);
  // Calls read(entry) for each whole entry of a list of the extra header: a count byte at list,
  // then entries of entry_size bytes; warns (naming the list "what") where the file ends first.
  template <class Read>
  void ForEachListEntry(uint64_t list, size_t field, uint64_t entry_size, const char* what,
                        Read read);
  void ReadChipClocks(uint64_t list, size_t field);
  void ReadChipVolumes(uint64_t list, size_t field);
  void ReadOpmClock();
  void ReadAyClock();
  void ReadOtherClocks();
  void ReadTimes();
  void FindDataEnd(uint64_t data_start, uint32_t eof_field, uint64_t* end, uint64_t* tag_start);
  void ReadLoopOffset(uint64_t data_start, uint64_t end);
  void CheckTimes();
  void ReadTag(size_t start);
  // The commands.
  void Walk(size_t start, size_t end);
  bool SkipDataBlock(size_t* pos, size_t end);
  void Play(uint8_t op, uint8_t a, uint8_t b);
  void Skip(const std::string& kind) { ++log_->skipped[kind]; }

  ByteView in_;
  const std::string& name_;
  MusicLog* log_;
  uint32_t version_ = 0;
  size_t header_end_ = kMinHeader;
  uint32_t second_ay_clock_ = 0;
  uint32_t header_total_ = 0;         // samples in all, as the header gives them
  uint32_t header_loop_samples_ = 0;  // samples of the loop, as the header gives them
  MusicLogBuilder build_;
  bool opm_dual_ = false;
  bool ay_dual_ = false;
};

}  // namespace vgm
