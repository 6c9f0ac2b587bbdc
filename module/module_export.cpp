#include <string>

#include "module/board_module.h"

extern "C" VYX_EXPORT VyxModule* VyxCreateModule(HostSystem* host) {
  // Nothing may throw across the interface.
  try {
    return CreateBoardModule(host, std::string());
  } catch (...) {
    return nullptr;
  }
}
