// End to end: the board's saved states through the vorla program, its script lines and files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/temp_dir.h"
#include "tests/vorla_program.h"

namespace {

constexpr size_t kFrameBytes = 8;  // a raw frame: two 32-bit samples
constexpr long kSavedAt = 997;     // the frame state_save.board ends on

class StateRun : public VorlaProgram {
 public:
  // Renders `tail` after state_save.board to out.s32 (the report on standard output).
  ProgramRun Script(const std::string& tail, const std::string& args,
                    const std::string& env = "") {
    const std::string script = File("s.board");
    FILE* f = std::fopen(script.c_str(), "wb");
    const std::string text = ReadAll(std::string(VORLA_SCRIPTS) + "/state_save.board") + tail;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return Exec("render s.board --raw out.s32 " + args, env);
  }
  // The raw frames from `frame` on.
  std::string RawFrom(long frame) const {
    return ReadAll(File("out.s32")).substr(static_cast<size_t>(frame) * kFrameBytes);
  }
};

// The report's interrupt frames from `frame` on, counted from it.
std::vector<long> IrqFrom(const std::string& report, long frame) {
  std::vector<long> irqs;
  long n = 0;
  for (size_t at = 0; (at = report.find("irq frame ", at)) != std::string::npos; ++at) {
    if (std::sscanf(report.c_str() + at, "irq frame %ld", &n) == 1 && n >= frame) {
      irqs.push_back(n - frame);
    }
  }
  return irqs;
}

// Other writes between a save and its load: notes off and changed, the envelope restarted, the
// tone voices off, the LFO's rate changed and the interrupt re-armed at another time.
constexpr char kOtherWrites[] =
    "out 0x88 0x08\nout 0x89 0x03\nout 0x88 0x18\nout 0x89 0x10\n"
    "out 0xa0 0x0d\nout 0xa1 0x08\nout 0xa0 0x08\nout 0xa1 0x05\nout 0x02 0x00\n"
    "wait 1200\nout 0x86 0x00\nwait 77\nout 0x86 0x02\nwait 1229\n";

TEST(SaveStates, LoadPlaysOnAsTheSavedBoardAtAnyChunk) {
  for (const char* chunk : {"1024", "7"}) {
    SCOPED_TRACE(chunk);
    StateRun straight, restored;
    const ProgramRun a = straight.Script("save 3\nwait 6000\n",
                                         std::string("--save-states --chunk ") + chunk);
    ASSERT_EQ(a.status, 0) << a.err;
    const ProgramRun b = restored.Script(std::string("save 3\n") + kOtherWrites +
                                             "load 3\nwait 6000\n",
                                         std::string("--save-states --chunk ") + chunk);
    ASSERT_EQ(b.status, 0) << b.err;
    const long loaded_at = kSavedAt + 2506;
    EXPECT_EQ(straight.RawFrom(kSavedAt).size(), 6000 * kFrameBytes);
    EXPECT_TRUE(straight.RawFrom(kSavedAt) == restored.RawFrom(loaded_at));
    EXPECT_EQ(IrqFrom(a.out, kSavedAt), IrqFrom(b.out, loaded_at));
    EXPECT_GE(IrqFrom(a.out, kSavedAt).size(), 38u);  // every 156 frames
  }
}

// A state made at one rate and loaded at another plays on at the new rate, as the saved board
// would have after the host's rate change.
TEST(SaveStates, LoadedAtAnotherRateItPlaysOnAtThatRate) {
  StateRun straight, restored;
  ASSERT_EQ(straight.Script("rate 44100\nwait 6000\n", "--save-states").status, 0);
  const ProgramRun b = restored.Script(
      std::string("save 3\n") + kOtherWrites + "rate 44100\nwait 10\nload 3\nwait 6000\n",
      "--save-states");
  ASSERT_EQ(b.status, 0) << b.err;
  EXPECT_TRUE(straight.RawFrom(kSavedAt) == restored.RawFrom(kSavedAt + 2516));
}

TEST(SaveStates, OffByDefaultTheLinesChangeNothing) {
  StateRun plain, with_lines;
  ASSERT_EQ(plain.Script(std::string(kOtherWrites) + "wait 6000\n", "").status, 0);
  const ProgramRun r = with_lines.Script(
      std::string("save 3\n") + kOtherWrites + "load 3\nwait 6000\n", "");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(plain.RawFrom(0) == with_lines.RawFrom(0));
  EXPECT_NE(r.out.find("save 3: the board keeps no state\n"), std::string::npos);
  EXPECT_NE(r.out.find("load 3: the board keeps no state; nothing changed\n"), std::string::npos);
  // A load before any save is the script's fault, told by line.
  const ProgramRun bad = with_lines.Script("load 4\n", "");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("s.board:57: slot 4 holds no state"), std::string::npos) << bad.err;
}

TEST(SaveStates, AStateFileCarriesToAnotherRun) {
  StateRun straight, saver, loader;
  ASSERT_EQ(straight.Script("wait 4000\n", "--save-states").status, 0);
  // The settings file's switch, read like LOG; the state written by --state-out.
  std::FILE* ini = std::fopen(saver.File("VYX.INI").c_str(), "wb");
  std::fputs("[VORLA]\nSAVESTATES=1\n", ini);
  std::fclose(ini);
  const ProgramRun s = saver.Script("save 0\nload 0\n", "--state-out state.bin");
  ASSERT_EQ(s.status, 0) << s.err;
  EXPECT_EQ(s.out.find("keeps no state"), std::string::npos);
  std::filesystem::copy_file(saver.File("state.bin"), loader.File("state.bin"));
  const ProgramRun l = loader.Exec("render '" + std::string(VORLA_SCRIPTS) +
                                   "/state_continue.board' --state-in state.bin --raw out.s32");
  ASSERT_EQ(l.status, 0) << l.err;
  EXPECT_TRUE(straight.RawFrom(kSavedAt) == loader.RawFrom(0));
  EXPECT_EQ(IrqFrom(straight.Script("wait 4000\n", "--save-states").out, kSavedAt),
            IrqFrom(l.out, 0));
  // The environment overrides the settings file.
  EXPECT_NE(saver.Script("save 0\n", "", "VORLA_SAVESTATES=0").out.find("keeps no state"),
            std::string::npos);
}

TEST(SaveStates, DamagedForeignAndEmptyStatesAreRefusedWithNothingWritten) {
  StateRun saver;
  ASSERT_EQ(saver.Script("", "--state-out state.bin").status, 0);
  const std::string good = ReadAll(saver.File("state.bin"));
  std::string flipped = good;
  flipped[good.size() / 2] ^= 0x01;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "the file is empty"},
      {good.substr(0, good.size() - 1), "bytes: not a saved state of this board"},
      {good + "x", "bytes: not a saved state of this board"},
      {flipped, "damaged, or made by another program"},
      {std::string(good.size(), 'A'), "damaged, or made by another program"},
  };
  for (const auto& [bytes, why] : cases) {
    StateRun run;
    std::FILE* f = std::fopen(run.File("bad.bin").c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    const ProgramRun r = run.Exec("render '" + std::string(VORLA_SCRIPTS) +
                                  "/state_continue.board' --state-in bad.bin --raw out.s32");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("vorla: bad.bin: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(run.File("out.s32")));
  }
}

}  // namespace
