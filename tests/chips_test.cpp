// Chips mode against the chips themselves: the FM's pitch and feedback tone at every output
// rate equal the chip's at its own rate (clock / 64), and the file's PSG family picks the curve.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/tone_analysis.h"
#include "psg/psg.h"

namespace {

TEST(Chips, FmPitchIsTheChipsAtEveryRate) {
  const MusicLog log = tone::FmTone(tone::kOpmClock, 0x4A, 0, 2.5);
  const double chip = tone::ZeroCrossingHz(tone::RenderAtChipRate(log), tone::kChipRate,
                                          20000);
  EXPECT_NEAR(chip, 439.94, 0.01);
  for (uint32_t rate : {8000u, 22050u, 44100u, 48000u, 96000u, 192000u}) {
    const double hz = tone::ZeroCrossingHz(tone::Render(log, rate, {}), rate, rate / 2);
    EXPECT_NEAR(tone::Cents(hz, chip), 0, 0.2) << rate;
  }
}

TEST(Chips, FeedbackHarmonicsAreTheChipsAtItsOwnRate) {
  const MusicLog sine = tone::FmTone(tone::kOpmClock, 0x4A, 0, 2);
  const double f0 = tone::ZeroCrossingHz(tone::RenderAtChipRate(sine), tone::kChipRate, 20000);
  for (uint8_t feedback : {6, 7}) {
    const MusicLog log = tone::FmTone(tone::kOpmClock, 0x4A, feedback, 2);
    const std::vector<double> chip = tone::RenderAtChipRate(log);
    const std::vector<double> ours = tone::Render(log, 44100, {});
    // The harmonics that carry the sound; the weaker ones of feedback 7 are noise-like.
    for (int n = 2; n * f0 < 16000; ++n) {
      const double want = tone::HarmonicDb(chip, tone::kChipRate, f0, n);
      if (want < -30) continue;
      EXPECT_NEAR(tone::HarmonicDb(ours, 44100, f0, n, 0.5), want, 0.2)
          << "feedback " << int{feedback} << " harmonic " << n;
    }
  }
}

TEST(Chips, PsgSquaresDoNotFoldBack) {
  // An AY square at 7.5 kHz: its harmonics against everything else (30 dB is the least a
  // listener should get; sampled four times a frame it was 12 dB).
  const MusicLog log = tone::PsgTone(1789772, "AY8910", 15, 15, 2.0);
  const double f0 = 1789772 / (16.0 * 15);
  EXPECT_GT(tone::HarmonicToInharmonicDb(tone::Render(log, 44100, {}), 44100, f0, 4410), 45);
}

TEST(Chips, PsgSquareHarmonicsAreFlatTo16kHz) {
  // An AY square's odd harmonics stand at 1/n of its fundamental: drawn band-limited at
  // 44,100 Hz they must keep that within 0.3 dB up to 16 kHz (drawing the impulse's samples
  // as each frame's rise had them 1.9 dB high there).
  for (uint32_t tp : {112u, 35u}) {
    const double f0 = 1789772 / (16.0 * tp);
    const std::vector<double> x =
        tone::Render(tone::PsgTone(1789772, "AY8910", tp, 15, 1.6), 44100, {});
    for (int n = 3; n * f0 <= 16000; n += 2) {
      EXPECT_NEAR(tone::HarmonicDb(x, 44100, f0, n), -20 * std::log10(n), 0.3)
          << "TP " << tp << " harmonic " << n;
    }
  }
}

TEST(Chips, ConvertedSoundStartsWithItsWrites) {
  ChipsOptions unconverted;
  unconverted.resample = false;
  // After a tenth of a second of silence, a note: the converters' latency must not show.
  const MusicLog fm = tone::FmTone(tone::kOpmClock, 0x4A, 0, 0.2);
  const MusicLog psg = tone::PsgLevel(1789772, "YM2149", 15, 0.2);
  for (const MusicLog& log : {tone::AfterSilence(fm, 0.1), tone::AfterSilence(psg, 0.1)}) {
    for (uint32_t rate : {22050u, 48000u}) {
      const double late = tone::OnsetSeconds(tone::Render(log, rate, {}), rate) -
                          tone::OnsetSeconds(tone::Render(log, rate, unconverted), rate);
      EXPECT_NEAR(late, 0, 0.001) << (log.opm_clock != 0 ? "FM " : "PSG ") << rate;
    }
  }
}

// Channel A's amplitude at fixed level (register 8) level, tone and noise off: the board's
// rendering holds it at -amp.
int32_t FixedAmplitude(Psg psg, uint32_t level) {
  psg.SetClock(998400, 44100);
  psg.SetRegister(8, level);
  psg.SetRouting(3);
  StereoFrame frame{0, 0};
  psg.Mix(&frame, 1);
  return -frame.left;
}

// Entries 0-31 of envelope shape 13 (the rising ramp), one a frame.
std::vector<int32_t> RisingEnvelope(Psg psg) {
  psg.SetClock(16, 1);  // envelope_base 2^24
  psg.SetRegister(11, 4);  // 2^22 a sub-sample: one entry a frame
  psg.SetRegister(8, 0x10);
  psg.SetRegister(13, 13);
  psg.SetRouting(3);
  std::vector<StereoFrame> frames(32, StereoFrame{0, 0});
  psg.Mix(frames.data(), 32);
  std::vector<int32_t> entries;
  for (const StereoFrame& f : frames) entries.push_back(-f.left);
  return entries;
}

// The output curve a Psg was given, from its saved state (the byte Save writes it to).
Psg::Type TypeOf(const Psg& psg) { return static_cast<Psg::Type>(psg.Save().at(69)); }

TEST(Chips, TheFilesPsgFamilyPicksTheCurve) {
  // The AY-3-8910's measured levels against level 15; the YM2149 keeps 3 dB a level.
  Psg ay;
  ay.SetType(Psg::Type::kAy8910);
  const Psg ym;
  auto db = [](const Psg& p, uint32_t level) {
    return 20 * std::log10(static_cast<double>(FixedAmplitude(p, level)) / FixedAmplitude(p, 15));
  };
  EXPECT_NEAR(db(ay, 12), -6.15, 0.05);
  EXPECT_NEAR(db(ay, 10), -10.68, 0.05);
  EXPECT_NEAR(db(ay, 9), -13.77, 0.05);
  EXPECT_NEAR(db(ym, 12), -9.0, 0.05);
  // Its envelope climbs in 16 steps, each level held for two of the 32 entries.
  const std::vector<int32_t> rise = RisingEnvelope(ay);
  for (uint32_t e = 0; e < 32; e += 2) {
    EXPECT_EQ(rise[e], rise[e + 1]) << e;
    if (e >= 2) {
      EXPECT_LT(rise[e - 1], rise[e]) << e;
    }
  }
  // Chips mode follows the file's chip; --resampler none (ay_curve false) keeps the YM2149's.
  for (const char* type : {"AY8910", "AY8930", "YM2149"}) {
    const MusicLog log = tone::PsgTone(1789772, type, 254, 15, 0.1);
    const bool is_ay = type[0] == 'A';
    EXPECT_EQ(TypeOf(DirectChips(log, 44100, AllVoices()).psg(0)) == Psg::Type::kAy8910, is_ay)
        << type;
    ChipsOptions earlier;
    earlier.resample = false;
    earlier.ay_curve = false;
    EXPECT_EQ(TypeOf(DirectChips(log, 44100, AllVoices(), earlier).psg(0)), Psg::Type::kYm2149);
  }
}

}  // namespace
