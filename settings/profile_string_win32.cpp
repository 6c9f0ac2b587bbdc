#include <windows.h>

#include "settings/profile.h"

std::string ProfileFile::GetString(const char* section, const char* key) {
  char value[1024];
  DWORD n = GetPrivateProfileStringA(section, key, "", value, sizeof value, path_.c_str());
  return std::string(value, n);
}
