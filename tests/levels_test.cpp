// Levels of chips mode: the gains, the file's volume modifier and chip volumes in dB, and the
// stereo placement of the PSG channels.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "player/levels.h"
#include "tests/tone_analysis.h"

namespace {

constexpr uint32_t kAyClock = 1789772;
constexpr uint32_t kRate = 44100;

using tone::Sides;

Sides RenderSides(const MusicLog& log, const ChipsOptions& options) {
  return tone::RenderSides(log, kRate, options);
}

// RMS of x after its first 0.1 s, in dB against that of reference.
double DbAgainst(const std::vector<double>& x, const std::vector<double>& reference) {
  auto rms = [](const std::vector<double>& v) {
    double sum = 0;
    for (size_t i = kRate / 10; i < v.size(); ++i) sum += v[i] * v[i];
    return std::sqrt(sum / static_cast<double>(v.size() - kRate / 10));
  };
  return 20 * std::log10(rms(x) / rms(reference));
}

// PSG 1 channel `channel` (0-2): a square of about 440 Hz at level 15, tone only.
MusicLog PsgChannelTone(int channel) {
  MusicLog log;
  log.psg_clock[0] = kAyClock;
  log.psg_type[0] = "AY8910";
  const auto c = static_cast<uint8_t>(channel);
  tone::Write(&log, kChipPsg1, static_cast<uint8_t>(2 * c), 254);
  tone::Write(&log, kChipPsg1, 7, static_cast<uint8_t>(0x3F & ~(1u << c)));
  tone::Write(&log, kChipPsg1, static_cast<uint8_t>(8 + c), 15);
  tone::Wait(&log, 0.5);
  return log;
}

TEST(Levels, GainsAndTheFilesVolumesSetEachChipsLevel) {
  const MusicLog fm = tone::FmTone(tone::kOpmClock, 0x4A, 0, 0.5);
  const MusicLog psg = PsgChannelTone(0);
  const ChipsOptions plain;
  const Sides fm_plain = RenderSides(fm, plain);
  const Sides psg_plain = RenderSides(psg, plain);

  ChipsOptions options;
  options.gain_db = 6;
  EXPECT_NEAR(DbAgainst(RenderSides(fm, options).left, fm_plain.left), 6.0, 0.01);
  EXPECT_NEAR(DbAgainst(RenderSides(psg, options).right, psg_plain.right), 6.0, 0.01);

  // Each chip's own gain reaches that chip alone, on top of the whole output's.
  options.gain_db = -3;
  options.fm_gain_db = 10;
  options.psg_gain_db = -12;
  EXPECT_NEAR(DbAgainst(RenderSides(fm, options).left, fm_plain.left), 7.0, 0.01);
  EXPECT_NEAR(DbAgainst(RenderSides(psg, options).left, psg_plain.left), -15.0, 0.01);

  // The volume modifier: x 2^(v / 32) on every chip; then the chip volumes, each on its chip.
  MusicLog fm_louder = fm;
  fm_louder.volume_modifier = 0x20;
  MusicLog psg_softer = psg;
  psg_softer.volume_modifier = -64;
  psg_softer.psg_volume[0] = 1.5;
  psg_softer.opm_volume = 4;  // no FM here: no effect
  EXPECT_NEAR(DbAgainst(RenderSides(fm_louder, plain).left, fm_plain.left),
              20 * std::log10(2.0), 0.01);
  EXPECT_NEAR(DbAgainst(RenderSides(psg_softer, plain).left, psg_plain.left),
              20 * std::log10(0.25 * 1.5), 0.01);
}

TEST(Levels, PsgStereoPlacesTheChannels) {
  ChipsOptions mono;
  ChipsOptions abc;
  abc.psg_stereo = PsgStereo::kAbc;
  abc.stereo_width = 1;
  ChipsOptions acb = abc;
  acb.psg_stereo = PsgStereo::kAcb;
  for (bool resample : {true, false}) {
    SCOPED_TRACE(resample ? "band-limited, chip-true" : "sampled");
    for (ChipsOptions* o : {&mono, &abc, &acb}) {
      o->resample = resample;
      o->ay_curve = resample;
    }
    const Sides a_mono = RenderSides(PsgChannelTone(0), mono);
    // Hard left and right keep the channel's loudness: each side +3 dB on its own.
    const Sides a = RenderSides(PsgChannelTone(0), abc);
    EXPECT_NEAR(DbAgainst(a.left, a_mono.left), 10 * std::log10(2.0), 0.01);
    for (double v : a.right) ASSERT_EQ(v, 0);
    const Sides c = RenderSides(PsgChannelTone(2), abc);
    for (double v : c.left) ASSERT_EQ(v, 0);
    // The centre sounds as in mono, on both sides.
    const Sides b_mono = RenderSides(PsgChannelTone(1), mono);
    const Sides b = RenderSides(PsgChannelTone(1), abc);
    EXPECT_EQ(b.left, b_mono.left);
    EXPECT_EQ(b.right, b_mono.right);
    // acb swaps B and C.
    const Sides b_acb = RenderSides(PsgChannelTone(1), acb);
    for (double v : b_acb.left) ASSERT_EQ(v, 0);
    EXPECT_EQ(RenderSides(PsgChannelTone(2), acb).left, RenderSides(PsgChannelTone(2), mono).left);
  }
  // Between 0 (mono) and 1, the side channel leans to its side.
  abc.stereo_width = 0.8;
  const Sides a_near = RenderSides(PsgChannelTone(0), abc);
  EXPECT_NEAR(DbAgainst(a_near.right, a_near.left), 20 * std::log10(std::tan(0.1 * tone::kPi / 2)),
              0.01);
}

}  // namespace
