#include "chip_sound/rate_converter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
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

// phases rows of taps for a cut-off in cycles a chip frame.
std::vector<int16_t> BuildTaps(uint32_t phases, double cutoff) {
  constexpr int32_t kTaps = RateConverter::kTaps;
  constexpr int32_t kHalf = RateConverter::kHalf;
  constexpr int32_t kUnity = 1 << RateConverter::kUnityBits;
  std::vector<int16_t> taps(static_cast<size_t>(phases) * kTaps);
  for (uint32_t p = 0; p < phases; ++p) {
    double row[kTaps];
    double sum = 0;
    for (int32_t m = 0; m < kTaps; ++m) {
      // Tap m reads chip frame ip - kHalf + 1 + m, this far before the output frame's time.
      const double t = static_cast<double>(p) / phases + (kHalf - 1 - m);
      const double x = 2 * cutoff * t;
      const double sinc = x == 0 ? 1 : std::sin(kPi * x) / (kPi * x);
      row[m] = sinc * KaiserWindowScaled(t / kHalf, kBeta);
      sum += row[m];
    }
    // Rounded to kUnity in all; what rounding leaves over goes to the largest tap.
    int32_t total = 0;
    int32_t largest = 0;
    int16_t* out = &taps[static_cast<size_t>(p) * kTaps];
    for (int32_t m = 0; m < kTaps; ++m) {
      out[m] = static_cast<int16_t>(std::lround(row[m] / sum * kUnity));
      total += out[m];
      if (std::abs(out[m]) > std::abs(out[largest])) largest = m;
    }
    out[largest] = static_cast<int16_t>(out[largest] + kUnity - total);
  }
  return taps;
}

// One side's window times one phase's taps. 16-bit by 16-bit products in a 32-bit sum: a row's
// taps add up to 2^14 and their magnitudes to at most 2.6 times that (the widest cut-off), so
// no window of 16-bit samples takes the sum past 2^31.
int32_t Window(const int16_t* samples, const int16_t* taps) {
  int32_t sum = 0;
  for (int32_t m = 0; m < RateConverter::kTaps; ++m) sum += int32_t{samples[m]} * taps[m];
  return sum;
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
  // The cut-off in cycles a chip frame: below the output's half rate, or the chip's.
  const double chip_rate = static_cast<double>(num_) / divider;
  if (rate >= chip_rate && phase_unit_ == 0) {
    // Every rate above the chip's with rounded phases has the same taps: built once.
    static const auto shared =
        std::make_shared<const std::vector<int16_t>>(BuildTaps(kMaxPhases, kCutoffShare * 0.5));
    taps_ = shared;
    return;
  }
  const double lower_rate = std::min(chip_rate, static_cast<double>(rate));
  const double cutoff = kCutoffShare * 0.5 * lower_rate / chip_rate;
  taps_ = std::make_shared<const std::vector<int16_t>>(BuildTaps(phases_, cutoff));
}


void RateConverter::Convert(const int16_t* left, const int16_t* right, uint64_t first,
                            int32_t gain, StereoFrame* out, int32_t count) const {
  uint64_t ip = first * num_ / den_;
  uint64_t rem = first * num_ % den_;
  const uint64_t base = ip;
  const uint64_t step = num_ / den_;
  const uint64_t step_rem = num_ % den_;
  // The sums are in 1 / 2^kUnityBits, the gain in 1 / 2^14: rounded once.
  constexpr int32_t kShift = kUnityBits + 14;
  constexpr int64_t kHalfUnit = int64_t{1} << (kShift - 1);
  const int16_t* all_taps = taps_->data();
  for (int32_t i = 0; i < count; ++i) {
    const uint32_t phase = phase_unit_ != 0 ? static_cast<uint32_t>(rem / phase_unit_)
                                            : static_cast<uint32_t>(rem * kMaxPhases / den_);
    const int16_t* taps = all_taps + static_cast<size_t>(phase) * kTaps;
    const size_t at = ip - base;
    const int64_t l = int64_t{Window(left + at, taps)} * gain + kHalfUnit;
    const int64_t r = int64_t{Window(right + at, taps)} * gain + kHalfUnit;
    out[i].left = AddWrapping(out[i].left, static_cast<int32_t>(l >> kShift));
    out[i].right = AddWrapping(out[i].right, static_cast<int32_t>(r >> kShift));
    ip += step;
    rem += step_rem;
    if (rem >= den_) {
      rem -= den_;
      ++ip;
    }
  }
}
