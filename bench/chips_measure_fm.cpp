// chips_measure's FM subcommands: the YM2151 as chips mode plays it, against the chip's facts
// (the phase-step table read from chipfacts/opm_phase_steps.txt, the DT2 steps, the vibrato's
// scaling, the fastest envelope and the output's saturation and DAC).
#include "bench/chips_measure_fm.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fm/opm_chip.h"
#include "music/music_reader.h"
#include "player/music_player.h"
#include "tests/tone_analysis.h"

namespace chips_fm {
namespace {

constexpr double kChipFrames = tone::kOpmClock / 64.0;  // the chip's samples per second

std::string SharedDir() {
  const char* env = std::getenv("VORLA_SHARED_DIR");
  return env != nullptr && *env != 0 ? env : VORLA_SOURCE_DIR "/../shared";
}

// The chip's 768 phase increments of block 7, from the published facts.
std::vector<uint32_t> ChipTable() {
  std::ifstream in(SharedDir() + "/chipfacts/opm_phase_steps.txt");
  std::vector<uint32_t> table;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    uint32_t v = 0;
    while (words >> v) table.push_back(v);
  }
  if (table.size() != 768) {
    std::fprintf(stderr, "chips_measure: chipfacts/opm_phase_steps.txt not found or not 768\n");
    std::exit(1);
  }
  return table;
}

// The chip's frequency at a note position (block x 768 + note x 64 + fraction).
double ChipHz(const std::vector<uint32_t>& table, int32_t position) {
  const int32_t block = position / 768;
  const uint32_t step = table[static_cast<size_t>(position % 768)];
  const double shifted = block <= 7 ? step >> (7 - block) : step << (block - 7);
  return shifted * kChipFrames / 1048576.0;
}

int32_t Position(uint32_t kc, uint32_t kf) {
  const uint32_t code = kc & 15;
  return static_cast<int32_t>(((kc >> 4) & 7) * 768 + (code - (code >> 2)) * 64 + kf);
}

// The FM chip at its own rate, as chips mode sets it up (the chip-true variant unless
// --resampler none), with channel 1's operator M1 alone at MUL 1 and full level.
struct ChipAtItsRate {
  explicit ChipAtItsRate(const ChipsOptions& options) {
    opm.Init(tone::kOpmClock, static_cast<uint32_t>(std::lround(kChipFrames)));
    opm.SetChipTrue(options.resample);
    opm.Write(0x20, 0xC7);  // both sides, algorithm 7: M1 heard alone (FB 0)
    opm.Write(0x40, 0x01);
    opm.Write(0x60, 0x00);
    opm.Write(0x80, 0x1F);
    opm.Write(0x08, 0x08);  // key on M1: it holds its level from now on
  }
  // Operator M1's frequency for key code kc, fraction kf and DT2, from the rising zero
  // crossings of kFrames frames (each placed by linear interpolation), the period fitted to
  // all of them by least squares.
  double Hz(uint32_t kc, uint32_t kf, uint32_t dt2) {
    constexpr int32_t kFrames = 32768;
    opm.Write(0x28, kc);
    opm.Write(0x30, kf << 2);
    opm.Write(0xC0, dt2 << 6);
    std::vector<StereoFrame> frames(kFrames, StereoFrame{0, 0});
    opm.Mix(frames.data(), kFrames);  // Mix derives the new pitch first
    std::vector<double> crossings;
    for (int32_t i = 2; i < kFrames; ++i) {  // frame 0 still plays the previous sample
      const double a = frames[i - 1].left;
      const double b = frames[i].left;
      if (a < 0 && b >= 0) crossings.push_back((i - 1) + a / (a - b));
    }
    const auto n = static_cast<double>(crossings.size());
    if (n < 2) return 0.0;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t k = 0; k < crossings.size(); ++k) {
      const auto x = static_cast<double>(k);
      sx += x;
      sy += crossings[k];
      sxx += x * x;
      sxy += x * crossings[k];
    }
    const double period = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    return kChipFrames / period;
  }
  OpmChip opm;
};

}  // namespace

void Table(const ChipsOptions& options) {
  const std::vector<uint32_t> table = ChipTable();
  ChipAtItsRate chip(options);
  double worst_all = 0;
  double worst_notes = 0;  // fraction 0
  int over = 0;
  for (uint32_t octave = 0; octave < 8; ++octave) {
    double worst = 0;
    for (uint32_t code = 0; code < 16; ++code) {
      const uint32_t kc = octave << 4 | code;
      for (uint32_t kf = 0; kf < 64; ++kf) {
        const double cents = tone::Cents(chip.Hz(kc, kf, 0), ChipHz(table, Position(kc, kf)));
        if (std::fabs(cents) > std::fabs(worst)) worst = cents;
        if (std::fabs(cents) > 0.2) ++over;
        if (kf == 0) worst_notes = std::max(worst_notes, std::fabs(cents));
      }
    }
    std::printf("octave %u: largest difference %+.2f cents\n", octave, worst);
    worst_all = std::max(worst_all, std::fabs(worst));
  }
  std::printf("all 8,192 key codes and fractions: largest %.2f cents, %d beyond 0.2 cents; "
              "fraction 0 alone: largest %.2f cents\n", worst_all, over, worst_notes);
}

void Dt2(const ChipsOptions& options) {
  const std::vector<uint32_t> table = ChipTable();
  ChipAtItsRate chip(options);
  constexpr int32_t kSteps[4] = {0, 384, 500, 608};
  for (uint32_t dt2 = 1; dt2 < 4; ++dt2) {
    double worst = 0;
    for (uint32_t kc : {0x0Au, 0x2Au, 0x4Au, 0x5Eu, 0x6Au}) {
      for (uint32_t kf : {0u, 32u}) {
        const double chip_hz = ChipHz(table, Position(kc, kf) + kSteps[dt2]);
        const double cents = tone::Cents(chip.Hz(kc, kf, dt2), chip_hz);
        if (std::fabs(cents) > std::fabs(worst)) worst = cents;
      }
    }
    const double at_a4 = tone::Cents(chip.Hz(0x4A, 0, dt2), chip.Hz(0x4A, 0, 0));
    std::printf("DT2 %u: KC 0x4A up %.1f cents; against the chip's table, largest %+.2f cents\n",
                dt2, at_a4, worst);
  }
}

namespace {

// A sine on channel 1 (key code 0x4A) with vibrato: LFO rate register 0x80 (a step every
// 18.3 ms, eight periods of the tone; a cycle of 4.7 s), the given waveform, PMD and PMS.
MusicLog VibratoTone(uint8_t waveform, uint8_t pmd, uint8_t pms) {
  MusicLog log;
  log.opm_clock = tone::kOpmClock;
  tone::Write(&log, kChipOpm, 0x18, 0x80);
  tone::Write(&log, kChipOpm, 0x19, static_cast<uint8_t>(0x80 | pmd));
  tone::Write(&log, kChipOpm, 0x1B, waveform);
  tone::Write(&log, kChipOpm, 0x38, static_cast<uint8_t>(pms << 4));
  const MusicLog sine = tone::FmTone(tone::kOpmClock, 0x4A, 0, 4.9);
  for (const MusicEvent& e : sine.events) log.events.push_back(e);
  log.total_ticks = sine.total_ticks;
  return log;
}

struct Swing {
  double peak_to_peak;  // cents
  double fill;          // mean distance from the middle over half the swing: sine 0.64,
                        // triangle and saw 0.5, square 1
};

// The pitch over each four periods (rising zero crossings), in cents against 440 Hz: the sine's
// zero crossings move a little with its quantized phase, which four periods average out.
Swing MeasureSwing(const std::vector<double>& x, double rate) {
  std::vector<double> crossings;
  for (size_t i = static_cast<size_t>(0.05 * rate); i < x.size(); ++i) {
    if (x[i - 1] < 0 && x[i] >= 0) {
      crossings.push_back(static_cast<double>(i - 1) + x[i - 1] / (x[i - 1] - x[i]));
    }
  }
  std::vector<double> cents;
  for (size_t i = 4; i < crossings.size(); ++i) {
    cents.push_back(tone::Cents(4 * rate / (crossings[i] - crossings[i - 4]), 440.0));
  }
  const auto [lo, hi] = std::minmax_element(cents.begin(), cents.end());
  const double mid = (*lo + *hi) / 2;
  double distance = 0;
  for (double c : cents) distance += std::fabs(c - mid);
  return {*hi - *lo, distance / static_cast<double>(cents.size()) / ((*hi - *lo) / 2)};
}

// The chip's swing from its facts: the waveform's extremes (-128 and 127) scaled by PMD / 128
// and by the PMS, both rounded down, added to key code 0x4A's note position and looked up.
double ChipSwingCents(const std::vector<uint32_t>& table, int pmd, int pms) {
  auto hz = [&](int w) {
    const int pm = (w * pmd) >> 7;
    return ChipHz(table, Position(0x4A, 0) + (pms <= 5 ? pm >> (6 - pms) : pm * (1 << (pms - 5))));
  };
  return tone::Cents(hz(127), hz(-128));
}

}  // namespace

void Vibrato(const ChipsOptions& options) {
  const std::vector<uint32_t> table = ChipTable();
  constexpr double kIssueChip[8] = {0, 11, 23, 47, 94, 188, 757, 1519};
  std::printf("triangle, PMD 127 (cents peak to peak: ours / the chip's facts / measured on "
              "the chip):\n");
  for (uint8_t pms = 1; pms <= 7; ++pms) {
    const Swing s = MeasureSwing(tone::Render(VibratoTone(2, 127, pms), 44100, options), 44100);
    const double chip = ChipSwingCents(table, 127, pms);
    std::printf("  PMS %u: %7.1f / %7.1f / %6.0f  (%+.1f%%)\n", pms, s.peak_to_peak, chip,
                kIssueChip[pms], 100 * (s.peak_to_peak / chip - 1));
  }
  struct Case {
    const char* name;
    uint8_t waveform;
    uint8_t pmd;
  };
  for (const Case& c : {Case{"triangle PMD 64", 2, 64}, Case{"saw PMD 127", 0, 127},
                        Case{"square PMD 127", 1, 127}}) {
    const Swing s = MeasureSwing(tone::Render(VibratoTone(c.waveform, c.pmd, 7), 44100, options),
                                 44100);
    std::printf("%s, PMS 7: %.1f cents (the chip's facts %.1f), fill %.2f (linear 0.50, "
                "square 1.00)\n",
                c.name, s.peak_to_peak, ChipSwingCents(table, c.pmd, 7), s.fill);
  }
}

namespace {

// The pitch every four periods (rising zero crossings) from 0.05 s on, in cents against the
// note without vibrato: {seconds, cents}.
std::vector<std::pair<double, double>> PitchTrack(const std::vector<double>& x, double rate,
                                                  double note_hz) {
  std::vector<double> crossings;
  for (size_t i = static_cast<size_t>(0.05 * rate); i < x.size(); ++i) {
    if (x[i - 1] < 0 && x[i] >= 0) {
      crossings.push_back(static_cast<double>(i - 1) + x[i - 1] / (x[i - 1] - x[i]));
    }
  }
  std::vector<std::pair<double, double>> track;
  for (size_t i = 4; i < crossings.size(); i += 4) {
    track.emplace_back(crossings[i] / rate,
                       tone::Cents(4 * rate / (crossings[i] - crossings[i - 4]), note_hz));
  }
  return track;
}

}  // namespace

void VibratoShape(const ChipsOptions& options) {
  // After an LFO reset (register 0x01 bit 1 set and cleared), PMS 7, PMD 127, a cycle of 4.7 s:
  // which way the pitch first moves, and for the saw whether its offset rises through the
  // period and drops at once or the other way round.
  const double note_hz =
      tone::ZeroCrossingHz(tone::Render(tone::FmTone(tone::kOpmClock, 0x4A, 0, 1.0), 44100,
                                        options), 44100, 4410);
  constexpr const char* kNames[3] = {"saw", "square", "triangle"};
  for (uint8_t waveform : {0, 1, 2}) {
    const MusicLog tone_log = VibratoTone(waveform, 127, 7);
    MusicLog log = tone_log;
    log.events = {};
    tone::Write(&log, kChipOpm, 0x01, 0x02);
    tone::Write(&log, kChipOpm, 0x01, 0x00);
    for (const MusicEvent& e : tone_log.events) log.events.push_back(e);
    const auto track = PitchTrack(tone::Render(log, 44100, options), 44100, note_hz);
    // The first move beyond 20 cents.
    double first = 0;
    double first_at = 0;
    for (const auto& [t, c] : track) {
      if (std::fabs(c) > 20) {
        first = c;
        first_at = t;
        break;
      }
    }
    std::printf("%-8s first moves %s (%+.0f cents at %.2f s)", kNames[waveform],
                first > 0 ? "up" : "down", first, first_at);
    if (waveform == 0) {
      // Over the track (one cycle): the steps up and down between neighbours, and the largest
      // single jump.
      int up = 0, down = 0;
      double jump = 0;
      double jump_at = 0;
      for (size_t i = 1; i < track.size(); ++i) {
        const double d = track[i].second - track[i - 1].second;
        if (d > 0) ++up;
        if (d < 0) ++down;
        if (std::fabs(d) > std::fabs(jump)) {
          jump = d;
          jump_at = track[i].first;
        }
      }
      std::printf("; %.0f%% of the steps rise, %.0f%% fall; largest jump %+.0f cents at %.2f s",
                  100.0 * up / (up + down), 100.0 * down / (up + down), jump, jump_at);
    }
    std::printf("\n");
  }
  std::printf("the chip: every waveform moves up first; the saw rises through its period and "
              "drops at once\n");
}

void LfoNoise(const ChipsOptions& options) {
  // The LFO's noise waveform at PMS 7, PMD 127, rendered twice after different seeds of the C
  // library's rand(): the chip's LFSR gives the same vibrato on every run and system.
  const MusicLog log = VibratoTone(3, 127, 7);
  std::srand(1);
  const std::vector<double> first = tone::Render(log, 44100, options);
  std::srand(12345);
  const std::vector<double> second = tone::Render(log, 44100, options);
  size_t differ = 0;
  for (size_t i = 0; i < std::min(first.size(), second.size()); ++i) {
    if (first[i] != second[i]) ++differ;
  }
  std::printf("LFO noise vibrato, two renders after rand() seeds 1 and 12345: %zu of %zu "
              "samples differ (the chip: none)\n", differ, first.size());
}

void Envelope(const ChipsOptions& options) {
  // A sine of key code 0x7A (3.5 kHz) with D1R 31 falling to the bottom (SL 15), after 0.1 s.
  const MusicLog sine = tone::FmTone(tone::kOpmClock, 0x7A, 0, 0.05);
  MusicLog log = sine;
  log.events = {};
  for (MusicEvent e : sine.events) {
    if (e.chip == kChipOpm && e.reg == 0xA0) e.data = 31;
    if (e.chip == kChipOpm && e.reg == 0xE0) e.data = 0xFF;
    log.events.push_back(e);
  }
  const std::vector<double> x = tone::Render(tone::AfterSilence(log, 0.1), 44100, options);
  double peak = 0;
  for (double v : x) peak = std::max(peak, std::fabs(v));
  size_t first = 0;
  size_t last = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    if (std::fabs(x[i]) > peak / 100) {
      if (first == 0) first = i;
      last = i;
    }
  }
  std::printf("D1R 31, to -40 dB: %.2f ms (the chip, from -6 dB to -40 dB at D1R 29-31: "
              "about 2.3 ms)\n",
              1000.0 * static_cast<double>(last - first) / 44100);
}

void Attack(const ChipsOptions& options) {
  // Operator M1 alone (MUL 1, TL 0) with AR 29 and KS 1: rate 58 at key code 0x0A, 63 at 0x7A
  // (3.5 kHz). The key code 0x7A comes before the key-on, right after it at the same instant,
  // or some frames later while the attack is under way.
  struct Case {
    const char* name;
    int32_t write_at;  // frames after the key-on; -1 before it
  };
  constexpr double kTimes[5] = {0.5, 1, 2, 5, 20};  // ms after the key-on
  std::printf("level in dB at 0.5 / 1 / 2 / 5 / 20 ms after the key-on (chip at clock / 64):\n");
  for (const Case& c : {Case{"key code, then key-on", -1}, Case{"key-on, then key code", 0},
                        Case{"key code 0.1 ms after the key-on", 6},
                        Case{"key code 0.2 ms after the key-on", 11}}) {
    OpmChip opm;
    opm.Init(tone::kOpmClock, static_cast<uint32_t>(std::lround(kChipFrames)));
    opm.SetChipTrue(options.resample);
    opm.Write(0x20, 0xC7);
    opm.Write(0x28, 0x0A);
    opm.Write(0x40, 0x01);
    opm.Write(0x60, 0x00);
    opm.Write(0x80, 0x40 | 29);
    opm.Write(0xE0, 0x0F);
    if (c.write_at < 0) opm.Write(0x28, 0x7A);
    opm.Write(0x08, 0x08);
    const auto frames_at = [](double ms) {
      return static_cast<int32_t>(std::lround(ms * kChipFrames / 1000));
    };
    std::vector<StereoFrame> frames(static_cast<size_t>(frames_at(21)), StereoFrame{0, 0});
    const int32_t split = std::max(c.write_at, 0);
    opm.Mix(frames.data(), split);
    opm.Write(0x28, 0x7A);
    opm.Mix(frames.data() + split, static_cast<int32_t>(frames.size()) - split);
    std::printf("  %-34s", c.name);
    for (double ms : kTimes) {
      // The peak over 0.5 ms (about 28 frames, eight periods of the tone).
      const int32_t at = frames_at(ms);
      int32_t peak = 0;
      for (int32_t i = at - 14; i < at + 14; ++i) peak = std::max(peak, std::abs(frames[i].left));
      std::printf(" %7.1f", peak > 0 ? 20 * std::log10(peak / 8188.0) : -999.0);
    }
    std::printf("\n");
  }
  std::printf("the chip: full level from the start when the key code comes at the key-on "
              "instant; a later one leaves the attack where it is\n");
}

namespace {

// Every frame of the FM chip as ChipAtItsRate sets it up, for the clip count.
class FmAtItsRate : public MusicChips {
 public:
  explicit FmAtItsRate(const ChipsOptions& options) : chip_true_(options.resample) {
    opm_.Init(tone::kOpmClock, static_cast<uint32_t>(std::lround(kChipFrames)));
    opm_.SetChipTrue(chip_true_);
  }
  void Write(uint8_t chip, uint8_t reg, uint8_t data) override {
    if (chip == kChipOpm) opm_.Write(reg, data);
  }
  void Mix(StereoFrame* frames, int32_t count) override { opm_.Mix(frames, count); }
  bool chip_true() const { return chip_true_; }

 private:
  bool chip_true_;
  OpmChip opm_;
};

// Six channels playing the same full-level sine: a peak of about 49,000 before saturation.
MusicLog Unison() {
  MusicLog log;
  log.opm_clock = tone::kOpmClock;
  for (uint8_t ch = 0; ch < 6; ++ch) {
    tone::Write(&log, kChipOpm, 0x20 + ch, 0xC7);
    tone::Write(&log, kChipOpm, 0x28 + ch, 0x4A);
    for (uint8_t slot = 0; slot < 4; ++slot) {
      const uint8_t op = static_cast<uint8_t>(slot * 8 + ch);
      tone::Write(&log, kChipOpm, 0x40 + op, 0x01);
      tone::Write(&log, kChipOpm, 0x60 + op, slot == 0 ? 0 : 127);
      tone::Write(&log, kChipOpm, 0x80 + op, 31);
      tone::Write(&log, kChipOpm, 0xE0 + op, 0x0F);
    }
  }
  for (uint8_t ch = 0; ch < 6; ++ch) tone::Write(&log, kChipOpm, 0x08, 0x08 | ch);
  tone::Wait(&log, 1.0);
  return log;
}

void CountClips(const std::string& name, const MusicLog& log, const ChipsOptions& options) {
  FmAtItsRate chips(options);
  // The largest values each variant passes on: the chip's DAC keeps 32,767 as 32,704.
  const int32_t top = chips.chip_true() ? 32704 : 65535;
  const int32_t bottom = chips.chip_true() ? -32768 : -65536;
  PlaybackOptions playback;
  playback.rate = static_cast<uint32_t>(std::lround(kChipFrames));
  playback.loops = 1;
  MusicPlayer player(log, playback, &chips);
  std::vector<StereoFrame> block(4096);
  uint64_t clipped = 0, loud = 0, loud_low_bits = 0, samples = 0;
  int32_t peak = 0;
  while (!player.finished()) {
    const int32_t n = player.Render(block.data(), 4096);
    for (int32_t i = 0; i < 2 * n; ++i) {
      const int32_t v = i % 2 ? block[i / 2].right : block[i / 2].left;
      ++samples;
      peak = std::max(peak, std::abs(v));
      if (v >= top || v <= bottom) ++clipped;
      if (std::abs(v) >= 16384) {
        ++loud;
        if (v & 63) ++loud_low_bits;
      }
    }
  }
  std::printf("%s: %llu samples at the chip's rate, peak %d, %llu at the bound; %llu at or "
              "beyond 16,384, %llu of them with bits 0-5 set (the chip's DAC keeps none)\n",
              name.c_str(), static_cast<unsigned long long>(samples), peak,
              static_cast<unsigned long long>(clipped), static_cast<unsigned long long>(loud),
              static_cast<unsigned long long>(loud_low_bits));
}

}  // namespace

void Clip(const ChipsOptions& options) {
  for (const char* name : {"DeckTheHalls.vgm", "JingleBells.vgm"}) {
    MusicLog log;
    std::string error;
    if (!ReadMusicFile(SharedDir() + "/testdata/vgm/ym2151/" + name, &log, &error)) {
      std::printf("%s: %s\n", name, error.c_str());
      continue;
    }
    CountClips(name, log, options);
  }
  CountClips("six channels in unison", Unison(), options);
}

}  // namespace chips_fm
