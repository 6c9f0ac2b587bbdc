// Everything the ROMEO manager needs from the platform to reach the card, in one small seam:
//
//   the ROMEO driver        open "\\.\Romeo", send it one 8-byte request, close it
//   PCI and memory access   load the access layer (pcidebug.dll on Windows, sysfs on Linux),
//                           find a PCI device by vendor and device ID, read a configuration
//                           dword, byte and 32-bit accesses to physical memory
//   time                    sleep for milliseconds (0 yields the processor), a millisecond clock
//   the lock                one critical section, held around the chip reset the board asks for
//
// One implementation a platform: card_access_win32.cpp (the driver, pcidebug.dll, Sleep, a
// critical section) and card_access_posix.cpp (sysfs and the BAR's resource file; no driver).
#pragma once

#include <cstdint>

class CardAccess {
 public:
  // An opened driver device, or kNoDriver (the value of Windows' invalid handle).
  using DriverHandle = intptr_t;
  static constexpr DriverHandle kNoDriver = -1;

  // The driver request: control code (device type 0x9C40, function 0x902, buffered, write
  // access) and its input record, register number little-endian in bytes 0-3, data in byte 4.
  static constexpr uint32_t kDriverWriteCode = 0x9C40A408;
  static constexpr int kDriverRecordSize = 8;

  virtual ~CardAccess() = default;

  // The ROMEO driver device, opened for reading and writing without sharing; kNoDriver when it
  // is not there.
  virtual DriverHandle OpenDriver() = 0;
  // Sends one write request; the result is of no use to the caller and is not reported.
  virtual void SendDriverRequest(DriverHandle driver,
                                 const uint8_t (&record)[kDriverRecordSize]) = 0;
  virtual void CloseDriver(DriverHandle driver) = 0;

  // Makes the PCI and physical-memory access layer usable; false when it is not there (or, for
  // pcidebug.dll, lacks one of its eight entry points). Once loaded it stays loaded.
  virtual bool OpenPciAccess() = 0;
  // Searches the PCI bus for the index-th device with these IDs. The low byte of the result is 0
  // when one was found; bits 16-31 are then its location for ConfigReadLong.
  virtual uint32_t FindPciDevice(uint32_t vendor, uint32_t device, uint32_t index) = 0;
  virtual uint32_t ConfigReadLong(uint32_t location, uint32_t offset) = 0;
  // Physical memory. MemWriteChar stores the low byte of `value`.
  virtual void MemWriteChar(uint32_t address, uint32_t value) = 0;
  virtual void MemWriteLong(uint32_t address, uint32_t value) = 0;
  virtual uint8_t MemReadChar(uint32_t address) = 0;

  // Sleeps `milliseconds`; 0 gives the rest of the time slice to another thread.
  virtual void Sleep(uint32_t milliseconds) = 0;
  // A monotonic millisecond count; it wraps, so only differences mean anything.
  virtual uint32_t Milliseconds() = 0;

  virtual void Lock() = 0;
  virtual void Unlock() = 0;
};
