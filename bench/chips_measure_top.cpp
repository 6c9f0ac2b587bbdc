// chips_measure top: what chips mode's FM converter leaves above 20 kHz at 44.1 kHz, against a
// very-high-quality conversion (libsoxr's 28-bit quality, one shot) of the same chip output.
#include "bench/chips_measure_top.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <soxr.h>

#include "chip_sound/rate_converter.h"
#include "player/chip_resampler.h"
#include "tests/tone_analysis.h"

namespace {

constexpr uint32_t kOut = 44100;
constexpr uint32_t kDivider = 64;
constexpr int32_t kSegment = 4096;

// Power at f (Hz) of x, Hann-windowed segments of kSegment averaged (Welch), in dB.
double PowerDb(const std::vector<double>& x, double f) {
  double sum = 0;
  int segments = 0;
  for (size_t start = 8192; start + kSegment <= x.size(); start += kSegment / 2) {
    double re = 0;
    double im = 0;
    for (int32_t i = 0; i < kSegment; ++i) {
      const double w = 0.5 - 0.5 * std::cos(2 * tone::kPi * i / kSegment);
      const double phase = 2 * tone::kPi * f * static_cast<double>(start + i) / kOut;
      re += w * x[start + i] * std::cos(phase);
      im += w * x[start + i] * std::sin(phase);
    }
    sum += re * re + im * im;
    ++segments;
  }
  return 10 * std::log10(sum / segments + 1e-300);
}

}  // namespace

void MeasureTopOctave() {
  // White noise at the chip's rate (a fixed LCG), 20 s: its spectrum after conversion is the
  // converter's response, passband and folded stopband together.
  const double chip_rate = tone::kOpmClock / static_cast<double>(kDivider);
  const auto frames = static_cast<int32_t>(20 * chip_rate);
  std::vector<int32_t> noise(static_cast<size_t>(frames));
  uint32_t seed = 12345;
  for (int32_t& v : noise) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<int32_t>(seed >> 16) - 32768;
  }
  size_t fed = 0;
  ChipResampler ours(tone::kOpmClock, kDivider, kOut, [&](StereoFrame* f, int32_t n) {
    for (int32_t i = 0; i < n; ++i, ++fed) {
      const int32_t v = fed < noise.size() ? noise[fed] : 0;
      f[i].left += v;
      f[i].right += v;
    }
  });
  const auto out_frames = static_cast<int32_t>(static_cast<double>(frames) * kOut / chip_rate);
  std::vector<StereoFrame> converted(static_cast<size_t>(out_frames), StereoFrame{0, 0});
  ours.Mix(converted.data(), out_frames);
  std::vector<double> a;
  for (const StereoFrame& f : converted) a.push_back(f.left);

  std::vector<float> in(noise.begin(), noise.end());
  std::vector<float> out(static_cast<size_t>(out_frames) + 4096);
  size_t done = 0;
  const soxr_quality_spec_t vhq = soxr_quality_spec(SOXR_VHQ, 0);
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  soxr_oneshot(chip_rate, kOut, 1, in.data(), in.size(), nullptr, out.data(), out.size(), &done,
               &io, &vhq, nullptr);
  std::vector<double> b(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(done));

  const double ref_a = PowerDb(a, 1000);
  const double ref_b = PowerDb(b, 1000);
  std::printf("noise at clock / 64 converted to 44,100 Hz: dB against 1 kHz (chips mode / "
              "very high quality / difference)\n");
  double worst = 0;
  for (double f = 19000; f <= 22000; f += 250) {
    const double x = PowerDb(a, f) - ref_a;
    const double y = PowerDb(b, f) - ref_b;
    // Where both are far below the music (beyond 100 dB down) a difference is inaudible.
    if (f > 20000 && y > -100) worst = std::max(worst, std::fabs(x - y));
    std::printf("  %5.0f Hz: %8.2f / %8.2f / %+6.2f\n", f, x, y, x - y);
  }
  std::printf("largest difference above 20 kHz where the reference is within 100 dB: %.2f dB\n",
              worst);
  std::printf("the converter's latency: %zu frames (%.1f ms)\n", ours.latency(),
              1000.0 * static_cast<double>(ours.latency()) / kOut);
}

void MeasureChipSoundConverter() {
  constexpr uint32_t kBoardClock = 3993600;
  const double chip_rate = kBoardClock / static_cast<double>(kDivider);
  const RateConverter converter(kBoardClock, kDivider, kOut);
  std::printf("board's chip sound: sines at %.0f Hz, 28000 (-3 dB) amplitude, converted to %u Hz\n",
              chip_rate, kOut);
  for (double f : {1000.0, 10000.0, 16000.0, 18000.0, 19000.0, 20000.0, 21000.0, 22000.0,
                   23500.0, 25000.0, 28000.0, 31000.0}) {
    const int32_t out_frames = 3 * static_cast<int32_t>(kOut);
    const auto chip_frames = static_cast<size_t>(converter.ChipFrames(out_frames) + 64);
    std::vector<int16_t> sine(chip_frames);
    for (size_t i = 0; i < chip_frames; ++i) {
      sine[i] = static_cast<int16_t>(std::lround(28000 * std::sin(2 * tone::kPi * f * i / chip_rate)));
    }
    std::vector<StereoFrame> out(static_cast<size_t>(out_frames), StereoFrame{0, 0});
    converter.Convert(sine.data(), sine.data(), 0, 16384, out.data(), out_frames);
    std::vector<double> x(out.size());
    for (size_t i = 0; i < out.size(); ++i) x[i] = out[i].left;
    // Below half the output rate the sine itself; above it, where it folds to.
    const double heard = f < kOut / 2.0 ? f : kOut - f;
    std::vector<double> reference(out.size());
    for (size_t i = 0; i < out.size(); ++i) reference[i] = 28000 * std::sin(2 * tone::kPi * heard * i / kOut);
    const double db = PowerDb(x, heard) - PowerDb(reference, heard);
    std::printf("  %7.0f Hz %s %7.0f Hz: %+8.2f dB\n", f, f < kOut / 2.0 ? "passes at" : "folds to ",
                heard, db);
  }
}
