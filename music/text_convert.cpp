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

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  uint32_t cp = 0;
  while (i < text.size()) {
    if (!DecodeUtf8(text, &i, &cp)) return false;
  }
  return true;
}

namespace {

// The longest start of bytes, at most max_bytes, that ends between two UTF-8 characters.
std::string_view Utf8Head(std::string_view bytes, size_t max_bytes) {
  if (bytes.size() <= max_bytes) return bytes;
  // Back over at most the three continuation bytes a character can have: bytes that are not
  // UTF-8 at all are cut where they are.
  size_t end = max_bytes;
  while (end > 0 && end + 3 > max_bytes && (static_cast<uint8_t>(bytes[end]) & 0xC0) == 0x80) {
    --end;
  }
  return bytes.substr(0, end);
}

// The same for Shift_JIS, whose lead bytes 0x81-0x9F and 0xE0-0xFC begin two-byte characters.
std::string_view ShiftJisHead(std::string_view bytes, size_t max_bytes) {
  if (bytes.size() <= max_bytes) return bytes;
  size_t end = 0;
  while (end < max_bytes) {
    const auto lead = static_cast<uint8_t>(bytes[end]);
    const bool two = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
    const size_t length = two ? 2 : 1;
    if (end + length > max_bytes) break;
    end += length;
  }
  return bytes.substr(0, end);
}

}  // namespace

bool CutUtf8(std::string* text, size_t max_bytes) {
  if (text->size() <= max_bytes) return false;
  text->resize(Utf8Head(*text, max_bytes).size());
  return true;
}

std::string TagTextToUtf8(std::string_view bytes, bool shift_jis_first, bool* cut) {
  *cut = bytes.size() > kMaxTagBytes;
  const std::string_view utf8_head = Utf8Head(bytes, kMaxTagBytes);
  if (!shift_jis_first && IsValidUtf8(utf8_head)) return std::string(utf8_head);
  std::string converted;
  if (ShiftJisToUtf8(ShiftJisHead(bytes, kMaxTagBytes), &converted)) {
    // Half-width kana grow from one byte to three.
    if (CutUtf8(&converted, kMaxTagBytes)) *cut = true;
    return converted;
  }
  if (IsValidUtf8(utf8_head)) return std::string(utf8_head);
  // Neither: what is UTF-8 stays, each byte that is not becomes U+FFFD.
  const std::string_view head = bytes.substr(0, kMaxTagBytes);
  std::string out;
  for (size_t pos = 0; pos < head.size();) {
    uint32_t cp = 0;
    if (!DecodeUtf8(head, &pos, &cp)) {
      cp = 0xFFFD;
      ++pos;
    }
    PutUtf8(cp, &out);
  }
  if (CutUtf8(&out, kMaxTagBytes)) *cut = true;
  return out;
}
