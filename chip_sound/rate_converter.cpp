#include "chip_sound/rate_converter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include "common/kaiser.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBeta = 7.0;          // the window's shape: about 70 dB down in the stop band
constexpr double kCutoffShare = 0.97;  // of the lower of the two half rates

// Wraps around past the int32 range, as the chips' own sums do.
int32_t AddWrapping(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

RateConverter::RateConverter(uint32_t clock, uint32_t divider, uint32_t rate)
    : num_(clock), den_(uint64_t{divider} * std::max<uint32_t>(rate, 1)) {
  const uint64_t common = std::gcd(num_, den_);
  if (den_ / common <= kMaxPhases) {
    phases_ = static_cast<uint32_t>(den_ / common);
    phase_unit_ = common;
  } else {
    phases_ = kMaxPhases;
    phase_unit_ = 0;
  }
  // The cut-off in cycles a chip frame.
  const double chip_rate = static_cast<double>(num_) / divider;
  const double lower_rate = std::min(chip_rate, static_cast<double>(rate));
  const double cutoff = kCutoffShare * 0.5 * lower_rate / chip_rate;
  taps_.resize(static_cast<size_t>(phases_) * kTaps);
  for (uint32_t p = 0; p < phases_; ++p) {
    double row[kTaps];
    double sum = 0;
    for (int32_t m = 0; m < kTaps; ++m) {
      // Tap m reads chip frame ip - kHalf + 1 + m, this far before the output frame's time.
      const double t = static_cast<double>(p) / phases_ + (kHalf - 1 - m);
      const double x = 2 * cutoff * t;
      const double sinc = x == 0 ? 1 : std::sin(kPi * x) / (kPi * x);
      row[m] = sinc * KaiserWindow(t / kHalf, kBeta);
      sum += row[m];
    }
    // Rounded to kUnity in all; what rounding leaves over goes to the largest tap.
    int32_t total = 0;
    int32_t largest = 0;
    int16_t* out = &taps_[static_cast<size_t>(p) * kTaps];
    for (int32_t m = 0; m < kTaps; ++m) {
      out[m] = static_cast<int16_t>(std::lround(row[m] / sum * (1 << kUnityBits)));
      total += out[m];
      if (std::abs(out[m]) > std::abs(out[largest])) largest = m;
    }
    out[largest] = static_cast<int16_t>(out[largest] + (1 << kUnityBits) - total);
  }
}

void RateConverter::Convert(const StereoFrame* chip, uint64_t first, StereoFrame* out,
                            int32_t count) const {
  uint64_t ip = first * num_ / den_;
  uint64_t rem = first * num_ % den_;
  const uint64_t base = ip;
  const uint64_t step = num_ / den_;
  const uint64_t step_rem = num_ % den_;
  constexpr int64_t kHalfUnit = int64_t{1} << (kUnityBits - 1);
  for (int32_t i = 0; i < count; ++i) {
    const uint32_t phase = phase_unit_ != 0 ? static_cast<uint32_t>(rem / phase_unit_)
                                            : static_cast<uint32_t>(rem * kMaxPhases / den_);
    const int16_t* taps = &taps_[static_cast<size_t>(phase) * kTaps];
    const StereoFrame* window = chip + (ip - base);
    int64_t left = kHalfUnit;
    int64_t right = kHalfUnit;
    for (int32_t m = 0; m < kTaps; ++m) {
      left += int64_t{window[m].left} * taps[m];
      right += int64_t{window[m].right} * taps[m];
    }
    out[i].left = AddWrapping(out[i].left, static_cast<int32_t>(left >> kUnityBits));
    out[i].right = AddWrapping(out[i].right, static_cast<int32_t>(right >> kUnityBits));
    ip += step;
    rem += step_rem;
    if (rem >= den_) {
      rem -= den_;
      ++ip;
    }
  }
}
