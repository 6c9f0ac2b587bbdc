#include "bench/chips_measure_levels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "music/vgm_reader.h"
#include "tests/music_files.h"
#include "tests/tone_analysis.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kAyClock = 1789772;

using tone::Sides;

Sides RenderSides(const MusicLog& log, const ChipsOptions& options) {
  return tone::RenderSides(log, kRate, options);
}

double Peak(const std::vector<double>& x) {
  double peak = 0;
  for (double v : x) peak = std::max(peak, std::fabs(v));
  return peak;
}

// After the first 0.1 s.
double Rms(const std::vector<double>& x) {
  double sum = 0;
  for (size_t i = kRate / 10; i < x.size(); ++i) sum += x[i] * x[i];
  return std::sqrt(sum / static_cast<double>(x.size() - kRate / 10));
}

double Db(double a, double b) { return 20 * std::log10(a / b); }

// A VGM 1.60 file: an AY8910 channel A square of about 440 Hz at level 15 for 0.5 s, with
// volume-modifier byte `modifier`.
MusicLog AyFile(uint8_t modifier) {
  VgmFile f(0x160);
  f.Set(0x74, kAyClock).Byte(0x7C, modifier).Set(0x18, 22050);
  f.Cmd({0xA0, 0x00, 254, 0xA0, 0x07, 0x3E, 0xA0, 0x08, 0x0F, 0x61, 0x22, 0x56, 0x66});
  MusicLog log;
  std::string error;
  if (!ReadVgm(f.Bytes(), "levels.vgm", &log, &error)) std::printf("%s\n", error.c_str());
  return log;
}

void Gain(const ChipsOptions& options) {
  const MusicLog tones[] = {tone::FmTone(tone::kOpmClock, 0x4A, 0, 0.5), AyFile(0)};
  const char* const names[] = {"FM tone ", "PSG tone"};
  for (double db : {6.0, -6.0, 12.0}) {
    ChipsOptions gained = options;
    gained.gain_db = db;
    for (int t = 0; t < 2; ++t) {
      const Sides plain = RenderSides(tones[t], options);
      const Sides loud = RenderSides(tones[t], gained);
      std::printf("--gain %+5.1f  %s: peak %+.3f dB, RMS %+.3f dB\n", db, names[t],
                  Db(Peak(loud.left), Peak(plain.left)), Db(Rms(loud.left), Rms(plain.left)));
    }
  }
}

void Modifier(const ChipsOptions& options) {
  const Sides plain = RenderSides(AyFile(0), options);
  for (int byte : {0xC1, 0xE0, 0xF0, 0x10, 0x20, 0x40}) {
    const MusicLog log = AyFile(static_cast<uint8_t>(byte));
    const Sides out = RenderSides(log, options);
    std::printf("volume modifier 0x%02X (v %4d): %+.3f dB, formula 20 log10 2^(v/32) %+.3f dB\n",
                byte, log.volume_modifier, Db(Rms(out.left), Rms(plain.left)),
                20 * std::log10(std::exp2(log.volume_modifier / 32.0)));
  }
}

void Pan(const ChipsOptions& options) {
  const MusicLog log = AyFile(0);
  const Sides mono = RenderSides(log, options);
  for (double width : {1.0, 0.8, 0.5, 0.0}) {
    ChipsOptions abc = options;
    abc.psg_stereo = PsgStereo::kAbc;
    abc.stereo_width = width;
    const Sides out = RenderSides(log, abc);
    const double right = Rms(out.right) > 0 ? Db(Rms(out.right), Rms(mono.right)) : -INFINITY;
    std::printf("abc width %3.0f%%, channel A: left %+.2f dB, right %+.2f dB against mono; "
                "left - right %.2f dB\n",
                width * 100, Db(Rms(out.left), Rms(mono.left)), right,
                Db(Rms(out.left), Rms(mono.left)) - right);
  }
}

}  // namespace

bool MeasureLevels(const std::string& what, const ChipsOptions& options) {
  if (what != "levels") return false;
  Gain(options);
  Modifier(options);
  Pan(options);
  return true;
}
