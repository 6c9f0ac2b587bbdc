// End to end: where a song starts, how often its loop repeats and how fast it goes (render), and
// the keys of `play` typed on a pseudo-terminal, whose settings must come back however it ends.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/music_files.h"
#include "tests/vorla_program.h"

namespace {

std::string Q(const std::string& path) { return "'" + path + "'"; }

// vorla render SONG ARGS into a WAV file: its 16-bit samples, interleaved (none when it fails).
std::vector<int16_t> Render(VorlaProgram& vorla, const std::string& song, const std::string& args) {
  const ProgramRun run = vorla.Exec("render " + Q(song) + " " + args + " -y -o out.wav");
  return run.status == 0 ? WavSamples(vorla.File("out.wav")) : std::vector<int16_t>();
}

// The first frame whose left side is louder than level.
size_t Onset(const std::vector<int16_t>& s, int level) {
  size_t i = 0;
  while (2 * i < s.size() && std::abs(s[2 * i]) <= level) ++i;
  return i;
}

// The left side's frequency over frames [start, start + 4096), from its rising zero crossings.
double Frequency(const std::vector<int16_t>& s, size_t start) {
  size_t first = 0, last = 0, crossings = 0;
  for (size_t i = start + 1; i < start + 4096 && 2 * i < s.size(); ++i) {
    if (s[2 * (i - 1)] < 0 && s[2 * i] >= 0) {
      if (crossings++ == 0) first = i;
      last = i;
    }
  }
  return crossings < 2 ? 0 : (crossings - 1) * 44100.0 / static_cast<double>(last - first);
}

TEST(PlayTimeline, StartLoopsAndSpeedShapeTheRender) {
  REQUIRE_TEST_FILE(deck, "vgm/ym2151/DeckTheHalls.vgm");
  REQUIRE_TEST_FILE(s98, "synthetic/opm_psg_v3.s98");
  REQUIRE_TEST_FILE(ay, "vgm/ay/02_StartingPoint.vgm");
  REQUIRE_TEST_FILE(dual, "synthetic/ym2151_ay8910_dual_exerciser.vgm");
  VorlaProgram vorla;
  // --start: the same samples as that stretch of the whole song; the length counts from it.
  const std::vector<int16_t> whole = Render(vorla, deck, "");
  const std::vector<int16_t> part = Render(vorla, deck, "--start 4.5 --length 2");
  ASSERT_EQ(part.size(), 2u * 2 * 44100);
  const size_t skip = 2 * 441;  // 10 ms
  EXPECT_TRUE(std::equal(part.begin() + skip, part.end(), whole.begin() + 2 * 198450 + skip));

  // 234 syncs of 10 ms, the loop 231 of them: --loops 0 plays the data once, without a fade.
  EXPECT_EQ(Render(vorla, s98, "--loops 0").size(), 2u * 234 * 441);
  // forever: a render needs --length, and then fades out as it is cut.
  ProgramRun run = vorla.Exec("render " + Q(s98) + " --loops forever -o out.wav");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("--loops forever: a render needs an end"), std::string::npos) << run.err;
  const std::vector<int16_t> forever = Render(vorla, s98, "--loops inf --length 12");
  ASSERT_EQ(forever.size(), 2u * 12 * 44100);
  EXPECT_EQ(forever[forever.size() - 2], 0);

  // --speed 2: half the length, a note's onset at half its time, the pitch unchanged.
  const std::vector<int16_t> ay1 = Render(vorla, ay, "--solo psg1a");
  const std::vector<int16_t> ay2 = Render(vorla, ay, "--solo psg1a --speed 2");
  EXPECT_NEAR(static_cast<double>(ay2.size()), ay1.size() / 2.0, 2);
  EXPECT_GT(Onset(ay1, 500), 44100u);
  EXPECT_NEAR(static_cast<double>(Onset(ay2, 500)), Onset(ay1, 500) / 2.0, 1);
  EXPECT_NEAR(Frequency(Render(vorla, dual, "--solo fm --speed 2"), 22050), 440, 2);
  for (const char* bad : {"0", "abc", "5"}) {
    run = vorla.Exec("render " + Q(deck) + " --speed " + bad + " -o out.wav");
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_NE(run.err.find("vorla: --speed: "), std::string::npos) << run.err;
  }
}

// vorla play on a fresh pseudo-terminal as its standard input, output and controlling terminal.
class PtyPlay {
 public:
  PtyPlay(VorlaProgram& vorla, const std::string& song) {
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
    tcgetattr(slave_, &before_);
    const std::string program = vorla.File("vorla");
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      ioctl(slave_, TIOCSCTTY, 0);
      dup2(slave_, 0);
      dup2(slave_, 1);
      dup2(slave_, 2);
      setenv("SDL_AUDIODRIVER", "dummy", 1);
      execl(program.c_str(), "vorla", "play", song.c_str(), "--loops", "forever",
            static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~PtyPlay() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }

  // Reads what the player shows until it holds text; false after 5 s without it.
  bool WaitFor(const std::string& text) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (screen_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > give_up) return false;
      Drain(50);
    }
    return true;
  }
  void Type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  // The exit status (128 + N for signal N); -1 when it has not ended within 5 s.
  int Wait() {
    for (int i = 0; i < 100; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      Drain(50);  // a full terminal would hold the player up
    }
    return -1;
  }
  // The terminal's settings are those it had before the player started.
  bool AsBefore() const {
    termios now{};
    tcgetattr(slave_, &now);
    return now.c_lflag == before_.c_lflag && now.c_iflag == before_.c_iflag &&
           std::memcmp(now.c_cc, before_.c_cc, sizeof now.c_cc) == 0;
  }
  pid_t pid() const { return pid_; }
  const std::string& screen() const { return screen_; }

 private:
  // What the player wrote in the next wait_ms, onto screen_.
  void Drain(int wait_ms) {
    pollfd in{master_, POLLIN, 0};
    if (poll(&in, 1, wait_ms) <= 0) return;
    char buffer[512];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n > 0) screen_.append(buffer, static_cast<size_t>(n));
  }

  int master_ = -1, slave_ = -1;
  pid_t pid_ = -1;
  bool exited_ = false;
  termios before_{};
  std::string screen_;
};

TEST(PlayKeys, KeysMoveTheSongAndEveryEndGivesTheTerminalBack) {
  REQUIRE_TEST_FILE(s98, "synthetic/opm_psg_v3.s98");
  VorlaProgram vorla;
  {
    // Up goes a minute on; q ends with status 0.
    PtyPlay play(vorla, s98);
    ASSERT_TRUE(play.WaitFor("q quit")) << play.screen();
    EXPECT_FALSE(play.AsBefore());  // keys as typed, unechoed
    play.Type("\x1b[A++");
    EXPECT_TRUE(play.WaitFor("  1:0")) << play.screen();
    EXPECT_TRUE(play.WaitFor("volume +3.0 dB")) << play.screen();
    play.Type("q");
    EXPECT_EQ(play.Wait(), 0);
    EXPECT_TRUE(play.AsBefore());
  }
  {
    // A lone Esc ends it too; an arrow's sequence does not.
    PtyPlay play(vorla, s98);
    ASSERT_TRUE(play.WaitFor("q quit")) << play.screen();
    play.Type("\x1b[1;2C");
    EXPECT_TRUE(play.WaitFor("  1:0")) << play.screen();
    play.Type("\x1b");
    EXPECT_EQ(play.Wait(), 0);
    EXPECT_TRUE(play.AsBefore());
  }
  {
    // A stop signal: the terminal's settings back, then the end it always had.
    PtyPlay play(vorla, s98);
    ASSERT_TRUE(play.WaitFor("q quit")) << play.screen();
    ASSERT_FALSE(play.AsBefore());
    kill(play.pid(), SIGTERM);
    EXPECT_EQ(play.Wait(), 128 + SIGTERM);
    EXPECT_TRUE(play.AsBefore());
  }
}

}  // namespace
