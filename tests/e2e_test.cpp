// End to end: the vorla program loads the built module file and renders board scripts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/temp_dir.h"
#include "tests/vorla_program.h"

namespace {


using RunResult = ProgramRun;

// vorla with a shorthand for rendering a board script of the test folder to out.s32.
class Vorla : public VorlaProgram {
 public:
  RunResult Render(const std::string& script, const std::string& extra = "",
                   const std::string& env = "") {
    return Exec("render '" + std::string(VORLA_SCRIPTS) + "/" + script + "' --raw out.s32 " +
                    extra,
                env);
  }
  std::string Raw() const { return ReadAll(File("out.s32")); }
};

std::vector<int32_t> Samples(const std::string& raw) {
  std::vector<int32_t> s(raw.size() / 4);
  for (size_t i = 0; i < s.size(); ++i) {
    s[i] = static_cast<int32_t>(static_cast<uint8_t>(raw[4 * i]) |
                                (static_cast<uint8_t>(raw[4 * i + 1]) << 8) |
                                (static_cast<uint8_t>(raw[4 * i + 2]) << 16) |
                                (static_cast<uint32_t>(static_cast<uint8_t>(raw[4 * i + 3])) << 24));
  }
  return s;
}

TEST(EndToEnd, InterruptFramesFollowHostTime) {
  Vorla v;
  RunResult r = v.Render("irq.board");
  ASSERT_EQ(r.status, 0) << r.err;
  // On at frame 10, then every 138 frames; off at 310 (the event at 424 runs out silently); on
  // again at 610; the event armed at 610 fires at 748 and re-arms at 22050 Hz (69 frames).
  EXPECT_EQ(r.out,
            "irq frame 10\nirq frame 148\nirq frame 286\n"
            "irq frame 610\nirq frame 748\nirq frame 817\nirq frame 886\n"
            "in 0x86 = 0xff\n");
}

TEST(EndToEnd, PortReadBack) {
  Vorla v;
  RunResult r = v.Render("ports.board");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "in 0x80 = 0x00\nin 0x82 = 0x02\nin 0x84 = 0xff\nin 0x86 = 0xff\n"
            "in 0x84 = 0x40\nin 0x84 = 0x00\nin 0x86 = 0x00\nin 0x89 = 0x00\n"
            "in 0x8a = 0x00\nin 0x88 = 0xff\nin 0xa0 = 0xff\nin 0x1234 = 0xff\n"
            "in 0xa3 = 0x0a\n");
}

// The FM timers count only when switched on: --fm-timers, VORLA_FMTIMERS=1 or FMTIMERS=1 in the
// settings file (the environment wins over the file, the command line over both: the host's say,
// which the board asks for); by default the status reads 0 as the board defines.
TEST(EndToEnd, FmTimersCountOnlyWhenSwitchedOn) {
  Vorla v;
  const std::string off = "in 0x89 = 0x00\nin 0x89 = 0x00\nin 0x89 = 0x00\nin 0x89 = 0x00\n"
                          "in 0x89 = 0x00\n";
  const std::string on = "in 0x89 = 0x00\nin 0x89 = 0x02\nin 0x89 = 0x00\nin 0x89 = 0x00\n"
                         "in 0x89 = 0x01\n";
  EXPECT_EQ(v.Render("fm_timers.board").out, off);
  EXPECT_EQ(v.Render("fm_timers.board", "--fm-timers").out, on);
  EXPECT_EQ(v.Render("fm_timers.board", "", "VORLA_FMTIMERS=1").out, on);
  ASSERT_EQ(v.Render("fm_timers.board").status, 0);  // leaves a VYX.INI beside the program
  FILE* ini = std::fopen(v.File("VYX.INI").c_str(), "a");
  ASSERT_NE(ini, nullptr);
  std::fputs("FMTIMERS=1\n", ini);
  std::fclose(ini);
  EXPECT_EQ(v.Render("fm_timers.board").out, on);
  EXPECT_EQ(v.Render("fm_timers.board", "", "VORLA_FMTIMERS=0").out, off);
  EXPECT_EQ(v.Render("fm_timers.board", "--fm-timers", "VORLA_FMTIMERS=0").out, on);
  EXPECT_NE(ReadAll(v.File("VYX.INI")).find("FMTIMERS=1"), std::string::npos);  // kept
}

// The chips' own sound only when switched on: --chip-sound, VORLA_CHIPSOUND=1 or CHIPSOUND=1 in
// the settings file (the command line over the environment over the file), the same frames at
// every chunk size, and with save states too.
TEST(EndToEnd, ChipSoundOnlyWhenSwitchedOn) {
  Vorla v;
  ASSERT_EQ(v.Render("state_save.board").status, 0);
  const std::string defined = v.Raw();
  RunResult r = v.Render("state_save.board", "--chip-sound");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string chips = v.Raw();
  EXPECT_NE(chips, defined);
  EXPECT_EQ(chips.size(), defined.size());
  for (const char* chunk : {"1", "7"}) {
    ASSERT_EQ(v.Render("state_save.board", std::string("--chip-sound --chunk ") + chunk).status, 0);
    EXPECT_EQ(v.Raw(), chips) << "chunk " << chunk;
  }
  r = v.Render("state_save.board", "--chip-sound --save-states --chunk 7");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(v.Raw(), chips) << "saving the state changes nothing";
  v.Render("state_save.board", "", "VORLA_CHIPSOUND=1");
  EXPECT_EQ(v.Raw(), chips);
  FILE* ini = std::fopen(v.File("VYX.INI").c_str(), "a");
  ASSERT_NE(ini, nullptr);
  std::fputs("CHIPSOUND=1\n", ini);
  std::fclose(ini);
  v.Render("state_save.board");
  EXPECT_EQ(v.Raw(), chips);
  v.Render("state_save.board", "", "VORLA_CHIPSOUND=0");
  EXPECT_EQ(v.Raw(), defined);
  v.Render("state_save.board", "--chip-sound", "VORLA_CHIPSOUND=0");
  EXPECT_EQ(v.Raw(), chips);
}

TEST(EndToEnd, ToneVoicesAreSquareWavesOfTheProgrammedCount) {
  Vorla v;
  RunResult r = v.Render("tone.board");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<int32_t> s = Samples(v.Raw());
  ASSERT_EQ(s.size(), 2u * 8000);
  for (size_t i = 0; i < s.size(); i += 2) ASSERT_EQ(s[i], s[i + 1]) << "left equals right";
  // While disabled (frames 5000-5499) nothing sounds.
  for (size_t f = 5000; f < 5500; ++f) ASSERT_EQ(s[2 * f], 0);
  // Every value is a sum of voice levels of 8192; the voices start high.
  for (int32_t x : s) ASSERT_EQ(x % 8192, 0);
  EXPECT_EQ(s[0], 2 * 8192) << "voices 1 and 2; the count of 255 is silent";
}

TEST(EndToEnd, ApplyChangesVolumesAtOnceAndPersists) {
  Vorla v;
  RunResult r = v.Render("apply.board");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<int32_t> s = Samples(v.Raw());
  ASSERT_EQ(s.size(), 2u * 3000);
  int32_t peak_before = 0, peak_loud = 0, peak_muted = 0;
  for (size_t f = 0; f < 1000; ++f) peak_before = std::max(peak_before, s[2 * f]);
  for (size_t f = 1000; f < 2000; ++f) peak_loud = std::max(peak_loud, s[2 * f]);
  for (size_t f = 2000; f < 2500; ++f) peak_muted = std::max(peak_muted, s[2 * f]);
  EXPECT_EQ(peak_before, 2 * 8192);
  EXPECT_EQ(peak_loud, 11392 + 1952);
  EXPECT_EQ(peak_muted, 0);
  const std::string ini = ReadAll(v.File("VYX.INI"));
  EXPECT_NE(ini.find("[VORLA]"), std::string::npos);
  EXPECT_NE(ini.find("Volume0=120"), std::string::npos) << "the last apply is what is saved";

  // The next run starts from what the last one saved: voice 1 at +20 (level 11392).
  RunResult again = v.Render("tone.board");
  ASSERT_EQ(again.status, 0) << again.err;
  std::vector<int32_t> t = Samples(v.Raw());
  EXPECT_EQ(*std::max_element(t.begin(), t.end()), 11392 + 2 * 8192);
}

TEST(EndToEnd, ChunkSizeDoesNotChangeTheSound) {
  Vorla v;
  ASSERT_EQ(v.Render("tone.board", "--chunk 7").status, 0);
  const std::string small = v.Raw();
  ASSERT_EQ(v.Render("tone.board", "--chunk 100000").status, 0);
  EXPECT_EQ(small, v.Raw());
}

TEST(EndToEnd, WavIsClampedSixteenBitStereo) {
  Vorla v;
  RunResult r = v.Render("tone.board", "-o '" + v.File("out.wav") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string wav = ReadAll(v.File("out.wav"));
  ASSERT_EQ(wav.size(), 44u + 8000 * 4);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(static_cast<uint8_t>(wav[22]), 2);   // channels
  EXPECT_EQ(static_cast<uint8_t>(wav[34]), 16);  // bits
  EXPECT_NE(r.err.find("0 clipped samples"), std::string::npos) << r.err;
}

// A pipe cannot seek back: the WAV header must be final before the first frame.
TEST(EndToEnd, WavAndRawGoToAPipeWhole) {
  Vorla v;
  ASSERT_EQ(v.Render("tone.board", "-o out.wav --report /dev/null").status, 0);
  for (const std::string option : {"-o", "--raw"}) {
    RunResult r = v.Exec("render '" + std::string(VORLA_SCRIPTS) + "/tone.board' " + option +
                         " /dev/stdout --report /dev/null");
    EXPECT_EQ(r.status, 0) << option << "\n" << r.err;
    EXPECT_EQ(r.out, ReadAll(v.File(option == "-o" ? "out.wav" : "out.s32"))) << option;
  }
}

TEST(EndToEnd, BadInputIsReportedNotCrashedOn) {
  Vorla v;
  WriteAll(v.File("bad.board"), "wait 10\nout 0x88\n");
  RunResult r = v.Exec("render '" + v.File("bad.board") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vorla: " + v.File("bad.board") + ":2: 'out' takes 2 operands, got 1\n");

  r = v.Exec("render '" + v.File("missing.board") + "'");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("missing.board: cannot open"), std::string::npos) << r.err;

  r = v.Exec("--module '" + v.File("nothing.vyx") + "' render /dev/null");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("cannot load module file"), std::string::npos) << r.err;

  r = v.Exec("--module '" + std::string(VORLA_NO_EXPORT) + "' render /dev/null");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("has no VyxCreateModule export"), std::string::npos) << r.err;

  r = v.Exec("--module '" + std::string(VORLA_NULL_MODULE) + "' render /dev/null");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("returned null"), std::string::npos) << r.err;

  r = v.Exec("render /dev/null --raw /nonexistent/dir/out.s32");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
}

// The edges a careless or hostile caller finds: lengths known before anything is written,
// failed writes that stop the render, nothing of the user's overwritten, every failure an exit
// status of 1 (2 for the command line) and a message that starts "vorla:".
TEST(EndToEnd, EdgesFailCleanlyAndDestroyNothing) {
  Vorla v;
  WriteAll(v.File("long.board"), "in 0x89\nwait 1099511627776\n");
  struct Case {
    std::string args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"render long.board -o long.wav", 1, "more than a 16-bit stereo WAV file holds"},
      {"render long.board --raw /dev/full --report /dev/null", 1,
       "cannot write /dev/full: No space left on device"},
      {"render long.board --raw r.s32 --length 0.5 --report /dev/full", 1, "cannot write /dev/full"},
      {"render long.board -o long.board", 1, "is the input"},
      {"render long.board -o x.wav --raw ./x.wav", 1, "are one file"},
      {"render .", 1, ".: no music files (.vgm, .vgz, .s98) in this folder"},
      {"render long.board --raw r.s32 --report nodir/r.txt", 1,
       "cannot write nodir/r.txt: No such file or directory"},
      {"--module ./cut.vyx render long.board", 1, "the file is cut off"},
      {"rendr long.board", 2, "did you mean 'render'?"},
      {"render long.board --rate 1e4", 2, "'1e4' is not a whole number (8000 to 192000)"},
      {"render long.board --rate 200000", 2, "200000 is out of range (8000 to 192000)"},
      {"render long.board --length nan", 2, "'nan' is not a number"},
      {"render long.board --rate 8000 --rate 9000", 2, "--rate is given twice"},
      {"", 2, "a subcommand is required"},
  };
  const std::string module = ReadAll(v.File("Vorla.vyx"));
  WriteAll(v.File("cut.vyx"), module.substr(0, module.size() / 3));
  for (const Case& c : cases) {
    RunResult r = v.Exec(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    EXPECT_EQ(r.err.rfind("vorla: ", 0), 0u) << c.args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
  }
  EXPECT_EQ(ReadAll(v.File("long.board")), "in 0x89\nwait 1099511627776\n");
  for (const char* left : {"long.wav", "x.wav", "r.s32"}) {
    EXPECT_FALSE(std::filesystem::exists(v.File(left))) << left << " left behind";
  }
  for (const auto& entry : std::filesystem::directory_iterator(v.File(""))) {
    EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
  }

  // --length cuts the render; a cut render is complete and says so.
  RunResult r = v.Exec("render long.board -o long.wav --length 0.25 --rate 8000");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadAll(v.File("long.wav")).size(), 44u + 2000u * 4);
  EXPECT_NE(r.err.find("cut after 0:00.25"), std::string::npos) << r.err;
  for (const char* args : {"help", "--help", "--version"}) {
    r = v.Exec(args);
    EXPECT_EQ(r.status, 0) << args;
    EXPECT_NE(r.out.find(args[2] == 'v' ? "vorla 2.0.1.1" : "Exit status: 0 done"),
              std::string::npos) << args << "\n" << r.out;
  }
}

TEST(EndToEnd, DemoWritesAWavAndSaysWhatItDid) {
  Vorla v;
  RunResult r = v.Exec("demo -o '" + v.File("demo.wav") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("wrote"), std::string::npos);
  EXPECT_NE(r.out.find("peak left"), std::string::npos);
  EXPECT_NE(r.out.find("real time"), std::string::npos);
  EXPECT_GT(ReadAll(v.File("demo.wav")).size(), 44u + 44100u * 4);
}

}  // namespace
