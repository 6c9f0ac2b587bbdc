#include "player/levels.h"

#include <algorithm>
#include <cmath>

double GainFactor(double db) { return db == 0 ? 1.0 : std::pow(10.0, db / 20.0); }

void AddScaled(const StereoFrame* from, StereoFrame* to, int32_t count, double factor) {
  constexpr double kLow = INT32_MIN;
  constexpr double kHigh = INT32_MAX;
  for (int32_t i = 0; i < count; ++i) {
    const double left = to[i].left + from[i].left * factor;
    const double right = to[i].right + from[i].right * factor;
    to[i].left = static_cast<int32_t>(std::lround(std::clamp(left, kLow, kHigh)));
    to[i].right = static_cast<int32_t>(std::lround(std::clamp(right, kLow, kHigh)));
  }
}

Psg::Pan PsgPan(PsgStereo layout, double width) {
  constexpr double kQuarterTurn = 1.5707963267948966;
  // Position -1 (left) to 1 (right) of channels A, B, C.
  double position[Psg::kChannels] = {0, 0, 0};
  if (layout == PsgStereo::kAbc) {
    position[0] = -width;
    position[2] = width;
  } else if (layout == PsgStereo::kAcb) {
    position[0] = -width;
    position[1] = width;
  }
  // sqrt(2) x cos and sin of 0 to a quarter turn: 1 and 1 in the centre.
  const double unit = std::sqrt(2.0) * Psg::kPanUnit;
  Psg::Pan pan{};
  for (uint32_t c = 0; c < Psg::kChannels; ++c) {
    const double angle = (position[c] + 1) * kQuarterTurn / 2;
    pan.left[c] = static_cast<int32_t>(std::lround(unit * std::cos(angle)));
    pan.right[c] = static_cast<int32_t>(std::lround(unit * std::sin(angle)));
  }
  return pan;
}
