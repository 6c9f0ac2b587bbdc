#include <dlfcn.h>

#include "module/board_module.h"

// The base address of the loaded module file, found from an address inside it.
void* ModuleInstance() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModuleInstance), &info) == 0) return nullptr;
  return info.dli_fbase;
}
