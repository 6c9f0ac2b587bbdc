// The card seen from Windows: the ROMEO driver through CreateFileA / DeviceIoControl, and
// pcidebug.dll (PCI configuration reads, physical-memory accesses) loaded at run time, once for
// the whole process, with all eight of its entry points or not at all.
#pragma once

#include <windows.h>

#include "romeo/card_access.h"

class Win32CardAccess : public CardAccess {
 public:
  Win32CardAccess();
  ~Win32CardAccess() override;
  Win32CardAccess(const Win32CardAccess&) = delete;
  Win32CardAccess& operator=(const Win32CardAccess&) = delete;

  DriverHandle OpenDriver() override;
  void SendDriverRequest(DriverHandle driver,
                         const uint8_t (&record)[kDriverRecordSize]) override;
  void CloseDriver(DriverHandle driver) override;

  // Loads pcidebug.dll unless it is loaded already; a library lacking an entry point is
  // unloaded again and forgotten.
  bool OpenPciAccess() override;
  // Before the library is loaded nothing is found, reads give 0xFF and writes are lost.
  uint32_t FindPciDevice(uint32_t vendor, uint32_t device, uint32_t index) override;
  uint32_t ConfigReadLong(uint32_t location, uint32_t offset) override;
  void MemWriteChar(uint32_t address, uint32_t value) override;
  void MemWriteLong(uint32_t address, uint32_t value) override;
  uint8_t MemReadChar(uint32_t address) override;

  void Sleep(uint32_t milliseconds) override;
  uint32_t Milliseconds() override;

  void Lock() override;
  void Unlock() override;

 private:
  CRITICAL_SECTION lock_;
};
