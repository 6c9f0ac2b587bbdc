#include "romeo/card_access_win32.h"

namespace {

// pcidebug.dll's entry points, in the order they are looked up; all eight must be there. They
// take their arguments on the stack and leave them for the caller to remove (cdecl).
enum Entry {
  kFindPciDevice,
  kConfigReadLong,
  kMemWriteChar,
  kMemWriteShort,
  kMemWriteLong,
  kMemReadChar,
  kMemReadShort,
  kMemReadLong,
  kEntryCount,
};
constexpr const char* kEntryNames[kEntryCount] = {
    "_pciFindPciDevice", "_pciConfigReadLong", "_MemWriteChar", "_MemWriteShort",
    "_MemWriteLong",     "_MemReadChar",       "_MemReadShort", "_MemReadLong",
};

using FindPciDeviceFn = DWORD(__cdecl*)(DWORD vendor, DWORD device, DWORD index);
using ConfigReadLongFn = DWORD(__cdecl*)(DWORD location, DWORD offset);
using MemWriteFn = void(__cdecl*)(DWORD address, DWORD value);
using MemReadCharFn = BYTE(__cdecl*)(DWORD address);

// The library is the process's, not an access object's: loaded at most once, then kept until
// the process ends.
struct PciDebugLibrary {
  HMODULE module = nullptr;
  void* entries[kEntryCount] = {};

  template <typename Fn>
  Fn Get(Entry entry) const {
    return reinterpret_cast<Fn>(entries[entry]);
  }
};
PciDebugLibrary g_pcidebug;

constexpr char kDriverName[] = "\\\\.\\Romeo";

}  // namespace

Win32CardAccess::Win32CardAccess() { InitializeCriticalSection(&lock_); }

Win32CardAccess::~Win32CardAccess() { DeleteCriticalSection(&lock_); }

CardAccess::DriverHandle Win32CardAccess::OpenDriver() {
  HANDLE driver = CreateFileA(kDriverName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  return reinterpret_cast<DriverHandle>(driver);  // INVALID_HANDLE_VALUE is kNoDriver
}

void Win32CardAccess::SendDriverRequest(DriverHandle driver,
                                        const uint8_t (&record)[kDriverRecordSize]) {
  DWORD returned = 0;
  uint8_t input[kDriverRecordSize];
  for (int i = 0; i < kDriverRecordSize; ++i) input[i] = record[i];
  DeviceIoControl(reinterpret_cast<HANDLE>(driver), kDriverWriteCode, input, sizeof input,
                  nullptr, 0, &returned, nullptr);
}

void Win32CardAccess::CloseDriver(DriverHandle driver) {
  CloseHandle(reinterpret_cast<HANDLE>(driver));
}

bool Win32CardAccess::OpenPciAccess() {
  if (g_pcidebug.module != nullptr) return true;
  HMODULE module = LoadLibraryA("pcidebug.dll");
  if (module == nullptr) return false;
  PciDebugLibrary loaded;
  loaded.module = module;
  for (int i = 0; i < kEntryCount; ++i) {
    FARPROC entry = GetProcAddress(module, kEntryNames[i]);
    if (entry == nullptr) {
      FreeLibrary(module);
      return false;
    }
    loaded.entries[i] = reinterpret_cast<void*>(entry);
  }
  g_pcidebug = loaded;
  return true;
}

uint32_t Win32CardAccess::FindPciDevice(uint32_t vendor, uint32_t device, uint32_t index) {
  if (g_pcidebug.module == nullptr) return 0xFFFFFFFF;
  return g_pcidebug.Get<FindPciDeviceFn>(kFindPciDevice)(vendor, device, index);
}

uint32_t Win32CardAccess::ConfigReadLong(uint32_t location, uint32_t offset) {
  if (g_pcidebug.module == nullptr) return 0;
  return g_pcidebug.Get<ConfigReadLongFn>(kConfigReadLong)(location, offset);
}

void Win32CardAccess::MemWriteChar(uint32_t address, uint32_t value) {
  if (g_pcidebug.module == nullptr) return;
  g_pcidebug.Get<MemWriteFn>(kMemWriteChar)(address, value);
}

void Win32CardAccess::MemWriteLong(uint32_t address, uint32_t value) {
  if (g_pcidebug.module == nullptr) return;
  g_pcidebug.Get<MemWriteFn>(kMemWriteLong)(address, value);
}

uint8_t Win32CardAccess::MemReadChar(uint32_t address) {
  if (g_pcidebug.module == nullptr) return 0xFF;
  return g_pcidebug.Get<MemReadCharFn>(kMemReadChar)(address);
}

void Win32CardAccess::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint32_t Win32CardAccess::Milliseconds() { return GetTickCount(); }

void Win32CardAccess::Lock() { EnterCriticalSection(&lock_); }

void Win32CardAccess::Unlock() { LeaveCriticalSection(&lock_); }
