#include <windows.h>

#include "settings/profile.h"

int32_t ProfileFile::GetInt(const char* section, const char* key, int32_t default_value) {
  return static_cast<int32_t>(GetPrivateProfileIntA(section, key, default_value, path_.c_str()));
}

void ProfileFile::WriteString(const char* section, const char* key, const char* value) {
  if (!WritePrivateProfileStringA(section, key, value, path_.c_str())) failed_ = true;
  dirty_ = true;
}

bool ProfileFile::Commit() {
  if (!dirty_) return !failed_;
  // Flushes the system's cached copy of the file.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, path_.c_str());
  dirty_ = false;
  return !failed_;
}
