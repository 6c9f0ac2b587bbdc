// pcidebug.dll as the Windows access finds it, in a process of its own (the library, once
// loaded, stays for the life of the process): first none at all, then one that lacks an entry
// point that is never called but must be there.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "romeo/card_access_win32.h"
#include "romeo/romeo_manager.h"

namespace {

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;  // Wine's drive for the Unix root
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}

TEST(RomeoLibrary, NoneThenOneLackingAnEntryPoint) {
  Win32CardAccess access;
  {
    RomeoManager manager(access);
    EXPECT_EQ(manager.detect_result(), RomeoManager::kNoAccess) << "no driver, no library";
    EXPECT_EQ(manager.driver_handle(), CardAccess::kNoDriver);
  }
  ASSERT_TRUE(SetDllDirectoryA(WindowsPath(VORLA_PARTIAL_LIBRARY_DIR).c_str()));
  HMODULE partial = LoadLibraryA("pcidebug.dll");
  ASSERT_NE(partial, nullptr) << "the library lacking _MemWriteShort is there to be found";
  FreeLibrary(partial);
  ASSERT_EQ(GetModuleHandleA("pcidebug.dll"), nullptr);
  {
    RomeoManager manager(access);
    EXPECT_EQ(manager.detect_result(), RomeoManager::kNoAccess);
  }
  EXPECT_EQ(GetModuleHandleA("pcidebug.dll"), nullptr) << "unloaded again";
  EXPECT_FALSE(access.OpenPciAccess()) << "and a later attempt loads it anew, and fails again";
  EXPECT_EQ(GetModuleHandleA("pcidebug.dll"), nullptr);
}

}  // namespace
