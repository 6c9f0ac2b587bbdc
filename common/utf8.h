// UTF-8 decoding, one code point at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Decodes the code point that starts at text[*pos] into *cp and moves *pos past it. False (and
// *pos unchanged) when no well-formed UTF-8 sequence starts there: a stray continuation byte, a
// sequence cut short, an overlong form, a surrogate or a value past U+10FFFF.
inline bool DecodeUtf8(std::string_view text, size_t* pos, uint32_t* cp) {
  const size_t i = *pos;
  if (i >= text.size()) return false;
  const auto c = static_cast<uint8_t>(text[i]);
  size_t extra;
  uint32_t value;
  if (c < 0x80) {
    *cp = c;
    *pos = i + 1;
    return true;
  } else if ((c & 0xE0) == 0xC0) {
    extra = 1;
    value = c & 0x1Fu;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2;
    value = c & 0x0Fu;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3;
    value = c & 0x07u;
  } else {
    return false;
  }
  if (i + extra >= text.size()) return false;
  for (size_t k = 1; k <= extra; ++k) {
    const auto d = static_cast<uint8_t>(text[i + k]);
    if ((d & 0xC0) != 0x80) return false;
    value = (value << 6) | (d & 0x3Fu);
  }
  static constexpr uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
  if (value < kMin[extra] || value > 0x10FFFF) return false;
  if (value >= 0xD800 && value <= 0xDFFF) return false;
  *cp = value;
  *pos = i + extra + 1;
  return true;
}
