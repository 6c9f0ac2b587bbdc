#include <windows.h>

#include "platform/program_directory.h"

std::string ProgramPath() {
  char buffer[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(buffer, n) : std::string();
}

std::string ProgramDirectory() {
  const std::string exe = ProgramPath();
  size_t slash = exe.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".\\") : exe.substr(0, slash + 1);
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

std::string ModuleFilePath(void* instance) {
  char buffer[MAX_PATH + 1];
  if (instance == nullptr) return "";
  DWORD n = GetModuleFileNameA(static_cast<HMODULE>(instance), buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(buffer, n) : std::string();
}
