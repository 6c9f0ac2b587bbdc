#include <windows.h>

#include "host/module_loader.h"

namespace {

std::string LastErrorText() {
  char* text = nullptr;
  DWORD code = GetLastError();
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = text != nullptr ? text : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  return result;
}

}  // namespace

ModuleLibrary::~ModuleLibrary() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

bool ModuleLibrary::Open(const std::string& path, std::string* error) {
  handle_ = LoadLibraryA(path.c_str());
  if (handle_ == nullptr) {
    *error = "cannot load module file " + path + ": " + LastErrorText();
    return false;
  }
  FARPROC symbol = GetProcAddress(static_cast<HMODULE>(handle_), "VyxCreateModule");
  if (symbol == nullptr) {
    *error = "module file " + path + " has no VyxCreateModule export";
    return false;
  }
  create_ = reinterpret_cast<VyxCreateModuleFn>(reinterpret_cast<void*>(symbol));
  return true;
}
