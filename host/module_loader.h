// Loads a module file the way the emulator does: open the library, find VyxCreateModule.
#pragma once

#include <string>

#include "vyx/vyx.h"

class ModuleLibrary {
 public:
  ModuleLibrary() = default;
  ~ModuleLibrary();
  ModuleLibrary(const ModuleLibrary&) = delete;
  ModuleLibrary& operator=(const ModuleLibrary&) = delete;

  // Opens the file and finds its export; on failure says why in *error.
  bool Open(const std::string& path, std::string* error);
  VyxCreateModuleFn create() const { return create_; }

 private:
  void* handle_ = nullptr;
  VyxCreateModuleFn create_ = nullptr;
};
