#include "psg/noise_table.h"

namespace {

NoiseTable BuildNoiseTable() {
  NoiseTable table{};
  uint32_t lfsr = NoiseTable::kSeed;  // 17 bits wide
  for (uint32_t& word : table.words) {
    uint32_t bits = 0;
    for (int i = 0; i < 32; ++i) {
      bits = (bits << 1) | (lfsr & 1);
      // The new bit 16 is bit 0 XOR bit 2 of the old register.
      lfsr = (lfsr >> 1) | (((lfsr ^ (lfsr << 2)) & 4) << 14);
    }
    word = bits;
  }
  return table;
}

ChipNoiseTable BuildChipNoiseTable() {
  ChipNoiseTable table{};
  uint32_t lfsr = 1;
  for (uint32_t i = 0; i < ChipNoiseTable::kWords * 32; ++i) {
    table.words[i >> 5] |= (lfsr & 1) << (i & 31);
    lfsr = (lfsr >> 1) | (((lfsr ^ (lfsr >> 3)) & 1) << 16);
  }
  return table;
}

}  // namespace

const NoiseTable& NoiseTable::Get() {
  static const NoiseTable table = BuildNoiseTable();
  return table;
}

const ChipNoiseTable& ChipNoiseTable::Get() {
  static const ChipNoiseTable table = BuildChipNoiseTable();
  return table;
}
