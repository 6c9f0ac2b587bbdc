#include "music/text_convert.h"

#include "common/utf8.h"

namespace {

void PutUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::string Utf16LeToUtf8(const uint8_t* units, size_t count) {
  constexpr uint32_t kReplacement = 0xFFFD;
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    uint32_t u = units[2 * i] | (static_cast<uint32_t>(units[2 * i + 1]) << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
      uint32_t low = units[2 * i + 2] | (static_cast<uint32_t>(units[2 * i + 3]) << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        PutUtf8(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), &out);
        ++i;
        continue;
      }
    }
    PutUtf8(u >= 0xD800 && u <= 0xDFFF ? kReplacement : u, &out);
  }
  return out;
}

bool IsValidUtf8(const std::string& text) {
  size_t i = 0;
  uint32_t cp = 0;
  while (i < text.size()) {
    if (!DecodeUtf8(text, &i, &cp)) return false;
  }
  return true;
}

std::string GuessTextToUtf8(const std::string& bytes) {
  if (IsValidUtf8(bytes)) return bytes;
  std::string converted;
  if (ShiftJisToUtf8(bytes, &converted)) return converted;
  std::string out = bytes;
  for (char& c : out) {
    if (static_cast<uint8_t>(c) >= 0x80) c = '?';
  }
  return out;
}
