// The FM chip's saved state: little-endian fields of fixed width, written and read one by one,
// so that the bytes are the same on every platform.
//
//   offset  0  "OPMS"       magic
//           4  u32          version (kFmStateVersion)
//           8  u32          size of the whole state in bytes, header included
//          12  u32          FNV-1a (32-bit) of the bytes from offset 16 to the end
//          16  ...          the chip's fields (OpmChip::SaveState)
//
// The reader checks every field against the range the chip can hold; one field out of range,
// or a read past the end, fails the whole read (the failure sticks, so a loader reads on and
// asks once at the end).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr uint32_t kFmStateVersion = 1;
inline constexpr size_t kFmStateHeader = 16;

class FmStateWriter {
 public:
  FmStateWriter();
  void U8(uint32_t value) { bytes_.push_back(static_cast<uint8_t>(value)); }
  void Bool(bool value) { U8(value ? 1 : 0); }
  void U32(uint32_t value);
  void I32(int32_t value) { U32(static_cast<uint32_t>(value)); }
  void I64(int64_t value);
  // The header filled in: size and checksum of what was written.
  std::vector<uint8_t> Finish();

 private:
  std::vector<uint8_t> bytes_;
};

class FmStateReader {
 public:
  // Fails at once unless the header is this version's with a matching size and checksum.
  FmStateReader(const uint8_t* data, size_t size);
  // Each read gives the value, or fails the reader (and gives lo) when it lies outside lo..hi.
  uint32_t U8(uint32_t lo = 0, uint32_t hi = 0xFF);
  bool Bool() { return U8(0, 1) != 0; }
  uint32_t U32(uint32_t lo = 0, uint32_t hi = 0xFFFFFFFFu);
  int32_t I32(int32_t lo, int32_t hi);
  int64_t I64(int64_t lo, int64_t hi);
  // The value when it is one of the n given ones; fails the reader otherwise.
  uint32_t OneOf(uint32_t value, const uint8_t* allowed, int n);
  void Fail() { ok_ = false; }
  // Every read succeeded and the data ended with the last one.
  bool Done() const { return ok_ && pos_ == size_; }

 private:
  bool Take(size_t n);

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};
