// The noise bits shared by every Psg of the process.
//
// A 17-bit linear feedback shift register, seeded with 14321, shifts out 32768 bits into 1024
// words. Each word is filled from bit 31 down: the first bit generated for a word ends up in its
// bit 31, the last in bit 0. The register runs on from word to word without reseeding. The mixer
// reads bit ((noise_pos >> 17) & 31) of word (noise_pos >> 22), so one word lasts 2^22 of
// noise position.
#pragma once

#include <cstdint>

struct NoiseTable {
  static constexpr uint32_t kWords = 1024;
  static constexpr uint32_t kSeed = 14321;

  uint32_t words[kWords];

  // The process-wide table, built on the first call (thread-safely, by the language's rules for
  // function-local statics) and only read afterwards.
  static const NoiseTable& Get();
};

// The chip's own noise, for a Psg with the chips' behaviour: a 17-bit LFSR seeded with 1,
// whose new bit (bit 0 XOR bit 3) enters at bit 16; the output is bit 0. Its 131,071 steps
// repeat without end; step i is bit (i & 31) of word i >> 5, and the table runs on past one
// period by kSlack steps, so that a reader can go that far beyond any step before it must
// wrap back by kSteps.
struct ChipNoiseTable {
  static constexpr uint32_t kSteps = 131071;
  static constexpr uint32_t kSlack = 32768;
  static constexpr uint32_t kWords = (kSteps + kSlack + 63) / 32;

  uint32_t words[kWords];

  static const ChipNoiseTable& Get();
};
