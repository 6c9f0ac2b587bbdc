// The per-chip record that every channel and operator of one OpmChip points to.
#pragma once

#include <cstdint>

struct FmChipParams {
  uint32_t ratio = 0;     // internal chip samples per output sample, x128, rounded
  int32_t am_index = 0;   // the chip's current LFO amplitude index, 0-255
  int32_t pm_index = 0;   // the chip's current LFO pitch index, 0-255 (128 = no deflection)
  int32_t RatioMulTable[4][16] = {};  // phase multipliers, row = DT2, column = MUL
  // The chip-true variant (OpmChip::SetChipTrue): pitch from the chip's phase-step table, with
  // DT2 and vibrato as steps of the note position; the chip's envelope steps and output range.
  bool chip_true = false;
  // Set when an operator falls silent or a register is written: OpmChip gathers its sounding
  // channels again before it mixes on.
  bool regather = true;

  // Stores a new ratio and rebuilds RatioMulTable; does nothing if the ratio is unchanged.
  // Operators see the new multipliers at their next refresh.
  void SetRatio(uint32_t value);
};
