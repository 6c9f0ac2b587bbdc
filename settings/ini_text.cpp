#include "settings/ini_text.h"

#include <cstddef>
#include <limits>

#include "common/ascii.h"

namespace {

// Spaces and tabs around names and values do not count, nor does a stray carriage return.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  return AsciiEqualNoCase(Trim(a), Trim(b));
}

// One line of the text: [begin, content_end) is the line without its end-of-line bytes,
// [content_end, end) the "\n", "\r\n" or lone "\r" (empty on a last line without one).
struct Line {
  size_t begin;
  size_t content_end;
  size_t end;
};

Line LineAt(std::string_view text, size_t begin) {
  const size_t brk = text.find_first_of("\r\n", begin);
  if (brk == std::string_view::npos) return {begin, text.size(), text.size()};
  const bool crlf = text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n';
  return {begin, brk, brk + (crlf ? 2 : 1)};
}

bool EndsLine(char c) { return c == '\n' || c == '\r'; }

// The section name when the line is a section header.
bool SectionHeader(std::string_view content, std::string_view* name) {
  std::string_view t = Trim(content);
  if (t.size() < 2 || t.front() != '[') return false;
  size_t close = t.find(']');
  if (close == std::string_view::npos) return false;
  *name = t.substr(1, close - 1);
  return true;
}

bool IsComment(std::string_view content) {
  std::string_view t = Trim(content);
  return !t.empty() && t.front() == ';';
}

struct KeyLine {
  bool found = false;
  Line line{};
  size_t value_begin = 0;  // first byte after '=' (absolute offset)
};

struct SectionSpan {
  bool found = false;
  size_t body_begin = 0;     // first byte after the header line
  size_t end = 0;            // first byte of the next section header (or the text's end)
  size_t last_entry_end = 0; // end of the last non-blank line of the section (or body_begin)
};

SectionSpan FindSection(std::string_view text, std::string_view section) {
  SectionSpan span;
  size_t pos = 0;
  while (pos < text.size()) {
    Line line = LineAt(text, pos);
    std::string_view content = text.substr(line.begin, line.content_end - line.begin);
    std::string_view name;
    if (SectionHeader(content, &name)) {
      if (span.found) {
        span.end = line.begin;
        return span;
      }
      if (SameName(name, section)) {
        span.found = true;
        span.body_begin = line.end;
        span.last_entry_end = line.end;
      }
    } else if (span.found && !Trim(content).empty()) {
      span.last_entry_end = line.end;
    }
    pos = line.end;
  }
  span.end = text.size();
  return span;
}

KeyLine FindKey(std::string_view text, const SectionSpan& span, std::string_view key) {
  KeyLine result;
  size_t pos = span.body_begin;
  while (pos < span.end) {
    Line line = LineAt(text, pos);
    std::string_view content = text.substr(line.begin, line.content_end - line.begin);
    if (!IsComment(content)) {
      size_t eq = content.find('=');
      if (eq != std::string_view::npos && SameName(content.substr(0, eq), key)) {
        result.found = true;
        result.line = line;
        result.value_begin = line.begin + eq + 1;
        return result;
      }
    }
    pos = line.end;
  }
  return result;
}

// The end-of-line that the file already uses; CRLF for a file that has none yet.
std::string_view LineEnding(std::string_view text) {
  const Line first = LineAt(text, 0);
  if (first.content_end == first.end) return "\r\n";
  return text.substr(first.content_end, first.end - first.content_end);
}

}  // namespace

bool IniFindValue(std::string_view text, std::string_view section, std::string_view key,
                  std::string* value) {
  SectionSpan span = FindSection(text, section);
  if (!span.found) return false;
  KeyLine k = FindKey(text, span, key);
  if (!k.found) return false;
  std::string_view v = Trim(text.substr(k.value_begin, k.line.content_end - k.value_begin));
  // A value in matching quotes reads without them.
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  value->assign(v);
  return true;
}

int32_t IniGetInt(std::string_view text, std::string_view section, std::string_view key,
                  int32_t default_value) {
  std::string value;
  // An empty value (nothing but blanks, or empty quotes) is as good as none.
  if (!IniFindValue(text, section, key, &value) || value.empty()) return default_value;
  size_t i = 0;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) {
    negative = value[i] == '-';
    ++i;
  }
  int64_t magnitude = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (value[i] - '0');
    if (magnitude > (int64_t{1} << 32)) magnitude = int64_t{1} << 32;  // saturate below
  }
  int64_t result = negative ? -magnitude : magnitude;
  if (result > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (result < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(result);
}

void IniSetValue(std::string* text, std::string_view section, std::string_view key,
                 std::string_view value) {
  const std::string eol(LineEnding(*text));
  SectionSpan span = FindSection(*text, section);
  if (!span.found) {
    std::string addition;
    if (!text->empty() && !EndsLine(text->back())) addition += eol;
    addition += "[";
    addition += section;
    addition += "]" + eol;
    addition += key;
    addition += "=";
    addition += value;
    addition += eol;
    text->append(addition);
    return;
  }
  KeyLine k = FindKey(*text, span, key);
  if (k.found) {
    text->replace(k.value_begin, k.line.content_end - k.value_begin, value);
    return;
  }
  // A new key goes after the section's last entry, before any blank lines that separate it
  // from the next section.
  size_t at = span.last_entry_end;
  std::string addition;
  if (at > 0 && !EndsLine((*text)[at - 1])) addition += eol;
  addition += key;
  addition += "=";
  addition += value;
  addition += eol;
  text->insert(at, addition);
}
