#include "psg/step_kernel.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "common/kaiser.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kCutoff = 0.44;  // of the frame rate
constexpr double kBeta = 6.5;     // the Kaiser window's shape

// The impulse response at x frames from its middle: a Kaiser-windowed sinc.
double Impulse(double x) {
  constexpr double kHalf = StepKernel::kTaps / 2.0;
  const double r = x / (kHalf + 1);
  const double window = std::fabs(r) < 1 ? BesselI0(kBeta * std::sqrt(1 - r * r)) : 0;
  const double sinc = x == 0 ? 1 : std::sin(2 * kPi * kCutoff * x) / (2 * kPi * kCutoff * x);
  return sinc * window;
}

// The impulse on a grid of 1 / kPhases of a frame, from kFirst points before its middle to
// kTaps / 2 frames after it: every point that the integrals below read.
struct ImpulseGrid {
  static constexpr int kFirst = (StepKernel::kTaps / 2 + 1) * StepKernel::kPhases +
                                StepKernel::kPhases / 2;
  static constexpr int kPoints = kFirst + StepKernel::kTaps / 2 * StepKernel::kPhases;
  std::vector<double> values = std::vector<double>(kPoints);

  ImpulseGrid() {
    for (int m = 0; m < kPoints; ++m) {
      values[m] = Impulse(static_cast<double>(m - kFirst) / StepKernel::kPhases);
    }
  }
  // The impulse at m / kPhases frames from its middle.
  double at(int m) const { return values[m + kFirst]; }
};

// The impulse integrated over the frame centred m / kPhases frames from its middle (Simpson's
// rule, 8 intervals of kPhases / 8 grid points): how far the step rises over that frame.
double RiseOverFrame(const ImpulseGrid& grid, int m) {
  constexpr int kIntervals = 8;
  constexpr int kStride = StepKernel::kPhases / kIntervals;
  const int start = m - StepKernel::kPhases / 2;
  double sum = grid.at(start) + grid.at(start + kIntervals * kStride);
  for (int k = 1; k < kIntervals; ++k) sum += (k % 2 == 1 ? 4 : 2) * grid.at(start + k * kStride);
  return sum / (3 * kIntervals);
}

StepKernel Build() {
  StepKernel kernel{};
  const ImpulseGrid grid;
  for (uint32_t p = 0; p < StepKernel::kPhases; ++p) {
    // Tap j is the rise over the frame centred j - kTaps / 2 - p / kPhases frames from the
    // middle. Summed frame by frame, the rises give the step at each frame's time: the
    // impulse's own samples, summed, would weigh each frequency by the reciprocal of a
    // frame-long box's response (treble up by 2.2 dB at 0.38 of the frame rate).
    double row[StepKernel::kTaps];
    double sum = 0;
    for (uint32_t j = 0; j < StepKernel::kTaps; ++j) {
      constexpr int kMiddle = StepKernel::kTaps / 2;
      const int m = (static_cast<int>(j) - kMiddle) * static_cast<int>(StepKernel::kPhases) -
                    static_cast<int>(p);
      row[j] = RiseOverFrame(grid, m);
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
