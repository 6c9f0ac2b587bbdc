#include "text/shown_text.h"

#include <algorithm>
#include <cstdio>

#include "common/utf8.h"

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
    size_t next = pos;
    const size_t length = DecodeUtf8(text, &next, &cp) ? next - pos : 0;
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
