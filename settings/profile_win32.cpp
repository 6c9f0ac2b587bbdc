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

std::string HostSettingsPath() {
  char exe[MAX_PATH];
  char full[MAX_PATH];
  char* name = nullptr;
  // The host program's file, not this module's.
  DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return "VYX.INI";
  DWORD m = GetFullPathNameA(exe, MAX_PATH, full, &name);
  if (m == 0 || m >= MAX_PATH || name == nullptr) return "VYX.INI";
  lstrcpyA(name, "VYX.INI");
  return full;
}
