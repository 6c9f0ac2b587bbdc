#include <string>

#include "module/board_module.h"
#include "module/module_instance.h"

extern "C" VYX_EXPORT VyxModule* VyxCreateModule(HostSystem* host) {
  // Nothing may throw across the interface.
  try {
    return CreateBoardModule(host, std::string(), ModuleInstance());
  } catch (...) {
    return nullptr;
  }
}
