#include <dlfcn.h>

#include "module/board_module.h"
#include "romeo/card_access_posix.h"
#include "romeo/romeo_manager.h"

namespace {

// The process's ROMEO manager: built when the module file is loaded (it looks for the card at
// once), destroyed when the file is unloaded.
struct ProcessRomeo {
  PosixCardAccess access{"/sys"};
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
