// The settings file: any contents, then the board's save. The result must read back exactly
// the 17 values written, and every byte outside the board's section must be as it was.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/ascii.h"
#include "settings/ini_text.h"

namespace {

// Where the first "[VORLA]" section's body starts and where the next section begins, found
// with a scan of its own (not the code under test): [body, end) may change, nothing else.
bool VorlaSpan(std::string_view text, size_t* body, size_t* end) {
  bool found = false;
  size_t pos = 0;
  while (pos < text.size()) {
    // A line ends at "\n", "\r\n" or a lone "\r".
    const size_t brk = text.find_first_of("\r\n", pos);
    size_t next = brk == std::string_view::npos ? text.size() : brk + 1;
    if (brk != std::string_view::npos && text[brk] == '\r' && next < text.size() &&
        text[next] == '\n') {
      ++next;
    }
    std::string_view line = text.substr(pos, next - pos);
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i < line.size() && line[i] == '[' && line.find(']', i) != std::string_view::npos) {
      if (found) {
        *end = pos;
        return true;
      }
      std::string_view name = line.substr(i + 1, line.find(']', i) - i - 1);
      // Names are compared without the blanks around them; a stray carriage return counts as one.
      auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
      while (!name.empty() && blank(name.front())) name.remove_prefix(1);
      while (!name.empty() && blank(name.back())) name.remove_suffix(1);
      if (AsciiLower(name) == "vorla") {
        found = true;
        *body = next;
      }
    }
    pos = next;
  }
  *end = text.size();
  return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string before(reinterpret_cast<const char*>(data), size);
  // Reading never fails, whatever the file holds.
  (void)IniGetInt(before, "VORLA", "Volume0", 100);

  std::string text = before;
  std::string keys[17];
  for (int i = 0; i < 8; ++i) keys[i] = "Volume" + std::to_string(i);
  for (int i = 0; i < 8; ++i) keys[8 + i] = "Output" + std::to_string(i);
  keys[16] = "USE_ROMEO";
  for (int i = 0; i < 17; ++i) IniSetValue(&text, "VORLA", keys[i], std::to_string(i * 7 - 40));
  for (int i = 0; i < 17; ++i) {
    if (IniGetInt(text, "VORLA", keys[i], -12345) != i * 7 - 40) __builtin_trap();
  }

  size_t body = 0, end = 0;
  if (VorlaSpan(before, &body, &end)) {
    // Everything up to the section's body and from the next section on is unchanged.
    if (text.compare(0, body, before, 0, body) != 0) __builtin_trap();
    const size_t tail = before.size() - end;
    if (text.size() < body + tail) __builtin_trap();
    if (text.compare(text.size() - tail, tail, before, end, tail) != 0) __builtin_trap();
  } else {
    // A new section is appended: the old text stays the prefix.
    if (text.compare(0, before.size(), before) != 0) __builtin_trap();
  }
  return 0;
}
