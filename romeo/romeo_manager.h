// The one process-wide object that reaches a ROMEO card: it finds the card when the module file
// is loaded, hands out each of its two FM chips at most once at a time, and serialises the chip
// reset that the board asks for.
//
// The card is reached in one of two ways, found once and never changed:
//   driver mode          the ROMEO driver "\\.\Romeo" opened; it takes the OPN-family chip's
//                        register writes as device-control requests
//   memory-mapped mode   no driver, but the PCI and physical-memory access layer is there and the
//                        card (vendor 0x6809, device 0x8121 or 0x2151) has a non-zero memory base
//                        in its configuration dword 0x14; both chips are driven through their
//                        registers in that memory
//
// Result codes (detection, Request):
//        1  detected: the driver opened, or the card found with a non-zero base
//        0  Request granted
//   -32767  no driver, and no access layer (or one lacking an entry point)
//   -32766  no ROMEO on the PCI bus, or its memory base reads 0
//   -32765  Request(2): the YM2151 is not present or already handed out
//   -32764  Request(other): the OPN-family chip is already handed out
#pragma once

#include <cstdint>
#include <memory>

#include "romeo/card_access.h"
#include "romeo/chip_port.h"

class RomeoManager;

// The holder's access to one granted chip. Destroying the handle gives the port back to the
// manager, so that a board created later in the process can have the chip again.
class ChipHandle {
 public:
  ChipHandle(RomeoManager& manager, ChipPort& port) : manager_(manager), port_(port) {}
  ~ChipHandle();
  ChipHandle(const ChipHandle&) = delete;
  ChipHandle& operator=(const ChipHandle&) = delete;

  // The port's reset without the manager's lock; the argument means nothing. Returns 1. The
  // board never calls it; it stays because the handle's interface has it, in this place.
  int32_t ResetUnlocked(uint32_t unused);
  // The port's reset with the manager's lock held.
  void Reset();
  // The first argument means nothing (the board passes 0). Returns true: the handle's
  // interface gives it a result.
  bool WriteRegister(uint32_t unused, uint32_t reg, uint32_t value);
  // Two further operations of the handle, which do nothing for a ROMEO chip; kept because the
  // handle's interface has them, in this order.
  void NoOp1(uint32_t unused);
  void NoOp2(uint32_t unused1, uint32_t unused2);

  ChipPort& port() { return port_; }

 private:
  RomeoManager& manager_;
  ChipPort& port_;
};

class RomeoManager {
 public:
  static constexpr int32_t kDetected = 1;
  static constexpr int32_t kGranted = 0;
  static constexpr int32_t kNoAccess = -32767;
  static constexpr int32_t kNoCard = -32766;
  static constexpr int32_t kOpmUnavailable = -32765;
  static constexpr int32_t kOpnUnavailable = -32764;

  // Request's code for the YM2151; any other code asks for the OPN-family chip.
  static constexpr int32_t kOpmCode = 2;

  static constexpr uint32_t kVendorId = 0x6809;
  static constexpr uint32_t kDeviceId = 0x8121;
  static constexpr uint32_t kOtherDeviceId = 0x2151;  // searched when kDeviceId is not found
  static constexpr uint32_t kMemoryBaseConfig = 0x14;

  // A chip stays busy for some microseconds after a write. One that still reports busy after
  // this long will not become ready: the write is dropped rather than wait for ever.
  static constexpr uint32_t kBusyWaitLimitMs = 100;

  // Detects the card through `access`, which must outlive the manager. In memory-mapped mode
  // detection includes one YM2151 reset (300 ms).
  explicit RomeoManager(CardAccess& access);
  // Closes the driver, and resets a YM2151 that is present and was not handed out.
  ~RomeoManager();
  RomeoManager(const RomeoManager&) = delete;
  RomeoManager& operator=(const RomeoManager&) = delete;

  // Grants the chip that `code` names: out := the new handle and 0; or out := null and the
  // refusal code. A granted port stays in use until its handle is destroyed, also when the
  // handle could not be made. Takes no lock.
  int32_t Request(int32_t code, std::unique_ptr<ChipHandle>* out);
  // The port's Reset with the lock held.
  void LockedReset(ChipPort& port);

  // Memory-mapped mode: polls the busy bit (bit 7) of the status byte at `status_address`,
  // yielding the processor between polls. False when the chip stayed busy past
  // kBusyWaitLimitMs: the caller then gives up the write. In driver mode there is nothing to
  // wait for.
  bool WaitUntilReady(uint32_t status_address);

  int32_t detect_result() const { return detect_result_; }
  bool memory_mapped() const { return memory_mapped_; }
  uint32_t card_base() const { return card_base_; }
  CardAccess::DriverHandle driver_handle() const { return driver_handle_; }
  CardAccess& access() { return access_; }
  OpmPort& opm_port() { return opm_; }
  OpnPort& opn_port() { return opn_; }

 private:
  int32_t Detect();

  CardAccess& access_;
  OpnPort opn_;
  OpmPort opm_;
  uint32_t card_base_ = 0;
  int32_t detect_result_ = kNoAccess;
  CardAccess::DriverHandle driver_handle_ = CardAccess::kNoDriver;
  bool memory_mapped_ = false;
};

// The process-wide manager, or null when there is none or its detection failed.
RomeoManager* GetRomeoManager();
// Makes `manager` the process-wide one (null: none). The module's load and unload code calls
// this; the previous one is returned so that a caller can put it back.
RomeoManager* SetProcessRomeoManager(RomeoManager* manager);
