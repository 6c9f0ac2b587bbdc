// The board's crystal clocks in Hz: what its chips count at. The register log names them, and a
// script that wants a pitch on the board computes its counts from them.
#pragma once

#include <cstdint>

inline constexpr uint32_t kBoardToneClock = 3993600;   // the interval timer's input
inline constexpr uint32_t kBoardPsgClock = 998400;     // each PSG's clock
inline constexpr uint32_t kBoardFmClock = 3993600;     // the FM chip's master clock
