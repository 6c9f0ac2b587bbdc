// Shift_JIS through the Windows code-page conversion (code page 932).
#include <windows.h>

#include <vector>

#include "music/text_convert.h"

bool ShiftJisToUtf8(std::string_view bytes, std::string* utf8) {
  if (bytes.empty()) {
    utf8->clear();
    return true;
  }
  const int size = static_cast<int>(bytes.size());
  int units = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (units <= 0) return false;
  std::vector<wchar_t> wide(static_cast<size_t>(units));
  if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(), units) !=
      units) {
    return false;
  }
  std::vector<uint8_t> le(wide.size() * 2);
  for (size_t i = 0; i < wide.size(); ++i) {
    le[2 * i] = static_cast<uint8_t>(wide[i]);
    le[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(wide[i]) >> 8);
  }
  *utf8 = Utf16LeToUtf8(le.data(), wide.size());
  return true;
}
