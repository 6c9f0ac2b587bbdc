// Little helpers for reading binary music files: bounds-checked little-endian fields, and the
// hex text that messages quote offsets in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/hex_text.h"

class ByteView {
 public:
  explicit ByteView(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  size_t size() const { return bytes_.size(); }
  // True when [offset, offset + count) lies inside the bytes.
  bool Has(uint64_t offset, uint64_t count) const {
    return offset <= bytes_.size() && count <= bytes_.size() - offset;
  }
  uint8_t U8(size_t offset) const { return bytes_[offset]; }
  uint32_t U32(size_t offset) const {
    return bytes_[offset] | (static_cast<uint32_t>(bytes_[offset + 1]) << 8) |
           (static_cast<uint32_t>(bytes_[offset + 2]) << 16) |
           (static_cast<uint32_t>(bytes_[offset + 3]) << 24);
  }
  const uint8_t* data(size_t offset) const { return bytes_.data() + offset; }

 private:
  const std::vector<uint8_t>& bytes_;
};
