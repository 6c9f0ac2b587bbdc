// Range-safe conversions used wherever a clock, rate or volume turns into a fixed-point integer.
// A double outside the target range saturates instead of invoking undefined behaviour.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// Truncates toward zero; +/-infinity and out-of-range values saturate, NaN gives 0.
inline int32_t SaturateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

inline int32_t SaturateToInt32(int64_t value) {
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

inline uint32_t SaturateToUint32(uint64_t value) {
  if (value > std::numeric_limits<uint32_t>::max()) return std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(value);
}
