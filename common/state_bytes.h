// The byte form of a chip core's saved state: the same bytes on every platform, refused whole
// when damaged or made by something else.
//
//   offset 0   magic             4 bytes, the core's own (StateMagic("VPSG"))
//   offset 4   version           16-bit
//   offset 6   0                 16-bit, reserved
//   offset 8   payload size      32-bit, in bytes
//   offset 12  payload           the core's fields in a fixed order, each a fixed width
//   then       checksum          32-bit FNV-1a of every byte before it
// All numbers little-endian. A core writes its fields with StateWriter and reads them back with
// StateReader, which checks each field against its range as it reads: a core decodes into a
// temporary and takes it only when Finish() says every check passed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "common/le_bytes.h"

constexpr uint32_t StateMagic(const char (&tag)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(tag[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(tag[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(tag[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(tag[3])) << 24;
}

inline uint32_t StateChecksum(const uint8_t* data, size_t size) {
  uint32_t hash = 2166136261u;  // FNV-1a, 32-bit
  for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
  return hash;
}

class StateWriter {
 public:
  static constexpr size_t kHeaderSize = 12;

  StateWriter(uint32_t magic, uint16_t version) : bytes_(kHeaderSize) {
    PutLe32(&bytes_[0], magic);
    PutLe16(&bytes_[4], version);
  }
  void U8(uint8_t v) { bytes_.push_back(v); }
  void Bool(bool v) { U8(v ? 1 : 0); }
  void U32(uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) U8(static_cast<uint8_t>(v >> shift));
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void I64(int64_t v) {
    const auto bits = static_cast<uint64_t>(v);
    U32(static_cast<uint32_t>(bits));
    U32(static_cast<uint32_t>(bits >> 32));
  }
  // Another state inside this one (a part's own, whole): its length, then its bytes.
  void Nested(const std::vector<uint8_t>& state) {
    U32(static_cast<uint32_t>(state.size()));
    bytes_.insert(bytes_.end(), state.begin(), state.end());
  }
  // The finished state: the payload's size and the checksum filled in.
  std::vector<uint8_t> Finish() {
    PutLe32(&bytes_[8], static_cast<uint32_t>(bytes_.size() - kHeaderSize));
    const uint32_t sum = StateChecksum(bytes_.data(), bytes_.size());
    U32(sum);
    return std::move(bytes_);
  }

 private:
  std::vector<uint8_t> bytes_;
};

class StateReader {
 public:
  // Checks the envelope: magic, version, size and checksum. A state that fails reads as failed
  // from the first field on.
  StateReader(const uint8_t* data, size_t size, uint32_t magic, uint16_t version)
      : data_(data), end_(0) {
    constexpr size_t kHeader = StateWriter::kHeaderSize;
    if (data == nullptr || size < kHeader + 4) return;
    const uint32_t payload = Le32(data + 8);
    if (Le32(data) != magic || Le16(data + 4) != version || Le16(data + 6) != 0 ||
        payload != size - kHeader - 4 || Le32(data + size - 4) != StateChecksum(data, size - 4)) {
      return;
    }
    pos_ = kHeader;
    end_ = size - 4;
    ok_ = true;
  }

  // A field within [lo, hi]; outside it, or past the payload's end, the read fails and returns
  // lo.
  uint32_t U32(uint32_t lo = 0, uint32_t hi = UINT32_MAX) {
    if (!Take(4)) return lo;
    return Check(Le32(data_ + pos_ - 4), lo, hi);
  }
  int32_t I32(int32_t lo = INT32_MIN, int32_t hi = INT32_MAX) {
    if (!Take(4)) return lo;
    return Check(static_cast<int32_t>(Le32(data_ + pos_ - 4)), lo, hi);
  }
  uint8_t U8(uint8_t lo = 0, uint8_t hi = UINT8_MAX) {
    if (!Take(1)) return lo;
    return Check(data_[pos_ - 1], lo, hi);
  }
  int64_t I64(int64_t lo = INT64_MIN, int64_t hi = INT64_MAX) {
    if (!Take(8)) return lo;
    const uint64_t bits = Le32(data_ + pos_ - 8) | uint64_t{Le32(data_ + pos_ - 4)} << 32;
    return Check(static_cast<int64_t>(bits), lo, hi);
  }
  bool Bool() { return U8(0, 1) != 0; }
  // A state that Nested wrote: its bytes stay in the buffer (*data, *size), for the part to
  // check and take. At most `max` bytes; more, or past the payload's end, fails the read.
  void Nested(const uint8_t** data, size_t* size, size_t max) {
    const uint32_t n = U32(0, static_cast<uint32_t>(max));
    *data = data_ + pos_;
    *size = 0;
    if (Take(n)) *size = n;
  }
  // The value when it is one of the n allowed ones; otherwise the read fails and gives the
  // first of them.
  template <class T>
  T OneOf(T value, const T* allowed, int n) {
    for (int i = 0; i < n; ++i) {
      if (allowed[i] == value) return value;
    }
    ok_ = false;
    return allowed[0];
  }
  // Fails the read from a check of the core's own (a relation between fields).
  void Require(bool holds) { ok_ = ok_ && holds; }
  // Every field read within its range, and the payload read to its end.
  bool Finish() const { return ok_ && pos_ == end_; }

 private:
  bool Take(size_t n) {
    if (!ok_ || end_ - pos_ < n) {
      ok_ = false;
      return false;
    }
    pos_ += n;
    return true;
  }
  template <class T>
  T Check(T v, T lo, T hi) {
    if (v < lo || v > hi) {
      ok_ = false;
      return lo;
    }
    return v;
  }

  const uint8_t* data_;
  size_t pos_ = 0;
  size_t end_;
  bool ok_ = false;
};
