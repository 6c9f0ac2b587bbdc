// Single tones played through chips mode and measured: the pitch by zero crossings, the
// harmonic and inharmonic energy and the harmonic levels by a windowed DFT. The tests check
// with it; bench/chips_measure reports with it.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "music/music_log.h"
#include "player/music_chips.h"
#include "player/music_player.h"

namespace tone {

constexpr double kPi = 3.14159265358979323846;

inline void Write(MusicLog* log, uint8_t chip, uint8_t reg, uint8_t data) {
  log->events.push_back({0, chip, reg, data});
}

inline void Wait(MusicLog* log, double seconds) {
  const uint32_t ticks = static_cast<uint32_t>(seconds * 44100);
  log->events.push_back({ticks, 0, 0, 0});
  log->total_ticks += ticks;
}

// FM channel 1, algorithm 7 with only operator M1 sounding (a sine with the given feedback),
// key code kc, key fraction 0, both sides.
inline MusicLog FmTone(uint32_t clock, uint8_t kc, uint8_t feedback, double seconds) {
  MusicLog log;
  log.opm_clock = clock;
  Write(&log, kChipOpm, 0x20, static_cast<uint8_t>(0xC7 | (feedback << 3)));
  Write(&log, kChipOpm, 0x28, kc);
  Write(&log, kChipOpm, 0x30, 0);
  for (uint8_t slot = 0; slot < 4; ++slot) {
    const uint8_t op = static_cast<uint8_t>(slot * 8);
    Write(&log, kChipOpm, 0x40 + op, 0x01);                         // MUL 1
    Write(&log, kChipOpm, 0x60 + op, slot == 0 ? 0 : 127);          // only M1 audible
    Write(&log, kChipOpm, 0x80 + op, 31);                           // fastest attack
    Write(&log, kChipOpm, 0xA0 + op, 0);
    Write(&log, kChipOpm, 0xC0 + op, 0);
    Write(&log, kChipOpm, 0xE0 + op, 0x0F);
  }
  Write(&log, kChipOpm, 0x08, 0x08);  // key on M1, channel 1
  Wait(&log, seconds);
  return log;
}

// PSG 1 channel A: a square of tone period tp at a fixed level, tone only.
inline MusicLog PsgTone(uint32_t clock, const std::string& type, uint32_t tp, uint8_t level,
                        double seconds) {
  MusicLog log;
  log.psg_clock[0] = clock;
  log.psg_type[0] = type;
  Write(&log, kChipPsg1, 0, static_cast<uint8_t>(tp & 0xFF));
  Write(&log, kChipPsg1, 1, static_cast<uint8_t>(tp >> 8));
  Write(&log, kChipPsg1, 7, 0x3E);
  Write(&log, kChipPsg1, 8, level);
  Wait(&log, seconds);
  return log;
}

// PSG 1 channel A at a fixed level with tone and noise off (as at power-on): it sounds from
// the write on, one-sided (chip-true) or not, where a tone's first half-period would be
// silent in the one and low in the other.
inline MusicLog PsgLevel(uint32_t clock, const std::string& type, uint8_t level,
                         double seconds) {
  MusicLog log;
  log.psg_clock[0] = clock;
  log.psg_type[0] = type;
  Write(&log, kChipPsg1, 8, level);
  Wait(&log, seconds);
  return log;
}

// log with seconds of silence before it.
inline MusicLog AfterSilence(const MusicLog& log, double seconds) {
  MusicLog out = log;
  out.events = {};
  out.total_ticks = 0;
  Wait(&out, seconds);
  for (const MusicEvent& e : log.events) out.events.push_back(e);
  out.total_ticks += log.total_ticks;
  return out;
}

// The left side of the whole render of log in chips mode.
inline std::vector<double> Render(const MusicLog& log, uint32_t rate,
                                  const ChipsOptions& options) {
  DirectChips chips(log, rate, AllVoices(), options);
  PlaybackOptions playback;
  playback.rate = rate;
  MusicPlayer player(log, playback, &chips);
  std::vector<double> out;
  std::vector<StereoFrame> block(4096);
  while (!player.finished()) {
    const int32_t n = player.Render(block.data(), 4096);
    for (int32_t i = 0; i < n; ++i) out.push_back(block[i].left);
  }
  return out;
}

// Both sides of the whole render of log in chips mode.
struct Sides {
  std::vector<double> left;
  std::vector<double> right;
};
inline Sides RenderSides(const MusicLog& log, uint32_t rate, const ChipsOptions& options) {
  DirectChips chips(log, rate, AllVoices(), options);
  PlaybackOptions playback;
  playback.rate = rate;
  MusicPlayer player(log, playback, &chips);
  Sides out;
  std::vector<StereoFrame> block(4096);
  while (!player.finished()) {
    const int32_t n = player.Render(block.data(), 4096);
    for (int32_t i = 0; i < n; ++i) {
      out.left.push_back(block[i].left);
      out.right.push_back(block[i].right);
    }
  }
  return out;
}

// The YM2151 clock of the measurements, and the chip's own rate (clock / 64).
inline constexpr uint32_t kOpmClock = 3579545;
inline constexpr double kChipRate = kOpmClock / 64.0;

// A log rendered on the chip at its own rate: at the rounded clock / 64 its rate ratio is
// exactly one, so nothing is converted.
inline std::vector<double> RenderAtChipRate(const MusicLog& log) {
  ChipsOptions direct;
  direct.resample = false;
  return Render(log, static_cast<uint32_t>(std::lround(kChipRate)), direct);
}

// Frequency from the rising zero crossings of x[skip, end), interpolated between samples.
inline double ZeroCrossingHz(const std::vector<double>& x, double rate, size_t skip) {
  double first = -1;
  double last = -1;
  int crossings = 0;
  for (size_t i = skip + 1; i < x.size(); ++i) {
    if (x[i - 1] < 0 && x[i] >= 0) {
      const double t = static_cast<double>(i - 1) + x[i - 1] / (x[i - 1] - x[i]);
      if (first < 0) first = t;
      last = t;
      ++crossings;
    }
  }
  return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0;
}

// Time of the first sample above a tenth of the peak: where the sound starts.
inline double OnsetSeconds(const std::vector<double>& x, double rate) {
  double peak = 0;
  for (double v : x) peak = std::max(peak, std::fabs(v));
  for (size_t i = 0; i < x.size(); ++i) {
    if (std::fabs(x[i]) > peak / 10) return static_cast<double>(i) / rate;
  }
  return 0;
}

inline double Cents(double f, double reference) { return 1200 * std::log2(f / reference); }

// Power spectrum of x[skip, skip + 65536) under a Hann window.
inline std::vector<double> PowerSpectrum(const std::vector<double>& x, size_t skip) {
  constexpr size_t kN = 65536;
  std::vector<std::complex<double>> a(kN);
  for (size_t i = 0; i < kN; ++i) {
    const double w = 0.5 - 0.5 * std::cos(2 * kPi * static_cast<double>(i) / kN);
    a[i] = skip + i < x.size() ? w * x[skip + i] : 0.0;
  }
  for (size_t i = 1, j = 0; i < kN; ++i) {  // bit reversal
    size_t bit = kN >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= kN; len <<= 1) {
    const std::complex<double> wl = std::polar(1.0, -2 * kPi / static_cast<double>(len));
    for (size_t i = 0; i < kN; i += len) {
      std::complex<double> w = 1;
      for (size_t k = 0; k < len / 2; ++k, w *= wl) {
        const std::complex<double> u = a[i + k];
        const std::complex<double> v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
  std::vector<double> power(kN / 2);
  for (size_t i = 0; i < kN / 2; ++i) power[i] = std::norm(a[i]);
  return power;
}

// Energy within +-4 bins of each harmonic of f0 over the energy of every other bin (DC left
// out), in dB.
inline double HarmonicToInharmonicDb(const std::vector<double>& x, double rate, double f0,
                                     size_t skip) {
  const std::vector<double> p = PowerSpectrum(x, skip);
  const double bin = rate / 65536.0;
  std::vector<bool> harmonic(p.size(), false);
  for (double f = f0; f < rate / 2; f += f0) {
    const long centre = std::lround(f / bin);
    for (long b = centre - 4; b <= centre + 4; ++b) {
      if (b >= 0 && b < static_cast<long>(p.size())) harmonic[static_cast<size_t>(b)] = true;
    }
  }
  double h = 0;
  double other = 0;
  for (size_t b = 5; b < p.size(); ++b) (harmonic[b] ? h : other) += p[b];
  return 10 * std::log10(h / other);
}

// Level of harmonic n of f0 relative to the fundamental in dB: x projected on each frequency
// under a Hann window over the second [start, start + 1) of the render, so that renders at
// different rates are measured over the same stretch of time.
inline double HarmonicDb(const std::vector<double>& x, double rate, double f0, int n,
                         double start = 0.5) {
  const size_t first = static_cast<size_t>(start * rate);
  const size_t count = static_cast<size_t>(rate);
  auto level = [&](double f) {
    std::complex<double> sum = 0;
    const std::complex<double> turn = std::polar(1.0, -2 * kPi * f / rate);
    std::complex<double> w = 1;
    for (size_t i = 0; i < count && first + i < x.size(); ++i, w *= turn) {
      const double hann = 0.5 - 0.5 * std::cos(2 * kPi * static_cast<double>(i) / count);
      sum += hann * x[first + i] * w;
    }
    return std::abs(sum);
  };
  return 20 * std::log10(level(n * f0) / level(f0));
}

}  // namespace tone
