#include "text/shown_text.h"

#include <algorithm>
#include <cstdio>

size_t DecodeUtf8(std::string_view text, size_t pos, uint32_t* code_point) {
  const auto lead = static_cast<uint8_t>(text[pos]);
  size_t extra;
  uint32_t cp;
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    cp = lead & 0x07;
  } else {
    return 0;
  }
  if (extra >= text.size() - pos) return 0;
  for (size_t k = 1; k <= extra; ++k) {
    const auto next = static_cast<uint8_t>(text[pos + k]);
    if ((next & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  static constexpr uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *code_point = cp;
  return extra + 1;
}

namespace {

void PutEscape(const char* form, uint32_t value, std::string* out) {
  char text[8];
  std::snprintf(text, sizeof text, form, value);
  *out += text;
}

}  // namespace

std::string ShownText(std::string_view text, int line_indent, size_t max_bytes) {
  std::string out;
  out.reserve(std::min(text.size(), max_bytes) + 16);
  size_t pos = 0;
  while (pos < text.size() && pos < max_bytes) {
    uint32_t cp = 0;
    const size_t length = DecodeUtf8(text, pos, &cp);
    if (length == 0) {
      PutEscape("\\x%02x", static_cast<uint8_t>(text[pos]), &out);
      ++pos;
      continue;
    }
    const bool crlf = cp == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n';
    if (line_indent >= 0 && (cp == '\n' || crlf)) {
      out += '\n';
      out.append(static_cast<size_t>(line_indent), ' ');
      pos += crlf ? 2 : 1;
    } else if (cp < 0x20 || cp == 0x7F) {
      PutEscape("\\x%02x", cp, &out);
      pos += length;
    } else if (cp >= 0x80 && cp <= 0x9F) {
      PutEscape("\\u%04x", cp, &out);
      pos += length;
    } else {
      out.append(text.substr(pos, length));
      pos += length;
    }
  }
  if (pos < text.size()) {
    out += " [cut: " + std::to_string(text.size() - pos) + " more bytes]";
  }
  return out;
}
