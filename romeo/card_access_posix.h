// The card seen through Linux's sysfs: a PCI device is found by the `vendor` and `device` files
// under <root>/bus/pci/devices, its configuration dwords are read from `config`, and physical
// memory is reached by mapping the `resourceN` file of the device's memory BAR that holds the
// address (the BAR ranges come from the device's `resource` file). There is no ROMEO driver on
// Linux: opening it always fails. Mapping a real device's resource file needs root.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "romeo/card_access.h"

class PosixCardAccess : public CardAccess {
 public:
  // `sysfs_root` is where sysfs is mounted ("/sys"); the tests point it at a tree of their own.
  explicit PosixCardAccess(std::string sysfs_root = "/sys");
  ~PosixCardAccess() override;
  PosixCardAccess(const PosixCardAccess&) = delete;
  PosixCardAccess& operator=(const PosixCardAccess&) = delete;

  DriverHandle OpenDriver() override { return kNoDriver; }
  void SendDriverRequest(DriverHandle, const uint8_t (&)[kDriverRecordSize]) override {}
  void CloseDriver(DriverHandle) override {}

  // Succeeds when <root>/bus/pci/devices can be listed.
  bool OpenPciAccess() override;
  // The location is the device's place in the list of devices found so far.
  uint32_t FindPciDevice(uint32_t vendor, uint32_t device, uint32_t index) override;
  // 0 when the location is unknown or the dword cannot be read.
  uint32_t ConfigReadLong(uint32_t location, uint32_t offset) override;
  // Addresses outside every memory BAR of the devices found read 0xFF; writes there are lost.
  void MemWriteChar(uint32_t address, uint32_t value) override;
  void MemWriteLong(uint32_t address, uint32_t value) override;
  uint8_t MemReadChar(uint32_t address) override;

  void Sleep(uint32_t milliseconds) override;
  uint32_t Milliseconds() override;

  void Lock() override { lock_.lock(); }
  void Unlock() override { lock_.unlock(); }

 private:
  static constexpr uint32_t kNotFound = 0xFFFFFFFF;  // low byte non-zero

  // One memory BAR: its physical range and, once touched, its resource file mapped.
  struct Window {
    uint64_t start = 0;
    uint64_t length = 0;
    std::string file;
    uint8_t* map = nullptr;
    size_t mapped = 0;
    bool tried = false;
  };
  struct Device {
    std::string path;
    std::vector<Window> windows;
  };

  std::string DevicesDir() const { return root_ + "/bus/pci/devices"; }
  uint32_t Remember(const std::string& path);
  // Where `size` bytes at `address` are mapped, or null.
  volatile uint8_t* Locate(uint32_t address, size_t size);
  static bool MapWindow(Window& window);

  std::string root_;
  bool loaded_ = false;
  std::vector<Device> devices_;
  std::mutex lock_;
};
