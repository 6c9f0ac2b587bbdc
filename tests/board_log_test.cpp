// End to end: the board logs what a script plays (vorla render SCRIPT --log), and the log played
// back through the module file gives the same raw output; the LOG settings key, VORLA_LOG
// winning over it, a log that cannot be made, and writes placed in time across a rate change.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "music/music_reader.h"
#include "script/board_script.h"
#include "tests/temp_dir.h"
#include "tests/vorla_program.h"

namespace {

const std::string kLogs = VORLA_SOURCE_DIR "/tests/logs/";

std::string Script(const std::string& name) { return "'" + kLogs + name + "'"; }

// Renders the script with a log, plays the log back on the board, and says whether the two raw
// outputs are the same bytes.
void ExpectRoundTrip(VorlaProgram& vorla, const std::string& script, const std::string& log,
                     uint32_t rate) {
  const std::string r = " --rate " + std::to_string(rate);
  ProgramRun made = vorla.Exec("render " + Script(script) + r + " --raw made.s32 --log " + log);
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(made.err, "");
  ProgramRun played = vorla.Exec("render " + log + r + " --board --raw played.s32");
  ASSERT_EQ(played.status, 0) << played.err;
  const std::string a = ReadAll(vorla.File("made.s32"));
  ASSERT_GT(a.size(), 40000u * 8);
  EXPECT_TRUE(a == ReadAll(vorla.File("played.s32"))) << script << " " << log << " at " << rate;
}

TEST(BoardLog, S98PlaysBackBitIdenticalAtTwoRates) {
  VorlaProgram vorla;
  ExpectRoundTrip(vorla, "log_all_psgs.board", "all.s98", 44100);
  ExpectRoundTrip(vorla, "log_all_psgs.board", "all48.s98", 48000);
  ProgramRun info = vorla.Exec("info all.s98");
  EXPECT_NE(info.out.find("logged by         Vorla"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("PSG 4             YM2149 1996800 Hz"), std::string::npos) << info.out;
}

TEST(BoardLog, VgmPlaysBackBitIdenticalAndCountsWhatItCannotHold) {
  VorlaProgram vorla;
  ExpectRoundTrip(vorla, "log_psg12.board", "two.vgm", 44100);
  ProgramRun four = vorla.Exec("render " + Script("log_all_psgs.board") + " --raw x.s32 --log four.vgm");
  EXPECT_EQ(four.status, 0);
  EXPECT_NE(four.err.find("four.vgm: 654 writes to PSG 3 and 4 not logged"), std::string::npos)
      << four.err;
}

TEST(BoardLog, WritesAcrossARateChangeKeepTheirTime) {
  VorlaProgram vorla;
  ASSERT_EQ(vorla.Exec("render " + Script("log_rate_change.board") + " --raw x.s32 --log r.s98").status, 0);
  BoardScript script;
  std::string error;
  ASSERT_TRUE(ParseBoardScript(ReadAll(kLogs + "log_rate_change.board"), "s", &script, &error));
  MusicLog log;
  ASSERT_TRUE(ReadMusicFile(vorla.File("r.s98"), &log, &error)) << error;
  ASSERT_EQ(log.ticks_num, 44100u);
  // Each FM or PSG data write of the script, in order, against the next write of the log.
  double seconds = 0;
  uint32_t rate = 44100;
  uint64_t ticks = 0;
  size_t event = 0;
  int writes = 0;
  for (const ScriptCommand& c : script.commands) {
    if (c.kind == ScriptCommand::kRate) rate = static_cast<uint32_t>(c.args[0]);
    if (c.kind == ScriptCommand::kWait) seconds += static_cast<double>(c.args[0]) / rate;
    const bool data_port = c.args[0] == 0x89 || (c.args[0] >= 0xA1 && c.args[0] <= 0xA7 && (c.args[0] & 1));
    if (c.kind != ScriptCommand::kOut || !data_port) continue;
    while (event < log.events.size() && log.events[event].ticks != 0) ticks += log.events[event++].ticks;
    ASSERT_LT(event, log.events.size());
    EXPECT_EQ(log.events[event].data, c.args[1]);
    EXPECT_LE(std::fabs(static_cast<double>(ticks) / 44100.0 - seconds), 1.0 / rate) << "write " << writes;
    ++event;
    ++writes;
  }
  EXPECT_GT(writes, 1000);
  while (event < log.events.size()) EXPECT_NE(log.events[event++].ticks, 0u) << "a write too many";
  EXPECT_EQ(rate, 32000u);
}

TEST(BoardLog, SettingsKeyIsReadAndKeptAndTheEnvironmentWins) {
  VorlaProgram vorla;
  std::filesystem::create_directory(vorla.File("logs"));
  { std::ofstream(vorla.File("VYX.INI")) << "[VORLA]\nLOG=key.s98\n"; }
  ASSERT_EQ(vorla.Exec("render " + Script("log_psg12.board") + " --raw a.s32").status, 0);
  EXPECT_TRUE(std::filesystem::exists(vorla.File("key.s98")));
  const std::string ini = ReadAll(vorla.File("VYX.INI"));
  EXPECT_NE(ini.find("LOG=key.s98"), std::string::npos) << ini;
  EXPECT_NE(ini.find("USE_ROMEO=0"), std::string::npos) << ini;

  std::filesystem::remove(vorla.File("key.s98"));
  ASSERT_EQ(vorla.Exec("render " + Script("log_psg12.board") + " --raw a.s32", "VORLA_LOG=logs/").status, 0);
  EXPECT_FALSE(std::filesystem::exists(vorla.File("key.s98")));
  int made = 0;
  for (const auto& entry : std::filesystem::directory_iterator(vorla.File("logs"))) {
    EXPECT_EQ(entry.path().extension(), ".s98");
    EXPECT_EQ(entry.path().filename().string().rfind("vorla-", 0), 0u);
    ++made;
  }
  EXPECT_EQ(made, 1);
}

// --log DIR/ makes a missing folder (one level); a run that fails leaves none behind.
TEST(BoardLog, AMissingLogFolderIsMade) {
  VorlaProgram vorla;
  ProgramRun run = vorla.Exec("render " + Script("log_psg12.board") + " --raw a.s32 --log new/");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  int logs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(vorla.File("new"))) {
    EXPECT_EQ(entry.path().extension(), ".s98");
    ++logs;
  }
  EXPECT_EQ(logs, 1);
  WriteAll(vorla.File("bad.board"), "wait 10\nout 0x88\n");
  EXPECT_EQ(vorla.Exec("render bad.board --raw b.s32 --log failed/").status, 1);
  EXPECT_FALSE(std::filesystem::exists(vorla.File("failed")));
}

// A log the user asked for that cannot be made fails the run, once said, and nothing is written;
// nor can a log be the settings file, the module file or the input.
TEST(BoardLog, ALogThatCannotBeMadeOrWouldDestroyAFileFailsTheRun) {
  VorlaProgram vorla;
  ProgramRun run =
      vorla.Exec("render " + Script("log_psg12.board") + " --raw a.s32 --log no/such/dir/x.s98");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "vorla: cannot create the register log no/such/dir/x.s98: No such file or "
                     "directory\n");
  EXPECT_FALSE(std::filesystem::exists(vorla.File("a.s32")));

  WriteAll(vorla.File("song.board"), ReadAll(kLogs + "log_psg12.board"));
  { std::ofstream(vorla.File("VYX.INI")) << "[VORLA]\nLOG=VYX.INI\n"; }
  const std::string ini = ReadAll(vorla.File("VYX.INI"));
  for (const std::string& env : {std::string(), std::string("VORLA_LOG=song.board"),
                                 "VORLA_LOG=" + vorla.File("Vorla.vyx")}) {
    run = vorla.Exec("render song.board --raw a.s32", env);
    EXPECT_EQ(run.status, 1) << env;
    EXPECT_NE(run.err.find("vorla: cannot create the register log "), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(": it is the "), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(vorla.File("a.s32")));
  }
  // The board was made and let go, and saved its settings as it always does: the key stays.
  EXPECT_EQ(ReadAll(vorla.File("VYX.INI")).rfind(ini, 0), 0u);
  EXPECT_EQ(ReadAll(vorla.File("song.board")), ReadAll(kLogs + "log_psg12.board"));
}

}  // namespace
