#include "romeo/chip_port.h"

#include "romeo/romeo_manager.h"

void OpmPort::Reset() {
  if (!owner_.memory_mapped()) return;
  CardAccess& card = owner_.access();
  card.MemWriteLong(base_ + kResetControl, kResetHold);
  card.Sleep(kResetSettleMs);
  const uint8_t probe = card.MemReadChar(base_ + kProbe);
  card.MemWriteLong(base_ + kResetControl, kResetRun);
  card.Sleep(kResetSettleMs);
  const uint8_t status = card.MemReadChar(base_ + kStatus);
  present_ = probe == 0 && status == 0;
}

void OpmPort::Write(uint32_t reg, uint32_t value) {
  if (!owner_.memory_mapped()) return;
  if (!owner_.WaitUntilReady(base_ + kStatus)) return;
  CardAccess& card = owner_.access();
  // The data register takes the value at once; the chip needs no pause after the address.
  card.MemWriteChar(base_ + kAddress, reg);
  card.MemWriteChar(base_ + kData, value);
}

void OpnPort::Reset() {
  // Silence first: the SSG's tones and noises off (register 7 := 63), then the total level of
  // every FM operator at its largest attenuation in both banks (0x40-0x4E without 0x43, 0x47
  // and 0x4B, which have no channel), 25 writes.
  Write(7, 63);
  for (uint32_t reg = 0x40; reg <= 0x4E; ++reg) {
    if ((reg & 3) == 3) continue;
    Write(reg, 127);
    Write(reg + kBank1, 127);
  }
  if (!owner_.memory_mapped()) return;
  CardAccess& card = owner_.access();
  card.MemWriteLong(base_ + kResetControl, kResetHold);
  card.Sleep(kResetSettleMs);
  card.MemWriteLong(base_ + kResetControl, kResetRun);
  card.Sleep(kResetSettleMs);
}

void OpnPort::Write(uint32_t reg, uint32_t value) {
  if (owner_.memory_mapped()) {
    const bool bank1 = reg >= kBank1;
    CardAccess& card = owner_.access();
    if (!owner_.WaitUntilReady(base_ + kStatus)) return;
    card.MemWriteChar(base_ + (bank1 ? kAddress1 : kAddress0), reg);
    if (!owner_.WaitUntilReady(base_ + kStatus)) return;
    card.MemWriteChar(base_ + (bank1 ? kData1 : kData0), value);
    return;
  }
  if (owner_.driver_handle() == CardAccess::kNoDriver) return;
  // The record's last three bytes mean nothing to the driver; they go out as 0.
  const uint8_t record[CardAccess::kDriverRecordSize] = {
      static_cast<uint8_t>(reg),       static_cast<uint8_t>(reg >> 8),
      static_cast<uint8_t>(reg >> 16), static_cast<uint8_t>(reg >> 24),
      static_cast<uint8_t>(value),     0, 0, 0};
  owner_.access().SendDriverRequest(owner_.driver_handle(), record);
}
