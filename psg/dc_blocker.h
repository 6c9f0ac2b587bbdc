// The DC blocker that a PSG's one-sided output passes through on its way out (chips mode's output
// stage, the board's chip sound): one pole at kHz (0.26 dB down at 20 Hz),
// y[n] = x[n] - x[n-1] + (1 - leak) y[n-1], with y kept in 1 / 2^16 units and leak in 1 / 2^24.
#pragma once

#include <cmath>
#include <cstdint>

struct DcBlocker {
  static constexpr double kHz = 5.0;
  static constexpr int64_t kHalfUnit = int64_t{1} << 15;  // half an output unit, in 1 / 2^16

  // The leak (1 - the pole) at rate frames a second, in 1 / 2^24.
  static int64_t Leak(uint32_t rate) {
    return std::llround((1 - std::exp(-2 * 3.14159265358979323846 * kHz / rate)) * 16777216.0);
  }
  // One step: x in, its last input in and last output out updated; returns y rounded. The
  // leak's product is taken from y in 1 / 2^8 units, so that it cannot overflow.
  static int32_t Pass(int32_t x, int32_t& in, int64_t& out, int64_t leak) {
    out += ((int64_t{x} - in) << 16) - (((out >> 8) * leak) >> 16);
    in = x;
    return static_cast<int32_t>((out + kHalfUnit) >> 16);
  }
};
