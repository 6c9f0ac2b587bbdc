// What the program last wrote to the FM chip's registers, kept beside the chip so that a restored
// board can be written out again: to a real chip on the card and to the register log, as the
// writes that bring a chip to the same registers.
//
//   0x08        key on/off: one value a channel (bits 0-2), the last one written to it
//   0x14        timer control: bits 4-5 reset the flags when written, so they are not kept
//   0x19        bit 7 selects PMD (1) or AMD (0): both values kept
//   the rest    the last value written
// The chip's phases, envelopes and counters are no registers: a chip given these writes plays
// the same voices from the start of their notes.
#pragma once

#include <cstdint>

#include "common/state_bytes.h"

class FmRegisterFile {
 public:
  static constexpr uint32_t kRegisters = 256;

  // A board reset: every register 0, as the chip's own reset leaves them.
  void Clear() { *this = FmRegisterFile(); }

  void Write(uint32_t address, uint32_t value) {
    if (address >= kRegisters) return;  // the chip ignores it too
    const auto byte = static_cast<uint8_t>(value);
    if (address == 0x08) {
      keys_[byte & 7] = byte & 0x7F;  // bit 7 has no function
    } else if (address == 0x19) {
      (byte & 0x80 ? pmd_ : amd_) = byte;
    } else if (address == 0x14) {
      regs_[address] = byte & 0xCF;
    } else {
      regs_[address] = byte;
    }
  }

  // The writes that bring a chip from its reset to these registers, in an order that lets each
  // take effect: the chip-wide registers, the channels and operators, the timers' control, and
  // the keys last.
  template <class Sink>
  void Replay(Sink&& write) const {
    for (uint32_t address : {0x01u, 0x0Fu, 0x10u, 0x11u, 0x12u, 0x18u, 0x1Bu}) {
      write(address, regs_[address]);
    }
    write(0x19u, amd_);
    write(0x19u, pmd_);
    for (uint32_t address = 0x20; address < kRegisters; ++address) write(address, regs_[address]);
    write(0x14u, regs_[0x14]);
    for (uint8_t key : keys_) write(0x08u, key);
  }

  void Save(StateWriter& out) const {
    for (uint8_t v : regs_) out.U8(v);
    for (uint8_t v : keys_) out.U8(v);
    out.U8(amd_);
    out.U8(pmd_);
  }
  void Load(StateReader& in) {
    for (uint8_t& v : regs_) v = in.U8();
    in.Require((regs_[0x14] & 0x30) == 0);
    for (int ch = 0; ch < 8; ++ch) {
      keys_[ch] = in.U8(0, 0x7F);
      in.Require((keys_[ch] & 7) == ch);
    }
    amd_ = in.U8(0, 0x7F);
    pmd_ = in.U8(0x80, 0xFF);
  }

 private:
  uint8_t regs_[kRegisters] = {};
  uint8_t keys_[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  uint8_t amd_ = 0x00;
  uint8_t pmd_ = 0x80;
};
