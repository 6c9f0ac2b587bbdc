#include "player/levels.h"

#include <algorithm>
#include <cmath>

double GainFactor(double db) { return db == 0 ? 1.0 : std::pow(10.0, db / 20.0); }

void AddScaled(const StereoFrame* from, StereoFrame* to, int32_t count, double factor) {
  // The factor in 1 / 2^24, below 2^32 (under +48 dB): a product with an int32 stays inside
  // 64 bits.
  constexpr int kBits = 24;
  constexpr double kMaxFactor = 4294967295.0;
  const auto q =
      static_cast<int64_t>(std::clamp(std::round(factor * (1 << kBits)), 0.0, kMaxFactor));
  constexpr int64_t kHalf = int64_t{1} << (kBits - 1);
  auto add = [q](int32_t sum, int32_t v) {
    const int64_t x = int64_t{sum} + ((int64_t{v} * q + kHalf) >> kBits);
    return static_cast<int32_t>(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX));
  };
  for (int32_t i = 0; i < count; ++i) {
    to[i].left = add(to[i].left, from[i].left);
    to[i].right = add(to[i].right, from[i].right);
  }
}

PsgOutput::Pan PsgPan(PsgStereo layout, double width) {
  constexpr double kQuarterTurn = 1.5707963267948966;
  // Position -1 (left) to 1 (right) of channels A, B, C.
  double position[PsgOutput::kChannels] = {0, 0, 0};
  if (layout == PsgStereo::kAbc) {
    position[0] = -width;
    position[2] = width;
  } else if (layout == PsgStereo::kAcb) {
    position[0] = -width;
    position[1] = width;
  }
  // sqrt(2) x cos and sin of 0 to a quarter turn: 1 and 1 in the centre.
  const double unit = std::sqrt(2.0) * PsgOutput::kPanUnit;
  PsgOutput::Pan pan{};
  for (uint32_t c = 0; c < PsgOutput::kChannels; ++c) {
    const double angle = (position[c] + 1) * kQuarterTurn / 2;
    pan.left[c] = static_cast<int32_t>(std::lround(unit * std::cos(angle)));
    pan.right[c] = static_cast<int32_t>(std::lround(unit * std::sin(angle)));
  }
  return pan;
}
