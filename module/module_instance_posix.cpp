#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "module/module_instance.h"
#include "romeo/card_access_posix.h"
#include "romeo/romeo_manager.h"

namespace {

// Where sysfs is mounted: /sys, or the folder that VORLA_SYSFS names (the tests point it at a
// tree of their own, so that loading the module file never probes the machine's PCI bus).
std::string SysfsRoot() {
  const char* root = std::getenv("VORLA_SYSFS");
  return root != nullptr && *root != 0 ? std::string(root) : std::string("/sys");
}

// The process's ROMEO manager: built when the module file is loaded (it looks for the card at
// once), destroyed when the file is unloaded.
struct ProcessRomeo {
  PosixCardAccess access{SysfsRoot()};
  RomeoManager manager{access};
  ProcessRomeo() { SetProcessRomeoManager(&manager); }
  ~ProcessRomeo() { SetProcessRomeoManager(nullptr); }
};
ProcessRomeo g_romeo;

}  // namespace

// The base address of the loaded module file, found from an address inside it.
void* ModuleInstance() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModuleInstance), &info) == 0) return nullptr;
  return info.dli_fbase;
}
