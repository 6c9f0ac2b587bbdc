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
  // The first 17 outputs are the seed's bits, shifted out; each later one is the XOR of those
  // 17 and 14 steps before it (the new bit 16 is bit 0 XOR bit 3), so 14 come at a time.
  uint32_t* words = table.words;
  constexpr uint32_t kWords = ChipNoiseTable::kWords;
  auto bits = [words](uint32_t i) {  // 14 outputs from step i on
    const uint32_t w = i >> 5;
    const uint64_t pair = words[w] | (w + 1 < kWords ? uint64_t{words[w + 1]} << 32 : 0);
    return static_cast<uint32_t>(pair >> (i & 31)) & 0x3FFF;
  };
  words[0] = 1;
  for (uint32_t i = 17; i < kWords * 32; i += 14) {
    const uint64_t next = uint64_t{bits(i - 17) ^ bits(i - 14)} << (i & 31);
    const uint32_t w = i >> 5;
    words[w] |= static_cast<uint32_t>(next);
    if (w + 1 < kWords) words[w + 1] |= static_cast<uint32_t>(next >> 32);
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
