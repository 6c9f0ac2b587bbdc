#include "psg/step_kernel.h"

#include <cmath>
#include <cstdlib>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kCutoff = 0.44;  // of the frame rate
constexpr double kBeta = 6.5;     // the Kaiser window's shape

// The modified Bessel function of order 0, by its series.
double BesselI0(double x) {
  double sum = 1;
  double term = 1;
  for (int k = 1; k < 40; ++k) {
    term *= (x / (2 * k)) * (x / (2 * k));
    sum += term;
  }
  return sum;
}

StepKernel Build() {
  StepKernel kernel{};
  constexpr double kHalf = StepKernel::kTaps / 2.0;
  for (uint32_t p = 0; p < StepKernel::kPhases; ++p) {
    // Tap j samples the impulse response at j - kHalf - p / kPhases frames from its middle.
    double row[StepKernel::kTaps];
    double sum = 0;
    for (uint32_t j = 0; j < StepKernel::kTaps; ++j) {
      const double x = j - kHalf - static_cast<double>(p) / StepKernel::kPhases;
      const double r = x / (kHalf + 1);
      const double window = std::fabs(r) < 1 ? BesselI0(kBeta * std::sqrt(1 - r * r)) : 0;
      const double sinc = x == 0 ? 1 : std::sin(2 * kPi * kCutoff * x) / (2 * kPi * kCutoff * x);
      row[j] = sinc * window;
      sum += row[j];
    }
    // Rounded to kUnity in all; what rounding leaves over goes to the largest tap.
    int32_t total = 0;
    uint32_t largest = 0;
    for (uint32_t j = 0; j < StepKernel::kTaps; ++j) {
      kernel.taps[p][j] = static_cast<int32_t>(std::lround(row[j] / sum * StepKernel::kUnity));
      total += kernel.taps[p][j];
      if (std::abs(kernel.taps[p][j]) > std::abs(kernel.taps[p][largest])) largest = j;
    }
    kernel.taps[p][largest] += StepKernel::kUnity - total;
  }
  return kernel;
}

}  // namespace

const StepKernel& StepKernel::Get() {
  static const StepKernel kernel = Build();
  return kernel;
}
