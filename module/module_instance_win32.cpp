#include <windows.h>

#include "module/board_module.h"

namespace {

// The module's own instance handle, recorded when the module file is attached to the process.
HINSTANCE g_instance = nullptr;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
  return TRUE;  // every other notification is acknowledged and ignored
}

void* ModuleInstance() { return g_instance; }
