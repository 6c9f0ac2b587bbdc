// End to end: vorla's level options on a shared AY file, in chips and board mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/music_files.h"
#include "tests/temp_dir.h"
#include "tests/vorla_program.h"

namespace {

// The raw output's peak of each side.
struct Peaks {
  double left = 0;
  double right = 0;
};

Peaks RawPeaks(const std::string& bytes) {
  Peaks p;
  for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
    int32_t v[2];
    std::memcpy(v, bytes.data() + i, 8);
    p.left = std::max(p.left, std::fabs(static_cast<double>(v[0])));
    p.right = std::max(p.right, std::fabs(static_cast<double>(v[1])));
  }
  return p;
}

TEST(LevelsEndToEnd, GainBalanceAndStereoFromTheCommandLine) {
  REQUIRE_TEST_FILE(ay, "vgm/ay/02_StartingPoint.vgm");
  VorlaProgram vorla;
  auto render = [&](const std::string& extra) {
    const ProgramRun run = vorla.Exec("render '" + ay + "' --raw out.s32 " + extra);
    EXPECT_EQ(run.status, 0) << extra << "\n" << run.err;
    return ReadAll(vorla.File("out.s32"));
  };
  for (const std::string mode : {"", "--board"}) {
    const std::string plain = render(mode);
    EXPECT_EQ(render(mode + " --gain 0"), plain) << mode;
    const Peaks before = RawPeaks(plain);
    const Peaks after = RawPeaks(render(mode + " --gain 6"));
    EXPECT_NEAR(20 * std::log10(after.left / before.left), 6.0, 0.01) << mode;
  }
  const std::string plain = render("");
  EXPECT_EQ(render("--psg-stereo mono --psg-gain 0 --fm-gain 0"), plain);
  EXPECT_EQ(render("--psg-stereo abc --stereo-width 0"), plain);
  const Peaks abc = RawPeaks(render("--psg-stereo abc --stereo-width 100%"));
  EXPECT_NE(abc.left, abc.right);

  const std::pair<std::string, std::string> refused[] = {
      {"--gain abc", "--gain: 'abc' is not a number (-40 to 40)"},
      {"--psg-stereo xyz", "--psg-stereo: 'xyz' is none of mono, abc, acb"},
      {"--psg-stereo abc --stereo-width 150", "--stereo-width: 150 is out of range (0 to 100)"},
      {"--board --psg-gain 3", "--psg-gain applies to chips mode only"},
  };
  for (const auto& [args, message] : refused) {
    const ProgramRun run = vorla.Exec("render '" + ay + "' -o x.wav " + args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_NE(run.err.find("vorla: " + message), std::string::npos) << args << "\n" << run.err;
    EXPECT_FALSE(std::filesystem::exists(vorla.File("x.wav"))) << args;
  }
}

}  // namespace
