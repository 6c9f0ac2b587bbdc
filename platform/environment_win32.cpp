#include <windows.h>

#include "platform/environment.h"

// The process's own block, not a C runtime's copy: the module and the host may each link a
// runtime of their own.
std::string EnvironmentValue(const char* name) {
  DWORD n = GetEnvironmentVariableA(name, nullptr, 0);
  if (n == 0) return std::string();
  std::string value(n, '\0');
  n = GetEnvironmentVariableA(name, value.data(), n);
  value.resize(n);
  return value;
}

bool SetEnvironmentValue(const char* name, const std::string& value) {
  return SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str()) != 0;
}

// Closing a standard descriptor for a program (`>&-`) is a POSIX shell's way; Windows shells
// have none, and nothing is done here.
void OpenClosedStandardStreams() {}
