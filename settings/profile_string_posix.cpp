// The string reader of the portable profile file, beside the integer reader: the same text, the
// same section and key matching.
#include "settings/ini_text.h"
#include "settings/profile.h"

std::string ProfileFile::GetString(const char* section, const char* key) {
  Load();
  std::string value;
  return IniFindValue(text_, section, key, &value) ? value : std::string();
}
