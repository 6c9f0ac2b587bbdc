// The two FM chips of a ROMEO card, each behind its own block of memory-mapped registers
// (offsets from the port's base; byte accesses unless marked 32-bit):
//
//   YM2151 (OpmPort, base = the card's memory base)
//     +0x00  write      address register
//     +0x04  write      data register
//     +0x04  read       status: x------- busy
//     +0x05  read       0 while the chip is held in reset (read to see that a chip is there)
//     +0x1C  32-bit     reset control: 0 holds the chip in reset, 0x80 lets it run
//
//   OPN-family chip with two register banks (OpnPort, base = card base + kOpnBlockOffset)
//     +0x00  read       status: x------- busy
//     +0x00  write      bank 0 address register   (registers 0x000-0x0FF)
//     +0x04  write      bank 0 data register
//     +0x08  write      bank 1 address register   (registers 0x100 and above)
//     +0x0C  write      bank 1 data register
//     +0x1C  32-bit     reset control, as for the YM2151
//
// In driver mode the ROMEO driver does the register writes of the OPN-family chip; the YM2151 is
// reached only through memory, so without it the YM2151 never answers its reset.
#pragma once

#include <cstdint>

class RomeoManager;

class ChipPort {
 public:
  explicit ChipPort(RomeoManager& owner) : owner_(owner) {}
  ChipPort(const ChipPort&) = delete;
  ChipPort& operator=(const ChipPort&) = delete;

  // Whether Request may hand the port out.
  virtual bool IsAvailable() const = 0;
  void SetInUse(bool flag) { in_use_ = flag; }
  virtual void Reset() = 0;
  // `value` is passed on whole; one byte of it reaches the chip.
  virtual void Write(uint32_t reg, uint32_t value) = 0;

  uint32_t base() const { return base_; }
  void set_base(uint32_t base) { base_ = base; }
  bool in_use() const { return in_use_; }

 protected:
  // Holds the chip in reset, then lets it run; 150 ms after each step. Between the steps and
  // after them the caller may look at the chip.
  static constexpr uint32_t kResetControl = 0x1C;
  static constexpr uint32_t kResetHold = 0x00;
  static constexpr uint32_t kResetRun = 0x80;
  static constexpr uint32_t kResetSettleMs = 150;

  RomeoManager& owner_;
  uint32_t base_ = 0;
  bool in_use_ = false;
  bool present_ = false;  // OpmPort only: the chip answered its last reset
};

class OpmPort final : public ChipPort {
 public:
  static constexpr uint32_t kAddress = 0x00;
  static constexpr uint32_t kData = 0x04;
  static constexpr uint32_t kStatus = 0x04;
  static constexpr uint32_t kProbe = 0x05;

  using ChipPort::ChipPort;

  bool IsAvailable() const override { return present_ && !in_use_; }
  // Memory-mapped mode only: pulses the reset control and sets `present` when the probe byte
  // read during the reset and the status read after it are both 0.
  void Reset() override;
  // Memory-mapped mode only: address, then data, once the chip is no longer busy.
  void Write(uint32_t reg, uint32_t value) override;

  bool present() const { return present_; }
};

class OpnPort final : public ChipPort {
 public:
  // Where the chip's register block sits on the card, from the card's memory base.
  static constexpr uint32_t kOpnBlockOffset = 0x100;
  static constexpr uint32_t kStatus = 0x00;
  static constexpr uint32_t kAddress0 = 0x00;
  static constexpr uint32_t kData0 = 0x04;
  static constexpr uint32_t kAddress1 = 0x08;
  static constexpr uint32_t kData1 = 0x0C;
  static constexpr uint32_t kBank1 = 0x100;  // register numbers from here on are in bank 1

  using ChipPort::ChipPort;

  bool IsAvailable() const override { return !in_use_; }
  // Silences the chip through its own register writes, then (memory-mapped mode) pulses the
  // reset control.
  void Reset() override;
  // Memory-mapped: address and data registers of the register's bank. Driver mode: one
  // driver request. Otherwise nothing.
  void Write(uint32_t reg, uint32_t value) override;
};
