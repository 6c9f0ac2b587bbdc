#include <dlfcn.h>

#include "host/module_loader.h"

ModuleLibrary::~ModuleLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

bool ModuleLibrary::Open(const std::string& path, std::string* error) {
  // dlopen searches the library path for a bare name; a module is always named by path.
  std::string name = path.find('/') == std::string::npos ? "./" + path : path;
  handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    *error = "cannot load module file " + path + ": " + (why ? why : "unknown error");
    return false;
  }
  void* symbol = dlsym(handle_, "VyxCreateModule");
  if (symbol == nullptr) {
    *error = "module file " + path + " has no VyxCreateModule export";
    return false;
  }
  create_ = reinterpret_cast<VyxCreateModuleFn>(symbol);
  return true;
}
