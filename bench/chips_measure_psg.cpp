// chips_measure's PSG subcommands: what chips mode's AY/YM output does against the chips'
// published behaviour (levels, LFSR, counter rules), each printed with the chip's figure.
#include "bench/chips_measure_psg.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <vector>

#include "tests/tone_analysis.h"

namespace {

constexpr uint32_t kAyClock = 1789772;
constexpr uint32_t kRate = 44100;  // one log tick a frame

// The YM2149's 32 envelope levels relative to level 31, as measured on the chip.
constexpr double kYmLevels[32] = {
    0,       0,       0.00465, 0.00772, 0.01096, 0.01396, 0.01700, 0.02002,
    0.02437, 0.02969, 0.03507, 0.04039, 0.04854, 0.05834, 0.06806, 0.07778,
    0.09252, 0.11109, 0.12975, 0.14849, 0.17667, 0.21155, 0.24639, 0.28110,
    0.33373, 0.40043, 0.46738, 0.53443, 0.63517, 0.75801, 0.87993, 1.0};

struct Write {
  uint8_t reg;
  uint8_t data;
};

// PSG 1 at the AY clock: the writes at tick 0, then seconds of sound.
MusicLog PsgLog(const char* type, std::initializer_list<Write> writes, double seconds) {
  MusicLog log;
  log.psg_clock[0] = kAyClock;
  log.psg_type[0] = type;
  for (const Write& w : writes) tone::Write(&log, kChipPsg1, w.reg, w.data);
  tone::Wait(&log, seconds);
  return log;
}

// Amplitude of the component at f over x[first, first + count), Hann-windowed.
double AmplitudeAt(const std::vector<double>& x, double f, size_t first, size_t count) {
  std::complex<double> sum = 0;
  double weight = 0;
  for (size_t i = 0; i < count && first + i < x.size(); ++i) {
    const double hann = 0.5 - 0.5 * std::cos(2 * tone::kPi * static_cast<double>(i) / count);
    sum += hann * x[first + i] * std::polar(1.0, -2 * tone::kPi * f * (first + i) / kRate);
    weight += hann;
  }
  return 2 * std::abs(sum) / weight;
}

double Mean(const std::vector<double>& x, size_t first, size_t end) {
  double sum = 0;
  for (size_t i = first; i < end; ++i) sum += x[i];
  return sum / static_cast<double>(end - first);
}

// Squares of tone periods 112 and 35: odd harmonics below 16 kHz against 1/n of the
// fundamental (a square's own), and noise in bands against its held bits' sinc^2 shape.
void Square(const ChipsOptions& options) {
  double worst = 0;
  for (uint32_t tp : {112u, 35u}) {
    const double f0 = kAyClock / (16.0 * tp);
    const std::vector<double> x = tone::Render(
        PsgLog("AY8910", {{0, static_cast<uint8_t>(tp)}, {7, 0x3E}, {8, 15}}, 2.0), kRate,
        options);
    std::printf("square %.1f Hz:", f0);
    for (int n = 3; n * f0 <= 16000; n += 2) {
      const double off = tone::HarmonicDb(x, kRate, f0, n) + 20 * std::log10(n);
      std::printf(" %.1fk %+.2f", n * f0 / 1000, off);
      worst = std::max(worst, std::fabs(off));
    }
    std::printf("\n");
  }
  std::printf("square harmonics to 16 kHz: largest difference from 1/n %.2f dB\n", worst);
  // Noise period 1: a new bit at clock / 16, so its spectrum falls as sinc^2(f / that).
  const double bit_rate = kAyClock / 16.0;
  const std::vector<double> x =
      tone::Render(PsgLog("AY8910", {{6, 1}, {7, 0x37}, {8, 15}}, 3.0), kRate, options);
  std::vector<double> power(32768, 0.0);
  for (size_t skip : {4410u, 36000u, 68000u}) {
    const std::vector<double> p = tone::PowerSpectrum(x, skip);
    for (size_t i = 0; i < p.size(); ++i) power[i] += p[i];
  }
  auto band_db = [&](double f) {
    const double bin = kRate / 65536.0;
    double sum = 0;
    for (long b = std::lround((f - 400) / bin); b <= std::lround((f + 400) / bin); ++b) {
      sum += power[static_cast<size_t>(b)];
    }
    const double s = std::sin(tone::kPi * f / bit_rate) / (tone::kPi * f / bit_rate);
    return 10 * std::log10(sum) - 20 * std::log10(s);
  };
  const double ref = band_db(1000);
  std::printf("noise bands against sinc^2 (dB from 1 kHz):");
  double noise_worst = 0;
  for (double f : {4000.0, 8000.0, 11000.0, 14000.0, 16000.0}) {
    const double d = band_db(f) - ref;
    noise_worst = std::max(noise_worst, std::fabs(d));
    std::printf(" %.0fk %+.2f", f / 1000, d);
  }
  std::printf("\nnoise to 16 kHz: largest difference %.2f dB\n", noise_worst);
}

// The first lag (frames, 2,000-60,000) at which the noise repeats itself (correlation above
// 0.5, the best of the lags around it), and how well.
std::pair<double, double> RepeatLag(const std::vector<double>& x) {
  constexpr size_t kFirst = 4410;
  constexpr size_t kWindow = 8192;
  const double m = Mean(x, kFirst, x.size());
  auto dot = [&](size_t a, size_t b) {
    double s = 0;
    for (size_t i = 0; i < kWindow; ++i) s += (x[a + i] - m) * (x[b + i] - m);
    return s;
  };
  const double energy = dot(kFirst, kFirst);
  std::pair<size_t, double> best{0, 0};
  for (size_t lag = 2000; lag <= 60000 && kFirst + lag + kWindow <= x.size(); ++lag) {
    const double c = dot(kFirst, kFirst + lag) / energy;
    if (c > best.second) best = {lag, c};
    if (best.second > 0.5 && lag > best.first + 2) break;
  }
  if (best.second < 0.5) return {0, best.second};
  // Between frames: the peak of the parabola through the best lag and its neighbours.
  const double a = dot(kFirst, kFirst + best.first - 1);
  const double b = dot(kFirst, kFirst + best.first);
  const double c = dot(kFirst, kFirst + best.first + 1);
  return {static_cast<double>(best.first) + 0.5 * (a - c) / (a - 2 * b + c), best.second};
}

// Noise period 1, with register 6 written and never written (power-on 0 acts as 1): how
// long before the noise repeats, in steps at the rate register 6 = 1 gives.
void Noise(const ChipsOptions& options) {
  // Noise steps a frame as the Psg takes them: clock / 16 a second, less the truncation of
  // its per-sub-sample step (clock / 2 x 4096 / rate, 1e-5 here).
  const double steps_per_frame = 4 * std::floor(kAyClock / 2 * 4096.0 / kRate) / 131072;
  for (bool written : {true, false}) {
    const MusicLog log = written ? PsgLog("AY8910", {{6, 1}, {7, 0x37}, {8, 15}}, 1.6)
                                 : PsgLog("AY8910", {{7, 0x37}, {8, 15}}, 1.6);
    const auto [lag, corr] = RepeatLag(tone::Render(log, kRate, options));
    std::printf("register 6 %s: ", written ? "= 1      " : "unwritten");
    if (corr < 0.5) {
      std::printf("no repeat within %.0f steps\n", 60000 * steps_per_frame);
    } else {
      std::printf("repeats after %.4f s = %.1f steps (correlation %.2f)\n",
                  lag / kRate, lag * steps_per_frame, corr);
    }
  }
  std::printf("chip: 131071 steps (%.4f s) either way\n", 131071 / (kAyClock / 16.0));
}

// One-sided output: volume-register playback (tone and noise off, register 8 between 15 and 0
// every 22 ticks) against a level-15 tone square; a held level as the DC blocker lets it go.
void Output(const ChipsOptions& options) {
  const std::vector<double> square = tone::Render(
      PsgLog("AY8910", {{0, 112}, {7, 0x3E}, {8, 15}}, 1.0), kRate, options);
  const double peak_to_peak =
      AmplitudeAt(square, kAyClock / (16.0 * 112), 4410, 32768) * tone::kPi / 2;
  MusicLog log = PsgLog("AY8910", {{7, 0x3F}}, 0);
  for (int half = 0; half < 2000; ++half) {
    tone::Write(&log, kChipPsg1, 8, half % 2 == 0 ? 15 : 0);
    tone::Wait(&log, 22.0 / kRate);
  }
  const std::vector<double> x = tone::Render(log, kRate, options);
  double high = 0;
  double low = 0;
  for (size_t half = 200; half < 1800; half += 2) {
    high += Mean(x, 22 * half + 6, 22 * half + 16);
    low += Mean(x, 22 * (half + 1) + 6, 22 * (half + 1) + 16);
  }
  const double step = (high - low) / 800;
  std::printf("volume playback: step %+.0f against the tone square's %.0f: %+.2f dB, %s\n", step,
              peak_to_peak, 20 * std::log10(std::fabs(step) / peak_to_peak),
              step > 0 ? "level 15 high (as the chip)" : "inverted");
  const std::vector<double> held =
      tone::Render(PsgLog("AY8910", {{7, 0x3F}, {8, 15}}, 1.0), kRate, options);
  const double start = held[100];
  size_t i = 100;
  while (i < held.size() && std::fabs(held[i]) > std::fabs(start) / std::exp(1.0)) ++i;
  if (i < held.size()) {
    std::printf("a held level %.0f falls to 1/e after %.1f ms\n", start,
                1000.0 * static_cast<double>(i - 100) / kRate);
  } else {
    std::printf("a held level %.0f stays (%.0f after 1 s)\n", start, held.back());
  }
}

// Envelope shape 8 (falling saw, repeating) at envelope periods 0 and 1: the saw's pitch.
void Envelope(const ChipsOptions& options) {
  for (uint8_t ep : {0, 1}) {
    std::vector<double> x = tone::Render(
        PsgLog("YM2149", {{7, 0x3F}, {8, 0x10}, {11, ep}, {12, 0}, {13, 8}}, 1.0), kRate,
        options);
    const double m = Mean(x, 4410, x.size());
    for (double& v : x) v -= m;
    std::printf("envelope period %u: %.1f Hz (chip %.1f Hz)\n", ep,
                tone::ZeroCrossingHz(x, kRate, 4410), kAyClock / (256.0 * std::max(ep, uint8_t{1})));
  }
}

// Fixed levels 1-15 of a YM2149 file's tone against level 15, against the chip's measured
// levels (a register value v sounds at envelope level 2v + 1).
void Levels(const ChipsOptions& options) {
  const double f0 = kAyClock / (16.0 * 254);
  auto amplitude = [&](uint8_t level) {
    const std::vector<double> x = tone::Render(
        PsgLog("YM2149", {{0, 254}, {7, 0x3E}, {8, level}}, 0.5), kRate, options);
    return AmplitudeAt(x, f0, 4410, 16384);
  };
  const double top = amplitude(15);
  double worst = 0;
  std::printf("YM2149 level: ours / chip (dB against 15)\n");
  for (uint8_t v = 1; v < 15; ++v) {
    const double ours = 20 * std::log10(amplitude(v) / top);
    const double chip = 20 * std::log10(kYmLevels[2 * v + 1]);
    worst = std::max(worst, std::fabs(ours - chip));
    std::printf("  %2u: %6.2f / %6.2f\n", v, ours, chip);
  }
  std::printf("largest difference: %.2f dB\n", worst);
}

// Tone period 1000, then 200 written 1.5 half-periods in, when the counter (about 500) is
// already past it: the chip toggles at its next count (within 0.0045 ms).
void Period(const ChipsOptions& options) {
  constexpr uint32_t kWriteTick = 296;
  MusicLog log = PsgLog("AY8910", {{0, 0xE8}, {1, 0x03}, {7, 0x3E}, {8, 15}}, 0);
  tone::Wait(&log, kWriteTick / static_cast<double>(kRate));
  tone::Write(&log, kChipPsg1, 0, 0xC8);
  tone::Write(&log, kChipPsg1, 1, 0x00);
  tone::Wait(&log, 0.05);
  const std::vector<double> x = tone::Render(log, kRate, options);
  const double half = 1000 * 8.0 / kAyClock;  // seconds
  const double mid = (Mean(x, 40, 180) + Mean(x, 215, 290)) / 2;
  auto crossing_after = [&](size_t from) {
    for (size_t i = from + 1; i < x.size(); ++i) {
      if ((x[i - 1] - mid) * (x[i] - mid) < 0 || x[i] == mid) {
        return (static_cast<double>(i - 1) + (mid - x[i - 1]) / (x[i] - x[i - 1])) / kRate;
      }
    }
    return -1.0;
  };
  const double write = kWriteTick / static_cast<double>(kRate);
  const double counter = (write - half) / (8.0 / kAyClock);
  std::printf("first edge: %.3f ms (chip %.3f)\n", 1000 * crossing_after(150), 1000 * half);
  const double early = crossing_after(150) - half;  // how early every edge is drawn
  const double after = crossing_after(kWriteTick - 4) - write;
  std::printf("period 200 written at %.3f ms, counter %.0f: next edge %.3f ms after it, %.3f "
              "with the first edge's %.3f ms taken out (chip: 0 to 0.0045)\n",
              1000 * write, counter, 1000 * after, 1000 * (after - early), 1000 * early);
}

// The chip-true Psg of an AY at 1,789,772 Hz, rendered at 44,100 Hz through a timed sink that
// keeps the times at which channel A changes level, in microseconds from the start.
class EdgeTimes : public PsgSink {
 public:
  explicit EdgeTimes(bool chip_true) : PsgSink(true) {
    psg.SetChipTrue(chip_true);
    psg.SetClock(kAyClock / 2, kRate);
  }
  void Play(double seconds) {
    const auto frames = static_cast<int32_t>(std::lround(seconds * kRate));
    // A silent PSG renders no block: its time passes all the same.
    if (!psg.Render(*this, frames)) base_ += static_cast<uint64_t>(frames) * 1024;
  }
  void Block(int32_t frames) override {
    for (uint32_t i = 0; i < change_count[0]; ++i) {
      const PsgChange& c = changes[0][i];
      if (c.level == level_) continue;
      level_ = c.level;
      edges.push_back(static_cast<double>(base_ + c.time) / (1024.0 * kRate) * 1e6);
    }
    base_ += static_cast<uint64_t>(frames) * 1024;
  }
  // The edges at or after microsecond from.
  std::vector<double> From(double from) const {
    std::vector<double> out;
    for (double t : edges) {
      if (t >= from) out.push_back(t);
    }
    return out;
  }
  double now() const { return static_cast<double>(base_) / (1024.0 * kRate) * 1e6; }

  Psg psg;
  std::vector<double> edges;

 private:
  uint64_t base_ = 0;  // 1/256 sub-sample
  int32_t level_ = 0;
};

constexpr double kCountUs = 8e6 / kAyClock;  // one count of a tone counter

// Channel A alone: tone period, level 15.
void SetTone(Psg& psg, uint32_t period) {
  psg.SetRegister(0, period & 0xFF);
  psg.SetRegister(1, period >> 8);
  psg.SetRegister(7, 0x3E);
  psg.SetRegister(8, 15);
}

// How many of the edges of b after from are where a has one (within 0.01 us).
int Matching(const EdgeTimes& a, const EdgeTimes& b, double from) {
  const std::vector<double> x = a.From(from);
  int n = 0;
  for (double t : b.From(from)) {
    const auto it = std::lower_bound(x.begin(), x.end(), t - 0.01);
    if (it != x.end() && *it <= t + 0.01) ++n;
  }
  return n;
}

// Tone, noise and envelope through a silent stretch (and the noise with no channel listening),
// against the counters that run on; then a period's two bytes written at one instant.
void Counters(const ChipsOptions& options) {
  const bool chip = options.resample;
  // Tone A, period 300, then 0.2513 s of silence: the edges after it on the grid of those
  // before (the chip's counter runs on), or shifted.
  EdgeTimes tone(chip);
  SetTone(tone.psg, 300);
  tone.Play(0.1);
  const double t0 = tone.edges.front();
  const double half = (tone.edges.back() - t0) / static_cast<double>(tone.edges.size() - 1);
  tone.psg.SetRegister(7, 0x3F);
  tone.psg.SetRegister(8, 0);
  tone.Play(0.2513);
  const double resume = tone.now();
  tone.psg.SetRegister(7, 0x3E);
  tone.psg.SetRegister(8, 15);
  tone.Play(0.05);
  // The first edge the counter makes after the level's return.
  const double first = tone.From(resume + 0.01).front();
  double off = std::fmod(first - t0, half);
  if (off > half / 2) off -= half;
  std::printf("tone period 300 after 251.3 ms of silence: first edge %+.2f us (%+.1f counts) "
              "from the running counter's (chip: 0)\n", off, off / kCountUs);

  // Noise on A (period 5): silent, or with only tone C sounding, for 0.1234 s; then the
  // noise's edges against a render that never stopped.
  struct Gap {
    const char* name;
    uint8_t mixer;
    uint8_t level_c;
  };
  for (const Gap& gap : {Gap{"the PSG silent", 0x3F, 0}, Gap{"only tone C sounding", 0x3B, 15}}) {
    EdgeTimes steady(chip);
    EdgeTimes paused(chip);
    for (EdgeTimes* e : {&steady, &paused}) {
      e->psg.SetRegister(6, 5);
      e->psg.SetRegister(4, 0x40);
      e->psg.SetRegister(7, 0x37);
      e->psg.SetRegister(8, 15);
      e->Play(0.05);
    }
    steady.Play(0.1234);
    paused.psg.SetRegister(7, gap.mixer);
    paused.psg.SetRegister(8, 0);
    paused.psg.SetRegister(10, gap.level_c);
    paused.Play(0.1234);
    paused.psg.SetRegister(7, 0x37);
    paused.psg.SetRegister(8, 15);
    paused.psg.SetRegister(10, 0);
    const double from = paused.now() + 0.01;
    steady.Play(0.05);
    paused.Play(0.05);
    std::printf("noise after 123.4 ms with %s: %d of %zu edges where the unbroken noise has them "
                "(chip: all)\n",
                gap.name, Matching(steady, paused, from), paused.From(from).size());
  }

  // The envelope (shape 14, period 3) on A through 0.0777 s of silence.
  EdgeTimes steady(chip);
  EdgeTimes paused(chip);
  for (EdgeTimes* e : {&steady, &paused}) {
    e->psg.SetRegister(11, 3);
    e->psg.SetRegister(13, 14);
    e->psg.SetRegister(8, 0x10);
    e->Play(0.01);
  }
  steady.Play(0.0777);
  paused.psg.SetRegister(8, 0);
  paused.Play(0.0777);
  paused.psg.SetRegister(8, 0x10);
  const double from = paused.now() + 0.01;
  steady.Play(0.02);
  paused.Play(0.02);
  std::printf("envelope after 77.7 ms of silence: %d of %zu steps where the unbroken envelope has "
              "them (chip: all)\n", Matching(steady, paused, from), paused.From(from).size());

  // Period 0x1FF counted past 0x120, then 0x220 written as two bytes at one instant: the next
  // edge comes 0x220 = 544 counts after the last (the momentary 0x120 of the low byte first
  // never counts).
  for (bool low_first : {true, false}) {
    EdgeTimes e(chip);
    SetTone(e.psg, 0x1FF);
    e.Play(0.01);
    while (e.now() - e.edges.back() < 400 * kCountUs) e.Play(1.0 / kRate);
    const double last = e.edges.back();
    const double counted = (e.now() - last) / kCountUs;
    e.psg.SetRegister(low_first ? 0 : 1, low_first ? 0x20 : 0x02);
    e.psg.SetRegister(low_first ? 1 : 0, low_first ? 0x02 : 0x20);
    e.Play(0.01);
    std::printf("period 0x1FF, counted to %.0f; 0x220 written %s: next edge %.1f counts after "
                "the last (chip: 544)\n", counted, low_first ? "low byte first" : "high byte first",
                (e.From(last + 0.01).front() - last) / kCountUs);
  }
}

}  // namespace

bool MeasurePsg(const std::string& what, const ChipsOptions& options) {
  if (what == "psgsquare") {
    Square(options);
  } else if (what == "psgnoise") {
    Noise(options);
  } else if (what == "psgoutput") {
    Output(options);
  } else if (what == "psgenvelope") {
    Envelope(options);
  } else if (what == "psglevels") {
    Levels(options);
  } else if (what == "psgperiod") {
    Period(options);
  } else if (what == "psgcounters") {
    Counters(options);
  } else {
    return false;
  }
  return true;
}
