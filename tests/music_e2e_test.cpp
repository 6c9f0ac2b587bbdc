// End to end: the vorla program renders, plays and describes the shared music files, on the
// chip classes and through the module file. Each test runs a private copy of program and module
// (so the board starts from its default settings), with SDL's disk driver for `play`.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fm/opm_chip.h"
#include "player/music_player.h"
#include "tests/music_files.h"
#include "tests/temp_dir.h"
#include "tests/vorla_program.h"

namespace {

namespace fs = std::filesystem;

using Outcome = ProgramRun;

// vorla with a shorthand for rendering a music file to out.wav (16-bit) and out.s32 (raw).
class Vorla : public VorlaProgram {
 public:
  Outcome Render(const std::string& path, const std::string& extra = "") {
    return Exec("render '" + path + "' -o out.wav --raw out.s32 " + extra);
  }
};

std::string Q(const std::string& path) { return "'" + path + "'"; }

uint64_t WavFrames(const std::string& path) { return WavSamples(path).size() / 2; }

std::string Fnv1a(const std::string& bytes) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

// The frequency of the left channel's fundamental over frames [start, start + count), from the
// rising zero crossings around its mean.
double Frequency(const std::vector<int16_t>& samples, size_t start, size_t count, double rate) {
  double mean = 0;
  for (size_t i = start; i < start + count; ++i) mean += samples[2 * i];
  mean /= static_cast<double>(count);
  size_t first = 0, last = 0, crossings = 0;
  for (size_t i = start + 1; i < start + count; ++i) {
    if (samples[2 * (i - 1)] - mean < 0 && samples[2 * i] - mean >= 0) {
      if (crossings == 0) first = i;
      last = i;
      ++crossings;
    }
  }
  if (crossings < 2) return 0;
  return static_cast<double>(crossings - 1) * rate / static_cast<double>(last - first);
}

int Peak(const std::vector<int16_t>& samples) {
  int peak = 0;
  for (int16_t s : samples) peak = std::max(peak, std::abs(static_cast<int>(s)));
  return peak;
}

TEST(MusicEndToEnd, RendersTheRealFilesAtTheirLength) {
  REQUIRE_TEST_FILE(deck, "vgm/ym2151/DeckTheHalls.vgm");
  REQUIRE_TEST_FILE(jingle, "vgm/ym2151/JingleBells.vgm");
  REQUIRE_TEST_FILE(ay, "vgm/ay/02_StartingPoint.vgm");
  REQUIRE_TEST_FILE(ayz, "vgm/ay/02_StartingPoint.vgz");
  Vorla vorla;
  struct Case {
    std::string path;
    uint64_t frames;
    std::string skipped;
  };
  const Case cases[] = {{deck, 752640, "skipped 15 Sega PCM writes"},
                        {jingle, 1505280, "skipped 15 Sega PCM writes"},
                        {ay, 258946, "skipped 1002 K051649 writes"},
                        {ayz, 258946, "skipped 1002 K051649 writes"}};
  for (const Case& c : cases) {
    Outcome run = vorla.Render(c.path);
    ASSERT_EQ(run.status, 0) << c.path << "\n" << run.err;
    EXPECT_EQ(WavFrames(vorla.File("out.wav")), c.frames) << c.path;
    EXPECT_NE(run.err.find(c.skipped), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("x real time"), std::string::npos);
    EXPECT_GT(Peak(WavSamples(vorla.File("out.wav"))), 1000) << c.path;
  }
  // The YM2151 files' zero-sample loop is no loop: same length with more passes asked.
  Outcome run = vorla.Render(deck, "--loops 5 --fade 10");
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(WavFrames(vorla.File("out.wav")), 752640u);
}

TEST(MusicEndToEnd, GoldenHashesOfTheFirstTwoSeconds) {
  REQUIRE_TEST_FILE(deck, "vgm/ym2151/DeckTheHalls.vgm");
  REQUIRE_TEST_FILE(jingle, "vgm/ym2151/JingleBells.vgm");
  REQUIRE_TEST_FILE(ayz, "vgm/ay/02_StartingPoint.vgz");
  Vorla vorla;
  const size_t kTwoSeconds = 2 * 44100 * 8;  // raw: two int32 a frame
  struct Case {
    std::string path;
    std::string args;
    std::string hash;
  };
  // Exact hashes only of renderings that convert no rate: the band-limited PSG, --resampler
  // none and board mode. Converted FM is checked against the chip's own rate below, by
  // measurement, as any libsoxr build may round differently. The band-limited PSG plays
  // chip-true (one-sided through the DC blocker, the chip's noise and levels, each frame's
  // rise of the step, counters that run through silence); --resampler none and the board keep
  // theirs.
  const Case cases[] = {{ayz, "", "9b9563973bc31731"},
                             {deck, "--resampler none", "abe0dc167866a129"},
                             {jingle, "--resampler none", "e4c623bf65731ffd"},
                             {ayz, "--resampler none", "cf428566589344b9"},
                             {deck, "--board --as-written", "775816eba51d7f69"},
                             {ayz, "--board --as-written", "ff77f9dcd60fbc2d"},
                             {deck, "--board", "422e686b2e223635"},
                             {ayz, "--board", "d80fce14851c6a4d"}};
  for (const Case& c : cases) {
    Outcome run = vorla.Render(c.path, c.args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Fnv1a(ReadAll(vorla.File("out.s32")).substr(0, kTwoSeconds)), c.hash)
        << c.path << " " << c.args;
  }
  const std::string help = vorla.Exec("render --help").out;
  EXPECT_NE(help.find("PSG sampled four times a frame, every PSG on the YM2149 curve)"),
            std::string::npos) << help;
}

// One side of a raw render (two int32 a frame), frames [0, count).
std::vector<double> RawSide(const std::string& path, size_t count, int side) {
  const std::string bytes = ReadAll(path);
  std::vector<double> x;
  for (size_t i = 0; i < count && (i + 1) * 8 <= bytes.size(); ++i) {
    const size_t at = i * 8 + 4 * static_cast<size_t>(side);
    uint32_t v = 0;
    for (size_t k = 0; k < 4; ++k) {
      v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + k])) << (8 * k);
    }
    x.push_back(static_cast<int32_t>(v));
  }
  return x;
}

// x sampled at `rate` and read at `out_rate` by linear interpolation, count frames.
std::vector<double> Reread(const std::vector<double>& x, double rate, double out_rate,
                           size_t count) {
  std::vector<double> y(count, 0.0);
  for (size_t i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) * rate / out_rate;
    const auto k = static_cast<size_t>(t);
    if (k + 1 < x.size()) y[i] = x[k] + (t - static_cast<double>(k)) * (x[k + 1] - x[k]);
  }
  return y;
}

struct Likeness {
  double correlation;
  double level_ratio;  // RMS of a over RMS of b
};

Likeness Compare(const std::vector<double>& a, const std::vector<double>& b, size_t skip) {
  const size_t n = std::min(a.size(), b.size());
  double ma = 0, mb = 0;
  for (size_t i = skip; i < n; ++i) ma += a[i], mb += b[i];
  ma /= static_cast<double>(n - skip);
  mb /= static_cast<double>(n - skip);
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = skip; i < n; ++i) {
    ab += (a[i] - ma) * (b[i] - mb);
    aa += (a[i] - ma) * (a[i] - ma);
    bb += (b[i] - mb) * (b[i] - mb);
  }
  return {ab / std::sqrt(aa * bb), std::sqrt(aa / bb)};
}

// The FM of chips mode at the chip's own rate (its rate ratio is exactly one there), with no
// conversion: OpmChip's chip-true variant with its timers counting, as DirectChips sets it up.
class FmAtItsRate : public MusicChips {
 public:
  static constexpr uint32_t kRate = 55930;  // 3579545 Hz / 64, rounded

  explicit FmAtItsRate(uint32_t clock) {
    opm_.Init(clock, kRate);
    opm_.SetChipTrue(true);
    opm_.SetTimersCounting(true);
  }
  void Write(uint8_t chip, uint8_t reg, uint8_t data) override {
    if (chip == kChipOpm) opm_.Write(reg, data);
  }
  void Mix(StereoFrame* frames, int32_t count) override { opm_.Mix(frames, count); }

 private:
  OpmChip opm_;
};

// The first count frames of a song's FM at the chip's own rate, both sides.
std::vector<StereoFrame> FmAtItsRateFrames(const std::string& path, size_t count) {
  MusicLog log;
  std::string error;
  EXPECT_TRUE(ReadMusicFile(path, &log, &error)) << error;
  FmAtItsRate chips(log.opm_clock);
  PlaybackOptions playback;
  playback.rate = FmAtItsRate::kRate;
  MusicPlayer player(log, playback, &chips);
  std::vector<StereoFrame> frames(count);
  player.Render(frames.data(), static_cast<int32_t>(count));
  return frames;
}

// Chips mode's FM runs at the chip's own rate (clock / 64) and libsoxr converts it: the output
// must be that rendering, resampled. The reference is the chip-true chip rendered in process at
// its own rate, read at 44100 Hz by interpolation. (Until the FM played as the chip, the
// reference was `--resampler none` at that rate; that now renders the board's FM, whose pitch
// table, vibrato and mix differ.) Measured: correlation 0.998 and 0.999, levels within 0.3%.
TEST(MusicEndToEnd, ChipsModeConversionFollowsTheChipAtItsOwnRate) {
  REQUIRE_TEST_FILE(deck, "vgm/ym2151/DeckTheHalls.vgm");
  REQUIRE_TEST_FILE(jingle, "vgm/ym2151/JingleBells.vgm");
  Vorla vorla;
  constexpr size_t kFrames = 2 * 44100;
  for (const std::string& path : {deck, jingle}) {
    const std::vector<StereoFrame> at_its_rate = FmAtItsRateFrames(path, kFrames * 2);
    std::vector<double> chip[2];
    for (int side = 0; side < 2; ++side) {
      std::vector<double> x;
      for (const StereoFrame& f : at_its_rate) x.push_back(side == 0 ? f.left : f.right);
      chip[side] = Reread(x, FmAtItsRate::kRate, 44100, kFrames);
    }
    ASSERT_EQ(vorla.Render(path).status, 0) << path;
    for (int side = 0; side < 2; ++side) {
      const Likeness l = Compare(RawSide(vorla.File("out.s32"), kFrames, side), chip[side], 100);
      EXPECT_GT(l.correlation, 0.99) << path << " side " << side;
      EXPECT_NEAR(l.level_ratio, 1.0, 0.02) << path << " side " << side;
    }
  }
}

TEST(MusicEndToEnd, ChipsModePlaysAtTheFilesPitchAndBoardModeAtTheBoards) {
  REQUIRE_TEST_FILE(dual, "synthetic/ym2151_ay8910_dual_exerciser.vgm");
  REQUIRE_TEST_FILE(s98, "synthetic/opm_psg_v3.s98");
  Vorla vorla;
  struct Case {
    std::string path;
    std::string args;
    double hz;         // expected
    double tolerance;  // relative
  };
  // KC 0x4A is A4, 440 Hz on a 3579545 Hz YM2151 (the chip's rate ratio rounds it a little);
  // AY tone period 254 gives clock / (16 x 254). The board's clocks are 3993600 Hz (FM) and
  // 998400 Hz (PSG, tone = clock / (8 x TP)): --board moves the writes to the file's pitch
  // (period 254 becomes 283, 2.4 cents sharp), --as-written plays them at the board's.
  const Case cases[] = {
      {dual, "--solo fm1", 440.0, 0.01},
      {dual, "--solo psg1a", 1789773.0 / (16 * 254), 0.003},
      {dual, "--solo fm1 --board", 440.0, 0.003},
      {dual, "--solo psg1a --board", 1789773.0 / (16 * 254), 0.002},
      {dual, "--solo fm1 --board --as-written", 440.0 * 3993600 / 3579545, 0.01},
      {dual, "--solo psg1a --board --as-written", 998400.0 / (8 * 254), 0.003},
      {s98, "--solo psg1", 2000000.0 / (16 * 254), 0.003},
  };
  for (const Case& c : cases) {
    Outcome run = vorla.Render(c.path, c.args);
    ASSERT_EQ(run.status, 0) << run.err;
    // From 6000 frames on: the exerciser's pause near the start, converted, ends a little later
    // (the converter's latency, about 30 ms).
    const double hz = Frequency(WavSamples(vorla.File("out.wav")), 6000, 22050, 44100.0);
    EXPECT_NEAR(hz, c.hz, c.hz * c.tolerance) << c.path << " " << c.args;
  }
}

TEST(MusicEndToEnd, LoopsAndFadeSetTheLength) {
  REQUIRE_TEST_FILE(s98, "synthetic/opm_psg_v3.s98");
  REQUIRE_TEST_FILE(dual, "synthetic/ym2151_ay8910_dual_exerciser.vgm");
  Vorla vorla;
  // 234 syncs of 10 ms; the loop holds 231. Defaults: two passes, a 3 s fade.
  ASSERT_EQ(vorla.Render(s98).status, 0);
  EXPECT_EQ(WavFrames(vorla.File("out.wav")), (234u + 231) * 441 + 3 * 44100);
  ASSERT_EQ(vorla.Render(s98, "--loops 1 --fade 0").status, 0);
  EXPECT_EQ(WavFrames(vorla.File("out.wav")), 234u * 441);
  // Into a pipe, which cannot seek back, the same file (the summary line follows it).
  const std::string wav = ReadAll(vorla.File("out.wav"));
  const Outcome piped = vorla.Exec("render " + Q(s98) + " --loops 1 --fade 0 -o /dev/stdout");
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out.substr(0, wav.size()), wav);
  // 74634 samples with a loop of 73000, three passes, at 22050 Hz, then a 1 s fade.
  ASSERT_EQ(vorla.Render(dual, "--loops 3 --fade 1 --rate 22050").status, 0);
  EXPECT_EQ(WavFrames(vorla.File("out.wav")), (74634u + 2 * 73000) / 2 + 22050);
  const std::vector<int16_t> samples = WavSamples(vorla.File("out.wav"));
  EXPECT_EQ(samples[samples.size() - 2], 0);  // faded out at the very end
}

// The step of the YM2151's DAC at a sample's size: 1 up to 511, doubling with each octave above
// (a 10-bit mantissa).
int32_t DacStep(int32_t v) {
  const int32_t size = std::abs(v);
  int32_t step = 1;
  while (size >= 512 * step) step *= 2;
  return step;
}

TEST(MusicEndToEnd, StemsAddUpToTheMix) {
  REQUIRE_TEST_FILE(deck, "vgm/ym2151/DeckTheHalls.vgm");
  Vorla vorla;
  Outcome run = vorla.Render(deck, "--stems stems");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<int16_t> mix = WavSamples(vorla.File("out.wav"));
  std::vector<int32_t> sum(mix.size(), 0);
  std::vector<int32_t> steps(mix.size(), 0);  // the DAC steps of each sample's mix and stems
  for (size_t i = 0; i < mix.size(); ++i) steps[i] = DacStep(mix[i]);
  int stems = 0;
  for (int ch = 1; ch <= 8; ++ch) {
    const std::string name = "stems/fm" + std::to_string(ch) + ".wav";
    const std::string path = vorla.File(name);
    const bool listed = run.out.find("stem " + name) != std::string::npos;
    EXPECT_EQ(listed, fs::exists(path)) << name;
    if (!fs::exists(path)) continue;
    ++stems;
    const std::vector<int16_t> stem = WavSamples(path);
    ASSERT_EQ(stem.size(), mix.size());
    EXPECT_GT(Peak(stem), 0) << path;
    for (size_t i = 0; i < stem.size(); ++i) {
      sum[i] += stem[i];
      steps[i] += DacStep(stem[i]);
    }
  }
  EXPECT_EQ(stems, 8);
  // The FM chip adds its channels before it scales them (by unity here), and the rate
  // conversion is linear: the stems add up to the mix within the rounding of each of the eight
  // conversions and 16-bit samples, unless a sum was clipped. The chip's DAC drops low bits of
  // loud values, from the mix and from each stem on its own: the stems may also miss the mix by
  // the sum of those steps.
  int32_t worst = 0;
  for (size_t i = 0; i < mix.size(); ++i) {
    worst = std::max(worst, std::abs(sum[i] - mix[i]) - steps[i]);
  }
  EXPECT_LE(worst, 8);
  EXPECT_FALSE(fs::exists(vorla.File("stems/psg1a.wav")));  // no PSG in the file
}

TEST(MusicEndToEnd, OnlyTheVoicesThatSoundGetAStem) {
  REQUIRE_TEST_FILE(dual, "synthetic/ym2151_ay8910_dual_exerciser.vgm");
  Vorla vorla;
  // Channel 1 of the (first) YM2151 and channel A of each AY are keyed; nothing else is.
  Outcome run = vorla.Exec("render " + Q(dual) + " --stems stems --solo fm,psg1,psg2a,psg2b");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("silent, no stem: fm2, fm3, fm4, fm5, fm6, fm7, fm8, psg1b, psg1c, "
                         "psg2b\n"),
            std::string::npos)
      << run.out;
  for (const char* name : {"fm1", "psg1a", "psg2a"}) {
    EXPECT_TRUE(fs::exists(vorla.File(std::string("stems/") + name + ".wav"))) << name;
  }
  EXPECT_FALSE(fs::exists(vorla.File("stems/psg2c.wav")));  // not among the solo voices
  EXPECT_FALSE(fs::exists(vorla.File("out.wav")));          // stems only: no mix asked for
}

TEST(MusicEndToEnd, MuteAndSoloLeaveVoicesOut) {
  REQUIRE_TEST_FILE(ay, "vgm/ay/02_StartingPoint.vgm");
  REQUIRE_TEST_FILE(deck, "vgm/ym2151/DeckTheHalls.vgm");
  Vorla vorla;
  ASSERT_EQ(vorla.Render(deck, "--mute fm").status, 0);
  EXPECT_EQ(Peak(WavSamples(vorla.File("out.wav"))), 0);
  ASSERT_EQ(vorla.Render(deck, "--board --mute fm").status, 0);
  EXPECT_EQ(Peak(WavSamples(vorla.File("out.wav"))), 0);

  // Solo one PSG channel: the same as its stem; muting it changes the mix.
  ASSERT_EQ(vorla.Render(ay, "--stems stems").status, 0);
  ASSERT_TRUE(fs::exists(vorla.File("stems/psg1b.wav")));
  const std::string full = ReadAll(vorla.File("out.wav"));
  ASSERT_EQ(vorla.Render(ay, "--solo psg1b").status, 0);
  EXPECT_EQ(ReadAll(vorla.File("out.wav")), ReadAll(vorla.File("stems/psg1b.wav")));
  ASSERT_EQ(vorla.Render(ay, "--mute psg1b").status, 0);
  EXPECT_NE(ReadAll(vorla.File("out.wav")), full);
  ASSERT_EQ(vorla.Render(ay, "--solo psg1 --mute psg1a,psg1c").status, 0);
  EXPECT_EQ(ReadAll(vorla.File("out.wav")), ReadAll(vorla.File("stems/psg1b.wav")));
}

TEST(MusicEndToEnd, PlayThroughSdlGivesWhatRenderWrites) {
  REQUIRE_TEST_FILE(s98, "synthetic/opm_psg_v3.s98");
  REQUIRE_TEST_FILE(ayz, "vgm/ay/02_StartingPoint.vgz");
  Vorla vorla;
  const std::string disk =
      "SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=0 SDL_DISKAUDIOFILE=" + Q(vorla.File("disk.raw"));
  for (const std::string& path : {s98, ayz}) {
    for (const std::string& mode : {std::string(""), std::string("--board")}) {
      Outcome played = vorla.Exec("play " + Q(path) + " --loops 1 --fade 0 " + mode, disk);
      ASSERT_EQ(played.status, 0) << played.err;
      EXPECT_EQ(played.out, "");  // a pipe: no title, no progress bar
      ASSERT_EQ(vorla.Render(path, "--loops 1 --fade 0 " + mode).status, 0);
      const std::string pcm = WavData(vorla.File("out.wav"));
      const std::string heard = ReadAll(vorla.File("disk.raw"));
      // SDL's disk driver writes silence while the device is open but not yet started, as a
      // real device would sound it: the song may come after some silent frames, then nothing
      // but silence follows it.
      const size_t song_start = pcm.find_first_not_of('\0');
      const size_t heard_start = heard.find_first_not_of('\0');
      ASSERT_NE(song_start, std::string::npos) << path << " " << mode;
      ASSERT_NE(heard_start, std::string::npos) << path << " " << mode;
      ASSERT_GE(heard_start, song_start) << path << " " << mode;
      const size_t lead = heard_start - song_start;
      EXPECT_EQ(lead % 4, 0u) << "whole frames";
      ASSERT_GE(heard.size(), lead + pcm.size()) << path << " " << mode;
      EXPECT_TRUE(heard.compare(lead, pcm.size(), pcm) == 0) << path << " " << mode;
      EXPECT_EQ(heard.find_first_not_of('\0', lead + pcm.size()), std::string::npos);
    }
  }
}

TEST(MusicEndToEnd, EveryTestFileRendersAndPlays) {
  const std::string dir = TestDataDir();
  if (!fs::exists(dir)) SKIP_WITHOUT_TEST_DATA("no shared test files under " << dir);
  Vorla vorla;
  const std::string disk = "SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=0 SDL_DISKAUDIOFILE=/dev/null";
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const std::string path = entry.path().string();
    const std::string ext = entry.path().extension().string();
    if (ext != ".vgm" && ext != ".vgz" && ext != ".s98") continue;
    ++files;
    // The one file whose stream stops at its first byte has nothing to play.
    const int expected = path.find("data-offset-wrong") != std::string::npos ? 1 : 0;
    Outcome rendered = vorla.Render(path);
    EXPECT_EQ(rendered.status, expected) << path << "\n" << rendered.err;
    Outcome played = vorla.Exec("play " + Q(path) + " --fade 0", disk);
    EXPECT_EQ(played.status, expected) << path << "\n" << played.err;
    Outcome info = vorla.Exec("info " + Q(path));
    EXPECT_EQ(info.status, 0) << path << "\n" << info.err;
  }
  EXPECT_GE(files, 11);
}

TEST(MusicEndToEnd, InfoPrintsTheHeaderAndTheTag) {
  REQUIRE_TEST_FILE(jingle, "vgm/ym2151/JingleBells.vgm");
  REQUIRE_TEST_FILE(s98, "synthetic/opm_psg_v3.s98");
  Vorla vorla;
  Outcome run = vorla.Exec("info " + Q(jingle));
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* part : {"VGM 1.60", "YM2151 clock      3579545 Hz", "Jingle Bells",
                           "Trad., arr. Matt Heffernan", "0:34.13", "1706 writes",
                           "skipped 15 Sega PCM writes"}) {
    EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
  }
  run = vorla.Exec("info " + Q(s98));
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* part : {"S98 version 3", "YM2151 (OPM), 4000000 Hz (FM)",
                           "PSG (YM2149), 2000000 Hz (PSG 1)", "synthetic OPM+PSG S98 v3 test",
                           "0:02.31 (231 ticks)"}) {
    EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
  }
  // As JSON, a file that cannot be read leaves no half object on standard output.
  EXPECT_EQ(vorla.Exec("info --json " + Q(s98)).out.rfind("{\"path\":", 0), 0u);
  run = vorla.Exec("info --json missing.vgm");
  EXPECT_TRUE(run.status == 1 && run.out.empty()) << run.status << run.out;
}

TEST(MusicEndToEnd, BadInputEndsWithAClearMessage) {
  REQUIRE_TEST_FILE(deck, "vgm/ym2151/DeckTheHalls.vgm");
  REQUIRE_TEST_FILE(ayz, "vgm/ay/02_StartingPoint.vgz");
  REQUIRE_TEST_FILE(bad_data, "vgm/robustness/data-offset-wrong.vgm");
  REQUIRE_TEST_FILE(good, "vgm/robustness/good.vgm");
  Vorla vorla;
  std::vector<uint8_t> bytes = LoadBytes(deck);
  bytes.resize(40);
  SaveBytes(vorla.File("short.vgm"), bytes);
  bytes = LoadBytes(ayz);
  for (size_t i = 100; i < 140; ++i) bytes[i] ^= 0x5A;
  SaveBytes(vorla.File("corrupt.vgz"), bytes);
  bytes = LoadBytes(ayz);
  bytes.resize(bytes.size() / 2);
  SaveBytes(vorla.File("cut.vgz"), bytes);
  WriteAll(vorla.File("text.vgm"), "not music\n");
  WriteAll(vorla.File("script.board"), "wait 10\n");

  struct Case {
    std::string args;
    std::string message;
    int status;  // 1 failed, 2 the command line is wrong, 0 played with a warning
  };
  const Case cases[] = {
      {"render missing.vgm", "missing.vgm: cannot open the file", 1},
      {"render short.vgm", "short.vgm: truncated header", 1},
      {"render corrupt.vgz", "corrupt gzip stream", 1},
      {"render cut.vgz -o cut.wav", "ends early at compressed byte", 0},
      {"render text.vgm", "neither a VGM", 1},
      {"render " + Q(bad_data), "nothing to play", 1},
      {"play " + Q(bad_data), "nothing to play", 1},
      {"info short.vgm", "truncated header", 1},
      {"render " + Q(deck) + " --solo psg1", "leave none of the file's voices sounding", 1},
      {"render " + Q(deck) + " --solo fm9", "unknown voice 'fm9'", 2},
      {"render " + Q(deck) + " --chunk 64", "--chunk applies to board scripts only", 2},
      {"render script.board --loops 3", "--loops applies to music files", 2},
      {"render script.board --stems x", "--stems applies to music files", 2},
  };
  for (const Case& c : cases) {
    Outcome run = vorla.Exec(c.args);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
    EXPECT_NE(run.err.find("vorla: "), std::string::npos) << c.args << "\n" << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << "\n" << run.err;
  }
  // The reader's reason comes first, with its offset.
  Outcome run = vorla.Exec("render " + Q(bad_data));
  EXPECT_NE(run.err.find("offset 0xC0: unknown command 0x00"), std::string::npos) << run.err;

  // A file with nothing the board has renders silence at its length and says why.
  run = vorla.Render(good, "--loops 1 --fade 0");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("no YM2151 or AY-3-8910"), std::string::npos);
  EXPECT_NE(run.err.find("skipped 37 YM2612 writes"), std::string::npos);
  EXPECT_EQ(WavFrames(vorla.File("out.wav")), 141120u);
  EXPECT_EQ(Peak(WavSamples(vorla.File("out.wav"))), 0);
}

TEST(MusicEndToEnd, RenderWithoutAnOutputWritesTheFilesNameAsWav) {
  REQUIRE_TEST_FILE(s98, "synthetic/opm_psg_v3.s98");
  Vorla vorla;
  Outcome run = vorla.Exec("render " + Q(s98) + " --loops 1 --fade 0");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(WavFrames(vorla.File("opm_psg_v3.wav")), 234u * 441);
  // The file named after the song is the user's now: replaced only when asked.
  WriteAll(vorla.File("opm_psg_v3.wav"), "mine");
  run = vorla.Exec("render " + Q(s98) + " --loops 1 --fade 0");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("--overwrite"), std::string::npos) << run.err;
  EXPECT_EQ(ReadAll(vorla.File("opm_psg_v3.wav")), "mine");
  ASSERT_EQ(vorla.Exec("render " + Q(s98) + " --loops 1 --fade 0 --overwrite").status, 0);
  EXPECT_EQ(WavFrames(vorla.File("opm_psg_v3.wav")), 234u * 441);
}

TEST(MusicEndToEnd, KnownByContentCutToLengthAndNothingOfTheUsersRemoved) {
  REQUIRE_TEST_FILE(deck, "vgm/ym2151/DeckTheHalls.vgm");
  REQUIRE_TEST_FILE(ay, "vgm/ay/02_StartingPoint.vgm");
  Vorla vorla;
  // No extension: the content says it is a VGM.
  SaveBytes(vorla.File("song"), LoadBytes(deck));
  ASSERT_EQ(vorla.Render(vorla.File("song"), "--length 1.5").status, 0);
  EXPECT_EQ(WavFrames(vorla.File("out.wav")), 66150u);
  // A stem that stays silent never touches a file of that name.
  fs::create_directory(vorla.File("stems"));
  WriteAll(vorla.File("stems/psg1a.wav"), "mine");
  Outcome run = vorla.Exec("render " + Q(ay) + " --stems stems --length 1 --solo psg1a,psg1c");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("silent, no stem: psg1a"), std::string::npos) << run.out;
  EXPECT_TRUE(ReadAll(vorla.File("stems/psg1a.wav")) == "mine");
  EXPECT_GT(WavFrames(vorla.File("stems/psg1c.wav")), 0u);
}

TEST(MusicEndToEnd, APipeIsReadOnceThenRecognised) {
  REQUIRE_TEST_FILE(ayz, "vgm/ay/02_StartingPoint.vgz");
  Vorla vorla;
  ASSERT_EQ(vorla.Render(ayz, "--length 1").status, 0);
  const std::string from_file = ReadAll(vorla.File("out.s32"));
  // A song, then a board script (which is read twice when it comes from a file).
  Outcome run = vorla.Exec("render /dev/stdin -o out.wav --raw out.s32 --length 1",
                           "cat " + Q(ayz) + " |");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(ReadAll(vorla.File("out.s32")) == from_file);
  run = vorla.Exec("render /dev/stdin --raw out.s32", "printf 'rate 44100\\nwait 99\\n' |");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadAll(vorla.File("out.s32")).size(), 99u * 8);
}

}  // namespace
