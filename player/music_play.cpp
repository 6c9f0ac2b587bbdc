#include "player/music_play.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "music/music_info.h"
#include "output/clock_text.h"
#include "player/audio_device.h"
#include "player/terminal.h"
#include "text/shown_text.h"

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) { g_interrupted = 1; }

int16_t Clamp16(int32_t v) {
  return static_cast<int16_t>(std::clamp<int32_t>(v, INT16_MIN, INT16_MAX));
}

void PrintStatus(const MusicPlayer& player, uint64_t position, int pass, uint32_t rate) {
  constexpr int kBar = 30;
  const uint64_t length = std::max<uint64_t>(player.length(), 1);
  const int filled = static_cast<int>(std::min<uint64_t>(position, length) * kBar / length);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBar - filled), '-');
  std::string loop;
  if (player.loop_passes() > 0 && pass > 0) {
    loop = "  loop " + std::to_string(std::min(pass, player.loop_passes())) +
           "/" + std::to_string(player.loop_passes());
  }
  std::printf("\r  %s / %s  [%s]%s\033[K",
              FormatClock(static_cast<double>(position) / rate).c_str(),
              FormatClock(static_cast<double>(player.length()) / rate).c_str(), bar.c_str(),
              loop.c_str());
  std::fflush(stdout);
}

// The tag's title, author and game, a line each and each cut to what a title line can hold.
void PrintTitle(const MusicLog& log) {
  constexpr size_t kLineMax = 1024;
  const std::string title = !log.tag.title.empty() ? log.tag.title : log.tag.title_original;
  const std::string author = !log.tag.author.empty() ? log.tag.author : log.tag.author_original;
  std::printf("%s\n", title.empty() ? "(untitled)" : ShownText(title, -1, kLineMax).c_str());
  if (!author.empty()) std::printf("%s\n", ShownText(author, -1, kLineMax).c_str());
  if (!log.tag.game.empty()) std::printf("%s\n", ShownText(log.tag.game, -1, kLineMax).c_str());
}

// The device asks for the next buffer once it has taken the one before: two requests after the
// end mean the song's last frames are out of our hands. Then give the hardware one buffer's time
// to sound them.
void WaitForLastFrames(const std::atomic<int>& calls_after_end, const AudioDevice& device,
                       uint32_t rate) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (calls_after_end.load() < 2 && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::this_thread::sleep_for(
      std::chrono::milliseconds(1000ull * device.buffer_frames() / rate + 20));
}

}  // namespace

bool PlayMusic(const MusicLog& log, const MusicRunOptions& options, PlayEnd* end,
               std::string* error) {
  *end = PlayEnd::kFinished;
  MusicChipMaker maker;
  if (!maker.Open(options, error)) return false;
  std::unique_ptr<MusicChips> chips = maker.Make(log, options.voices, error);
  if (chips == nullptr) return false;
  const uint32_t rate = options.playback.rate;
  MusicPlayer player(log, options.playback, chips.get());

  // The audio thread renders; this thread only watches. The mutex keeps the two from touching
  // the player at once (the module has its own lock inside the host).
  std::mutex player_mutex;
  std::atomic<uint64_t> position{0};
  std::atomic<int> pass{0};
  std::atomic<bool> done{false};
  std::atomic<int> calls_after_end{0};
  std::vector<StereoFrame> scratch(8192);
  AudioDevice device;
  auto fill = [&](int16_t* samples, int32_t frames) {
    std::lock_guard<std::mutex> lock(player_mutex);
    if (done.load()) calls_after_end.fetch_add(1);
    if (static_cast<size_t>(frames) > scratch.size()) scratch.resize(static_cast<size_t>(frames));
    const int32_t n = player.Render(scratch.data(), frames);
    for (int32_t i = 0; i < frames; ++i) {
      // Past the end the player has zeroed the frames: silence.
      samples[2 * i] = Clamp16(scratch[static_cast<size_t>(i)].left);
      samples[2 * i + 1] = Clamp16(scratch[static_cast<size_t>(i)].right);
    }
    (void)n;
    position.store(player.position());
    pass.store(player.current_pass());
    if (player.finished()) done.store(true);
  };
  if (!device.Open(rate, fill, error)) return false;

  const bool terminal = StdoutIsTerminal();
  if (terminal) PrintTitle(log);

  g_interrupted = 0;
  auto previous = std::signal(SIGINT, OnInterrupt);
  device.Start();
  while (!done.load() && g_interrupted == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (terminal) PrintStatus(player, position.load(), pass.load(), rate);
  }
  if (g_interrupted == 0) WaitForLastFrames(calls_after_end, device, rate);
  if (g_interrupted != 0) *end = PlayEnd::kInterrupted;
  device.Close();
  std::signal(SIGINT, previous == SIG_ERR ? SIG_DFL : previous);
  if (std::string failure = chips->Finish(); !failure.empty()) {
    *error = failure;
    return false;
  }
  if (terminal) {
    PrintStatus(player, position.load(), pass.load(), rate);
    std::printf("\n");
  }
  return true;
}
