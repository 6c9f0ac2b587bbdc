#include "romeo/romeo_manager.h"

#include <new>

namespace {

RomeoManager* g_process_manager = nullptr;

}  // namespace

RomeoManager::RomeoManager(CardAccess& access) : access_(access), opn_(*this), opm_(*this) {
  detect_result_ = Detect();
}

int32_t RomeoManager::Detect() {
  driver_handle_ = access_.OpenDriver();
  memory_mapped_ = false;
  if (driver_handle_ == CardAccess::kNoDriver) {
    if (!access_.OpenPciAccess()) return kNoAccess;
    memory_mapped_ = true;
    uint32_t found = access_.FindPciDevice(kVendorId, kDeviceId, 0);
    if ((found & 0xFF) != 0) {
      found = access_.FindPciDevice(kVendorId, kOtherDeviceId, 0);
      if ((found & 0xFF) != 0) return kNoCard;
    }
    const uint32_t location = found >> 16;
    // Taken as read, flag bits and all: a memory BAR of this card reads with them clear.
    card_base_ = access_.ConfigReadLong(location, kMemoryBaseConfig);
    if (card_base_ == 0) return kNoCard;
    opn_.set_base(card_base_ + OpnPort::kOpnBlockOffset);
  }
  opm_.set_base(card_base_);
  opm_.SetInUse(false);
  // In driver mode this reset does nothing, and the YM2151 never counts as present.
  opm_.Reset();
  return kDetected;
}

RomeoManager::~RomeoManager() {
  if (driver_handle_ != CardAccess::kNoDriver) access_.CloseDriver(driver_handle_);
  // A chip that the board still holds is left as it is; a free one is silenced.
  if (opm_.IsAvailable()) opm_.Reset();
}

int32_t RomeoManager::Request(int32_t code, std::unique_ptr<ChipHandle>* out) {
  out->reset();
  ChipPort* port = &opn_;
  if (code == kOpmCode) {
    port = &opm_;
    if (!port->IsAvailable()) return kOpmUnavailable;
  } else if (!port->IsAvailable()) {
    return kOpnUnavailable;
  }
  port->SetInUse(true);
  out->reset(new (std::nothrow) ChipHandle(*this, *port));
  return kGranted;
}

void RomeoManager::LockedReset(ChipPort& port) {
  access_.Lock();
  port.Reset();
  access_.Unlock();
}

bool RomeoManager::WaitUntilReady(uint32_t status_address) {
  bool waiting = false;
  uint32_t since = 0;
  for (;;) {
    if (!memory_mapped_) return true;
    if ((access_.MemReadChar(status_address) & 0x80) == 0) return true;
    const uint32_t now = access_.Milliseconds();
    if (!waiting) {
      waiting = true;
      since = now;
    } else if (now - since >= kBusyWaitLimitMs) {
      return false;
    }
    access_.Sleep(0);
  }
}

ChipHandle::~ChipHandle() { port_.SetInUse(false); }

int32_t ChipHandle::ResetUnlocked(uint32_t) {
  port_.Reset();
  return 1;
}

void ChipHandle::Reset() { manager_.LockedReset(port_); }

bool ChipHandle::WriteRegister(uint32_t, uint32_t reg, uint32_t value) {
  port_.Write(reg, value);
  return true;
}

void ChipHandle::NoOp1(uint32_t) {}

void ChipHandle::NoOp2(uint32_t, uint32_t) {}

RomeoManager* GetRomeoManager() {
  RomeoManager* manager = g_process_manager;
  return manager != nullptr && manager->detect_result() >= 0 ? manager : nullptr;
}

RomeoManager* SetProcessRomeoManager(RomeoManager* manager) {
  RomeoManager* previous = g_process_manager;
  g_process_manager = manager;
  return previous;
}
