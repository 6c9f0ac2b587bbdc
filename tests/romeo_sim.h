// A ROMEO card in a simulated machine, reached through the platform's own card access, for the
// tests of the manager and of the board that plays through it.
//
// Linux: a temporary sysfs tree (an unrelated device and, unless the device ID is 0, a ROMEO
// whose `resource1` is a plain file standing in for the register block).
// Windows: the tests' own pcidebug.dll beside the test program, over a register block in its
// memory.
//
// Every call that reaches the card is logged in order, one line each, with memory addresses as
// offsets from kBase:
//   "find 0x6809 0x8121 0"   PCI search (vendor, device, index)
//   "config 0x14"            configuration dword read
//   "w8 +0x108 0x130"        byte write (the value as passed), "w32 +0x1c 0x80" 32-bit write
//   "r8 +0x4"                byte read
//   "sleep 150", "yield"     Sleep(150), Sleep(0)
//   "lock", "unlock"
// Sleeps do not sleep: the access's millisecond clock advances by the time slept, and by 1 for
// a yield. The clock starts just short of its wrap-around.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "romeo/card_access.h"

class SimCard {
 public:
  static constexpr uint32_t kBase = 0xFE9F0000;  // where the register block sits
  static constexpr uint32_t kBlockSize = 0x1000;
  static constexpr uint32_t kClockStart = 0xFFFFFFC0;

  // The machine has a ROMEO with this PCI device ID (0: none) whose configuration dword 0x14
  // reads `bar`.
  static std::unique_ptr<SimCard> Create(uint32_t device_id, uint32_t bar = kBase);
  virtual ~SimCard() = default;

  virtual CardAccess& access() = 0;
  // From now on byte reads at kBase + offset give `value`; every one gives 0 at first.
  virtual void SetRead(uint32_t offset, uint8_t value) = 0;
  // The next `count` byte reads at kBase + offset give the busy bit as well.
  virtual void SetBusy(uint32_t offset, int count) = 0;
  // The byte last written at kBase + offset.
  virtual uint8_t Written(uint32_t offset) = 0;

  std::vector<std::string> log;

  // The log lines for the platform sides to add.
  static std::string Memory(const char* what, uint32_t address) {
    char line[64];
    if (address >= kBase && address - kBase < kBlockSize) {
      std::snprintf(line, sizeof line, "%s +0x%x", what, address - kBase);
    } else {
      std::snprintf(line, sizeof line, "%s @0x%x", what, address);
    }
    return line;
  }
  static std::string Memory(const char* what, uint32_t address, uint32_t value) {
    char hex[16];
    std::snprintf(hex, sizeof hex, " 0x%x", value);
    return Memory(what, address) + hex;
  }
  static std::string Find(uint32_t vendor, uint32_t device, uint32_t index) {
    char line[64];
    std::snprintf(line, sizeof line, "find 0x%x 0x%x %u", vendor, device, index);
    return line;
  }
  static std::string Config(uint32_t offset) {
    char line[32];
    std::snprintf(line, sizeof line, "config 0x%x", offset);
    return line;
  }
  static std::string Sleep(uint32_t milliseconds) {
    return milliseconds == 0 ? "yield" : "sleep " + std::to_string(milliseconds);
  }
};
