#include "player/music_play.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
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

constexpr double kVolumeStepDb = 1.5;
constexpr int kQuietestStep = -20;   // -30 dB
constexpr int kLoudestStep = 8;      // +12 dB
constexpr int kKeyWaitMs = 50;       // keys are looked at, and the status line drawn, this often

int16_t Clamp16(double v) {
  return static_cast<int16_t>(std::lround(std::clamp<double>(v, INT16_MIN, INT16_MAX)));
}

// The song as it plays: the audio thread renders it, this thread moves it (keys). The mutex
// keeps the two from touching the player at once; while this thread holds it (a seek), the
// audio thread plays silence rather than wait.
class LiveSong {
 public:
  LiveSong(const MusicLog& log, const MusicRunOptions& options, const MusicChipMaker& maker)
      : log_(log), options_(options), maker_(maker) {}

  bool Begin(std::string* error) {
    chips_ = maker_.Make(log_, options_.voices, error);
    if (chips_ == nullptr) return false;
    player_ = std::make_unique<MusicPlayer>(log_, options_.playback, chips_.get());
    position_.store(player_->start());
    return true;
  }

  // Runs on the audio thread.
  void Fill(int16_t* samples, int32_t frames) {
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock() || paused_.load() || player_ == nullptr) {
      std::fill(samples, samples + 2 * static_cast<size_t>(frames), int16_t{0});
      return;
    }
    if (done_.load()) calls_after_end_.fetch_add(1);
    if (static_cast<size_t>(frames) > scratch_.size()) scratch_.resize(static_cast<size_t>(frames));
    // Past the end the player has zeroed the frames: silence.
    player_->Render(scratch_.data(), frames);
    const double gain = gain_.load();
    for (int32_t i = 0; i < frames; ++i) {
      const StereoFrame& f = scratch_[static_cast<size_t>(i)];
      samples[2 * i] = Clamp16(gain == 1.0 ? f.left : f.left * gain);
      samples[2 * i + 1] = Clamp16(gain == 1.0 ? f.right : f.right * gain);
    }
    Publish();
  }

  enum class Moved { kThere, kPastEnd, kFailed };
  // Moves the song to frame: on from where it is, or from its beginning on fresh chips.
  Moved SeekTo(uint64_t frame, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (frame >= player_->length()) return Moved::kPastEnd;
    if (frame < player_->position()) {
      // The old chips end first: a board keeping a register log lets go of it for the next.
      player_.reset();
      if (std::string failure = chips_->Finish(); !failure.empty()) finish_error_ = failure;
      chips_ = maker_.Make(log_, options_.voices, error);
      if (chips_ == nullptr) return Moved::kFailed;
      player_ = std::make_unique<MusicPlayer>(log_, options_.playback, chips_.get());
    }
    player_->SkipTo(frame);
    Publish();
    return Moved::kThere;
  }

  // The chips' work ended: what they could not write, or empty.
  std::string Finish() {
    std::string failure = chips_ != nullptr ? chips_->Finish() : std::string();
    return !finish_error_.empty() ? finish_error_ : failure;
  }

  void TogglePause() { paused_.store(!paused_.load()); }
  void Louder(int steps) {
    volume_step_ = std::clamp(volume_step_ + steps, kQuietestStep, kLoudestStep);
    gain_.store(std::pow(10.0, volume_step_ * kVolumeStepDb / 20));
  }

  const MusicPlayer& player() const { return *player_; }   // its fixed facts only
  uint64_t position() const { return position_.load(); }
  int pass() const { return pass_.load(); }
  bool paused() const { return paused_.load(); }
  bool done() const { return done_.load(); }
  int calls_after_end() const { return calls_after_end_.load(); }
  double volume_db() const { return volume_step_ * kVolumeStepDb; }

 private:
  void Publish() {
    position_.store(player_->position());
    pass_.store(player_->current_pass());
    done_.store(player_->finished());
  }

  const MusicLog& log_;
  const MusicRunOptions& options_;
  const MusicChipMaker& maker_;
  std::mutex mutex_;
  std::unique_ptr<MusicChips> chips_;
  std::unique_ptr<MusicPlayer> player_;
  std::vector<StereoFrame> scratch_ = std::vector<StereoFrame>(8192);
  std::string finish_error_;
  std::atomic<uint64_t> position_{0};
  std::atomic<int> pass_{0};
  std::atomic<bool> done_{false};
  std::atomic<bool> paused_{false};
  std::atomic<int> calls_after_end_{0};
  std::atomic<double> gain_{1.0};
  int volume_step_ = 0;
};

// The status line: where the song is, its length and a progress bar, the loop's pass, the volume,
// a pause. On fewer columns the bar goes first, then the end of the line: a line wider than the
// terminal would wrap, and each redraw would start on a new row.
std::string StatusLine(const LiveSong& song, uint32_t rate, int columns) {
  const MusicPlayer& facts = song.player();
  const uint64_t position = song.position();
  std::string clock = "  " + FormatClock(static_cast<double>(position) / rate);
  std::string bar;
  if (facts.length() != UINT64_MAX) {   // a loop repeating forever has no total
    constexpr int kBar = 30;
    const uint64_t length = std::max<uint64_t>(facts.length(), 1);
    const int filled = static_cast<int>(std::min<uint64_t>(position, length) * kBar / length);
    clock += " / " + FormatClock(static_cast<double>(facts.length()) / rate);
    bar = "  [" + std::string(static_cast<size_t>(filled), '#') +
          std::string(static_cast<size_t>(kBar - filled), '-') + "]";
  }
  std::string rest;
  if (song.pass() > 0 && (facts.loop_passes() > 0 || facts.forever())) {
    const int pass = facts.forever() ? song.pass() : std::min(song.pass(), facts.loop_passes());
    rest += "  loop " + std::to_string(pass);
    if (!facts.forever()) rest += "/" + std::to_string(facts.loop_passes());
  }
  if (song.volume_db() != 0) {
    char volume[32];
    std::snprintf(volume, sizeof volume, "  volume %+.1f dB", song.volume_db());
    rest += volume;
  }
  if (song.paused()) rest += "  (paused)";
  // The last column stays free: a terminal may wrap as soon as it is written.
  const size_t room = columns > 1 ? static_cast<size_t>(columns - 1) : SIZE_MAX;
  std::string line = clock + bar + rest;
  if (line.size() > room) line = clock + rest;
  return line.substr(0, room);
}

// Draws the status line over itself; nothing in the background, where the shell's prompt is.
void PrintStatus(const LiveSong& song, uint32_t rate) {
  if (!OutputInForeground()) return;
  std::printf("\r%s\033[K", StatusLine(song, rate, TerminalColumns()).c_str());
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
void WaitForLastFrames(const LiveSong& song, const AudioDevice& device, uint32_t rate) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (song.calls_after_end() < 2 && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::this_thread::sleep_for(
      std::chrono::milliseconds(1000ull * device.buffer_frames() / rate + 20));
}

// Frames a seek key moves the song by (negative: back); 0 for the other keys.
int64_t SeekFrames(PlayKey key, uint32_t rate) {
  switch (key) {
    case PlayKey::kBack: return -5 * int64_t{rate};
    case PlayKey::kForward: return 5 * int64_t{rate};
    case PlayKey::kBackMore: return -60 * int64_t{rate};
    case PlayKey::kForwardMore: return 60 * int64_t{rate};
    default: return 0;
  }
}

// Does what a key asks; true with *end set when it ends the song (or a seek failed: *error).
bool OnKey(PlayKey key, LiveSong* song, uint32_t rate, PlayEnd* end, std::string* error) {
  switch (key) {
    case PlayKey::kNone: return false;
    case PlayKey::kPause: song->TogglePause(); return false;
    case PlayKey::kLouder: song->Louder(1); return false;
    case PlayKey::kSofter: song->Louder(-1); return false;
    case PlayKey::kNext: *end = PlayEnd::kNext; return true;
    case PlayKey::kPrevious: *end = PlayEnd::kPrevious; return true;
    case PlayKey::kQuit: *end = PlayEnd::kQuit; return true;
    default: break;
  }
  // A seek, clamped at the song's beginning; past its end the next song comes.
  const int64_t step = SeekFrames(key, rate);
  const uint64_t from = song->position();
  const uint64_t to = step < 0 ? from - std::min(from, static_cast<uint64_t>(-step))
                               : from + static_cast<uint64_t>(step);
  switch (song->SeekTo(to, error)) {
    case LiveSong::Moved::kThere: return false;
    case LiveSong::Moved::kPastEnd: *end = PlayEnd::kNext; return true;
    case LiveSong::Moved::kFailed: break;
  }
  *end = PlayEnd::kInterrupted;
  return true;
}

// Watches the song and the keys until it ends; false when a seek could not make its chips.
bool Watch(LiveSong* song, const AudioDevice& device, uint32_t rate, bool terminal, PlayEnd* end,
           std::string* error) {
  KeyInput keys;
  if (terminal && keys.active()) {
    std::printf("  Space pause  Left/Right 5 s  Down/Up 1 min  n/b next/previous  +/- volume"
                "  q quit\n");
  }
  error->clear();
  while (true) {
    if (g_interrupted != 0) {
      *end = PlayEnd::kInterrupted;
      return true;
    }
    if (song->done() && !song->paused()) {
      WaitForLastFrames(*song, device, rate);
      *end = PlayEnd::kFinished;
      return true;
    }
    if (OnKey(keys.Read(kKeyWaitMs), song, rate, end, error)) return error->empty();
    if (terminal) PrintStatus(*song, rate);
  }
}

}  // namespace

bool PlayMusic(const MusicLog& log, const MusicRunOptions& options, PlayEnd* end,
               std::string* error) {
  *end = PlayEnd::kFinished;
  MusicChipMaker maker;
  if (!maker.Open(options, error)) return false;
  LiveSong song(log, options, maker);
  if (!song.Begin(error)) return false;
  const uint32_t rate = options.playback.rate;
  AudioDevice device;
  if (!device.Open(rate, [&song](int16_t* s, int32_t n) { song.Fill(s, n); }, error)) {
    return false;
  }
  const bool terminal = StdoutIsTerminal();
  if (terminal && OutputInForeground()) PrintTitle(log);

  g_interrupted = 0;
  auto previous = std::signal(SIGINT, OnInterrupt);
  device.Start();
  const bool watched = Watch(&song, device, rate, terminal, end, error);
  device.Close();
  std::signal(SIGINT, previous == SIG_ERR ? SIG_DFL : previous);
  if (!watched) return false;
  if (std::string failure = song.Finish(); !failure.empty()) {
    *error = failure;
    return false;
  }
  if (terminal && OutputInForeground()) {
    PrintStatus(song, rate);
    std::printf("\n");
  }
  return true;
}
