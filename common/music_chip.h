// The chips of a chip-music register log, as the readers fill one in and the writers write one
// out: the FM chip and PSG 1 to 4.
#pragma once

#include <cstdint>

enum MusicChip : uint8_t { kChipOpm = 0, kChipPsg1 = 1, kChipPsg2, kChipPsg3, kChipPsg4 };
inline constexpr int kMusicPsgCount = 4;
