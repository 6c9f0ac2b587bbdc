#include <windows.h>

#include <new>

#include "module/module_instance.h"
#include "romeo/card_access_win32.h"
#include "romeo/romeo_manager.h"

namespace {

// The module's own instance handle, recorded when the module file is attached to the process.
HINSTANCE g_instance = nullptr;

// The process's ROMEO manager: built when the module file is attached (it looks for the card at
// once), destroyed when it is detached.
struct ProcessRomeo {
  Win32CardAccess access;
  RomeoManager manager{access};
};
ProcessRomeo* g_romeo = nullptr;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_instance = instance;
    g_romeo = new (std::nothrow) ProcessRomeo;
    if (g_romeo != nullptr) SetProcessRomeoManager(&g_romeo->manager);
  } else if (reason == DLL_PROCESS_DETACH) {
    SetProcessRomeoManager(nullptr);
    delete g_romeo;
    g_romeo = nullptr;
  }
  return TRUE;  // thread notifications are acknowledged and ignored
}

void* ModuleInstance() { return g_instance; }
