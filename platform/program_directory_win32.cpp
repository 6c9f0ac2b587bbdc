#include <windows.h>

#include "platform/program_directory.h"

std::string ProgramDirectory() {
  char buffer[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  std::string exe(buffer, n);
  size_t slash = exe.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".\\") : exe.substr(0, slash + 1);
}
