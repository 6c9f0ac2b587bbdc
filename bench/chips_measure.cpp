// chips_measure: single tones through chips mode, measured.
//
//   chips_measure pitch    [OPTIONS]  FM key code 0x4A, fraction 0 at 3,579,545 Hz, rendered at
//                                     22,050 / 44,100 / 48,000 / 96,000 Hz: Hz and cents against
//                                     the chip at its own rate (clock / 64)
//   chips_measure alias    [OPTIONS]  AY squares (1,789,772 Hz) near 280, 1,100, 3,700 and 7,500 Hz
//                                     at 44,100 Hz: harmonic over inharmonic energy in dB
//   chips_measure curve    [OPTIONS]  levels 9-15 of an AY8910 and a YM2149 tone, dB against 15
//   chips_measure kernel             the band-limited PSG step's impulse response, from its
//                                     table: dB at fractions of the output rate
//   chips_measure timing   [OPTIONS]  when an FM note and a PSG level start after 0.1 s of
//                                     silence, in ms against the chips at the output rate (no
//                                     conversion)
//   chips_measure feedback [OPTIONS]  FM feedback 6 and 7 at 44,100 Hz: harmonics below 16 kHz
//                                     against the chip at clock / 64, largest difference in dB
//   chips_measure top                 white noise at the FM chip's rate converted to 44,100 Hz:
//                                     dB from 19 to 22 kHz against a very-high-quality one
//   chips_measure chipsound           the board's chip-sound FM converter: sines at the chip's
//                                     rate, dB where they pass below 22,050 Hz or fold from above
//   chips_measure boardpitch          FM key codes and AY tone periods of songs at 3,579,545 /
//                                     1,789,772 Hz through the module file (--board), retuned
//                                     and as written, in cents against the songs' own pitch
//   chips_measure fmtable  [OPTIONS]  the FM's pitch at every key code and fraction of octaves 0-7
//                                     against the chip's phase-step table (chipfacts), in cents
//   chips_measure dt2      [OPTIONS]  the FM's DT2 1-3 against the chip's table, in cents
//   chips_measure vibrato  [OPTIONS]  FM vibrato peak to peak at PMS 1-7, PMD 127 and 64, and
//                                     its shape for saw and square, against the chip's scaling
//   chips_measure vibshape [OPTIONS]  FM vibrato after an LFO reset: which way each waveform
//                                     moves the pitch first, and the saw's slope and jump
//   chips_measure lfonoise [OPTIONS]  FM vibrato from the LFO's noise, rendered twice after
//                                     different seeds of rand(): samples that differ
//   chips_measure envelope [OPTIONS]  FM D1R 31 (rate 63): time to -40 dB
//   chips_measure attack   [OPTIONS]  FM AR 29 KS 1: the level after a key code that takes the
//                                     attack to rate 63, written at the key-on or during it
//   chips_measure clip     [OPTIONS]  the FM songs at the chip's rate: samples at the output's
//                                     bound, and loud samples the chip's DAC could not give
// The FM subcommands fmtable, dt2, attack and clip take the chip at its own rate as chips mode
// sets it up; vibrato, vibshape, lfonoise and envelope render through chips mode at 44,100 Hz.
//   chips_measure psg...            the PSG's own measurements: see bench/chips_measure_psg.h
//   chips_measure levels [OPTIONS]  gains, volume modifier, PSG stereo: bench/chips_measure_levels.h
// OPTIONS: --resampler none (as vorla's: the chips at the output rate, no AY curve, the FM and
// the PSGs as the board's).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/chips_measure_fm.h"
#include "bench/chips_measure_levels.h"
#include "bench/chips_measure_psg.h"
#include "bench/chips_measure_top.h"
#include "tests/tone_analysis.h"
#include "player/music_chips.h"
#include "psg/step_kernel.h"

namespace {

constexpr uint32_t kAyClock = 1789772;

void Pitch(const ChipsOptions& options) {
  const MusicLog log = tone::FmTone(tone::kOpmClock, 0x4A, 0, 2.5);
  const double reference = tone::ZeroCrossingHz(tone::RenderAtChipRate(log), tone::kChipRate,
                                          20000);
  std::printf("chip at clock / 64: %.3f Hz\n", reference);
  for (uint32_t rate : {22050u, 44100u, 48000u, 96000u}) {
    const double f = tone::ZeroCrossingHz(tone::Render(log, rate, options), rate, rate / 2);
    std::printf("%6u Hz: %.3f Hz, %+.2f cents\n", rate, f, tone::Cents(f, reference));
  }
}

void Alias(const ChipsOptions& options) {
  for (double want : {280.0, 1100.0, 3700.0, 7500.0}) {
    const uint32_t tp = static_cast<uint32_t>(std::lround(kAyClock / (16 * want)));
    const double f0 = kAyClock / (16.0 * tp);
    const std::vector<double> x =
        tone::Render(tone::PsgTone(kAyClock, "AY8910", tp, 15, 2.0), 44100, options);
    std::printf("%7.1f Hz (TP %u): %.1f dB\n", f0, tp,
                tone::HarmonicToInharmonicDb(x, 44100, f0, 4410));
  }
}

double Rms(const std::vector<double>& x) {
  double sum = 0;
  for (size_t i = x.size() / 4; i < x.size(); ++i) sum += x[i] * x[i];
  return std::sqrt(sum / static_cast<double>(x.size() - x.size() / 4));
}

void Curve(const ChipsOptions& options) {
  for (const char* type : {"AY8910", "YM2149"}) {
    const double top = Rms(tone::Render(tone::PsgTone(kAyClock, type, 254, 15, 0.5), 44100,
                                        options));
    std::printf("%s:", type);
    for (uint8_t level = 9; level <= 14; ++level) {
      const double rms =
          Rms(tone::Render(tone::PsgTone(kAyClock, type, 254, level, 0.5), 44100, options));
      std::printf("  %u: %.1f dB", level, 20 * std::log10(rms / top));
    }
    std::printf("\n");
  }
}

void Kernel() {
  // Row p, tap j holds the impulse integrated over the frame centred j - kTaps / 2 - p / kPhases
  // frames from its middle: together the rows sample that every 1 / kPhases of a frame. That
  // is the impulse through a frame-long box, which weighs each frequency by
  // sin(pi f) / (pi f): in the pass band the box is divided out, giving the step's own
  // response; the stop band is the table's as it stands (the box only lowers it, and where the
  // box is near 0 dividing would tell nothing).
  const StepKernel& k = StepKernel::Get();
  auto table_db = [&k](double f) {
    double re = 0;
    double im = 0;
    double sum = 0;
    for (uint32_t p = 0; p < StepKernel::kPhases; ++p) {
      for (uint32_t j = 0; j < StepKernel::kTaps; ++j) {
        const double x =
            j - StepKernel::kTaps / 2.0 - static_cast<double>(p) / StepKernel::kPhases;
        re += k.taps[p][j] * std::cos(2 * tone::kPi * f * x);
        im += k.taps[p][j] * std::sin(2 * tone::kPi * f * x);
        sum += k.taps[p][j];
      }
    }
    return 20 * std::log10(std::hypot(re, im) / sum);
  };
  for (double f : {0.30, 0.38, 0.40, 0.42, 0.44, 0.46, 0.48, 0.50}) {
    const double box = std::sin(tone::kPi * f) / (tone::kPi * f);
    std::printf("  %.2f of the rate: %7.2f dB\n", f, table_db(f) - 20 * std::log10(box));
  }
  double worst = -1000;
  for (double f = 0.5; f <= 4.0; f += 0.001) worst = std::max(worst, table_db(f));
  std::printf("  the table's highest from 0.50 to 4.00 of the rate: %.1f dB\n", worst);
}

void Timing(const ChipsOptions& options) {
  ChipsOptions unconverted;
  unconverted.resample = false;
  const MusicLog fm = tone::AfterSilence(tone::FmTone(tone::kOpmClock, 0x4A, 0, 0.2), 0.1);
  const MusicLog psg = tone::AfterSilence(tone::PsgLevel(kAyClock, "YM2149", 15, 0.2), 0.1);
  for (uint32_t rate : {22050u, 44100u, 48000u, 96000u}) {
    std::printf("%6u Hz:", rate);
    for (const MusicLog* log : {&fm, &psg}) {
      const double late = tone::OnsetSeconds(tone::Render(*log, rate, options), rate) -
                          tone::OnsetSeconds(tone::Render(*log, rate, unconverted), rate);
      std::printf("  %s %+.2f ms", log == &fm ? "FM" : "PSG", 1000 * late);
    }
    std::printf("\n");
  }
}

void Feedback(const ChipsOptions& options) {
  // Each render's own pitch, from its plain sine: a wave with feedback may cross zero more than
  // once a period.
  const MusicLog sine = tone::FmTone(tone::kOpmClock, 0x4A, 0, 2.0);
  const double chip_f0 = tone::ZeroCrossingHz(tone::RenderAtChipRate(sine), tone::kChipRate, 20000);
  const double f0 = tone::ZeroCrossingHz(tone::Render(sine, 44100, options), 44100, 20000);
  for (uint8_t fb : {6, 7}) {
    const MusicLog log = tone::FmTone(tone::kOpmClock, 0x4A, fb, 2.0);
    const std::vector<double> chip = tone::RenderAtChipRate(log);
    const std::vector<double> ours = tone::Render(log, 44100, options);
    std::printf("feedback %u (dB, chip at clock / 64 / chips mode):", fb);
    double worst = 0;
    int worst_n = 0;
    for (int n = 2; n * chip_f0 < 16000; ++n) {
      const double a = tone::HarmonicDb(chip, tone::kChipRate, chip_f0, n);
      const double b = tone::HarmonicDb(ours, 44100, f0, n, 0.5);
      if (n <= 4) std::printf("  h%d %.2f / %.2f", n, a, b);
      if (std::fabs(a - b) > worst) {
        worst = std::fabs(a - b);
        worst_n = n;
      }
    }
    std::printf("\n  largest difference below 16 kHz: %.2f dB at h%d (%.1f / %.1f dB)\n", worst,
                worst_n, tone::HarmonicDb(chip, tone::kChipRate, chip_f0, worst_n),
                tone::HarmonicDb(ours, 44100, f0, worst_n, 0.5));
  }
}

// Song tones through the module file with --board, retuned and as written, against the
// file's own pitch: FM key codes at 3,579,545 Hz against the chip's table at that clock (the
// chip at its own rate), AY tone periods at 1,789,772 Hz against clock / (16 x period).
void BoardPitch() {
  const std::string module = std::filesystem::canonical("/proc/self/exe")
                                 .parent_path().parent_path().string() + "/Vorla.vyx";
  ModuleLibrary library;
  std::string error;
  if (!library.Open(module, &error)) {
    std::fprintf(stderr, "chips_measure: %s: %s\n", module.c_str(), error.c_str());
    std::exit(1);
  }
  auto render = [&library](const MusicLog& log, bool retune) {
    std::string why;
    std::unique_ptr<BoardChips> chips = BoardChips::Create(
        LoadedBoard::Factory(library.create()), 44100, AllVoices(), 0, RunFiles{},
        HostSwitchValues{}, retune ? &log : nullptr, &why);
    PlaybackOptions playback;
    playback.rate = 44100;
    MusicPlayer player(log, playback, chips.get());
    std::vector<double> out;
    std::vector<StereoFrame> block(4096);
    while (!player.finished()) {
      const int32_t n = player.Render(block.data(), 4096);
      for (int32_t i = 0; i < n; ++i) out.push_back(block[i].left);
    }
    chips->Finish();
    return out;
  };
  std::printf("FM key code (cents against the chip at 3,579,545 Hz: retuned / as written):\n");
  double worst_fm = 0;
  for (uint8_t kc : {0x1Au, 0x2Eu, 0x3Au, 0x44u, 0x4Au, 0x55u, 0x61u, 0x6Au}) {
    const MusicLog log = tone::FmTone(tone::kOpmClock, kc, 0, 1.5);
    const double chip = tone::ZeroCrossingHz(tone::RenderAtChipRate(log), tone::kChipRate, 20000);
    const double moved = tone::Cents(tone::ZeroCrossingHz(render(log, true), 44100, 4410), chip);
    const double raw = tone::Cents(tone::ZeroCrossingHz(render(log, false), 44100, 4410), chip);
    worst_fm = std::max(worst_fm, std::fabs(moved));
    std::printf("  0x%02X (%8.2f Hz): %+6.2f / %+7.2f\n", kc, chip, moved, raw);
  }
  std::printf("  largest retuned: %.2f cents\n", worst_fm);
  std::printf("AY tone period (cents against 1,789,772 / (16 x period): retuned / as written):\n");
  double worst_high = 0;
  for (uint32_t tp : {20u, 60u, 150u, 260u, 400u, 1000u, 3000u}) {
    const MusicLog log = tone::PsgTone(kAyClock, "AY8910", tp, 15, 1.5);
    const double want = kAyClock / (16.0 * tp);
    const double moved = tone::Cents(tone::ZeroCrossingHz(render(log, true), 44100, 4410), want);
    const double raw = tone::Cents(tone::ZeroCrossingHz(render(log, false), 44100, 4410), want);
    // Half a step of the board's period, in cents: the most rounding can leave.
    const double half_step = 1200 * std::log2((tp * 1996800.0 / kAyClock + 0.5) /
                                              (tp * 1996800.0 / kAyClock));
    if (tp >= 260) worst_high = std::max(worst_high, std::fabs(moved));
    std::printf("  %4u (%7.1f Hz): %+6.2f / %+7.2f  (half a period step: %.2f)\n", tp, want,
                moved, raw, half_step);
  }
  std::printf("  largest retuned from period 260 up: %.2f cents\n", worst_high);
}

}  // namespace

int main(int argc, char** argv) {
  ChipsOptions options;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--resampler") == 0 && i + 1 < argc) {
      options.resample = std::strcmp(argv[++i], "none") != 0;
      options.ay_curve = options.resample;
    } else {
      std::fprintf(stderr, "chips_measure: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "pitch") {
    Pitch(options);
  } else if (what == "alias") {
    Alias(options);
  } else if (what == "curve") {
    Curve(options);
  } else if (what == "kernel") {
    Kernel();
  } else if (what == "timing") {
    Timing(options);
  } else if (what == "feedback") {
    Feedback(options);
  } else if (what == "top") {
    MeasureTopOctave();
  } else if (what == "chipsound") {
    MeasureChipSoundConverter();
  } else if (what == "boardpitch") {
    BoardPitch();
  } else if (what == "fmtable") {
    chips_fm::Table(options);
  } else if (what == "dt2") {
    chips_fm::Dt2(options);
  } else if (what == "vibrato") {
    chips_fm::Vibrato(options);
  } else if (what == "vibshape") {
    chips_fm::VibratoShape(options);
  } else if (what == "lfonoise") {
    chips_fm::LfoNoise(options);
  } else if (what == "envelope") {
    chips_fm::Envelope(options);
  } else if (what == "attack") {
    chips_fm::Attack(options);
  } else if (what == "clip") {
    chips_fm::Clip(options);
  } else if (!MeasurePsg(what, options) && !MeasureLevels(what, options)) {
    std::fprintf(stderr, "usage: chips_measure pitch|alias|curve|kernel|timing|feedback|"
                         "top|boardpitch|fmtable|dt2|vibrato|vibshape|lfonoise|envelope|"
                         "attack|clip|"
                         "psgsquare|psgnoise|psgoutput|"
                         "psgenvelope|psglevels|psgperiod|psgcounters|levels [--resampler none]\n");
    return 2;
  }
  return 0;
}
