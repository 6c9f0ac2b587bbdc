#include "player/music_play.h"

#include "player/board_retune.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "music/music_info.h"
#include "output/output_run.h"
#include "text/clock_text.h"
#include "player/audio_device.h"
#include "player/board_retune.h"
#include "player/live_song.h"
#include "player/terminal.h"
#include "text/shown_text.h"

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

constexpr int kKeyWaitMs = 50;       // keys are looked at, and the status line drawn, this often

// The status line: where the song is (or is being taken), its length and a progress bar, the
// loop's pass, the volume, a pause, and mark (board mode: what of the song's pitch and time the
// board cannot match). On fewer columns the bar goes first, then the end of the line:
// a line wider than the terminal would wrap, and each redraw would start on a new row.
std::string StatusLine(const LiveSong& song, uint32_t rate, const std::string& mark,
                       int columns) {
  const MusicPlayer& facts = song.facts();
  const bool seeking = song.seeking();
  const uint64_t position = seeking ? song.destination() : song.position();
  std::string clock = (seeking ? "  seeking to " : "  ") +
                      FormatClock(static_cast<double>(position) / rate);
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
  rest += mark;
  // The last column stays free: a terminal may wrap as soon as it is written.
  const size_t room = columns > 1 ? static_cast<size_t>(columns - 1) : SIZE_MAX;
  std::string line = clock + bar + rest;
  if (line.size() > room) line = clock + rest;
  return line.substr(0, room);
}

// Draws the status line over itself; nothing in the background, where the shell's prompt is.
void PrintStatus(const LiveSong& song, uint32_t rate, const std::string& mark) {
  if (!OutputInForeground()) return;
  std::printf("\r%s\033[K", StatusLine(song, rate, mark, TerminalColumns()).c_str());
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
  while (song.calls_after_end() < 2 && std::chrono::steady_clock::now() < give_up &&
         g_interrupted == 0) {
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

// A key that ends the song: how, in *end.
bool EndsSong(PlayKey key, PlayEnd* end) {
  switch (key) {
    case PlayKey::kNext: *end = PlayEnd::kNext; return true;
    case PlayKey::kPrevious: *end = PlayEnd::kPrevious; return true;
    case PlayKey::kQuit: *end = PlayEnd::kQuit; return true;
    default: return false;
  }
}

// Does what a key asks; true with *end set when it ends the song. A seek is asked of the worker
// and counts from where the song is going, so that presses typed faster than it seeks add up.
bool OnKey(PlayKey key, LiveSong* song, uint32_t rate, PlayEnd* end) {
  switch (key) {
    case PlayKey::kNone: return false;
    case PlayKey::kPause: song->TogglePause(); return false;
    case PlayKey::kLouder: song->Louder(1); return false;
    case PlayKey::kSofter: song->Louder(-1); return false;
    default: break;
  }
  if (EndsSong(key, end)) return true;
  // Clamped at the song's beginning; past its end the next song comes.
  const int64_t step = SeekFrames(key, rate);
  const uint64_t from = song->destination();
  const uint64_t to = step < 0 ? from - std::min(from, static_cast<uint64_t>(-step))
                               : from + static_cast<uint64_t>(step);
  if (song->SeekTo(to)) return false;
  *end = PlayEnd::kNext;
  return true;
}

// Watches the song and the keys until it ends, first doing what the key first asks; false when
// a seek could not make its chips.
bool Watch(LiveSong* song, KeyInput* keys, PlayKey first, const AudioDevice& device, uint32_t rate,
           bool terminal, const std::string& mark, PlayEnd* end, std::string* error) {
  if (terminal && keys->active()) {
    std::printf("  Space pause  Left/Right 5 s  Down/Up 1 min  n/b next/previous  +/- volume"
                "  q quit\n");
  }
  for (PlayKey key = first;; key = keys->Read(kKeyWaitMs)) {
    if (g_interrupted != 0) {
      *end = PlayEnd::kInterrupted;
      return true;
    }
    if (song->failed()) {
      *error = song->failure();
      return false;
    }
    if (song->done() && !song->paused()) {
      WaitForLastFrames(*song, device, rate);
      *end = PlayEnd::kFinished;
      return true;
    }
    if (OnKey(key, song, rate, end)) return true;
    if (terminal) PrintStatus(*song, rate, mark);
  }
}

// Plays the song with keys read from keys.
bool PlayWithKeys(const MusicLog& log, const MusicRunOptions& options, KeyInput* keys,
                  PlayEnd* end, std::string* error) {
  // Keys typed ahead that end the song are obeyed before anything is made: a run of n or b
  // presses goes along the list without starting each song's chips and output.
  const PlayKey first = keys->Read(0);
  if (EndsSong(first, end)) return true;
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
  device.Start();
  const std::string mark = options.board ? BoardRetune::Mark(log, options.as_written) : "";
  const bool watched = Watch(&song, keys, first, device, rate, terminal, mark, end, error);
  // The worker first, within a step of its work; then the device, whose callback never waits.
  song.Stop();
  device.Close();
  if (!watched) return false;
  if (std::string failure = song.Finish(); !failure.empty()) {
    *error = failure;
    return false;
  }
  if (terminal && OutputInForeground()) {
    PrintStatus(song, rate, mark);
    std::printf("\n");
  }
  return true;
}

}  // namespace

bool PlayMusic(const MusicLog& log, const MusicRunOptions& options, PlayEnd* end,
               std::string* error) {
  *end = PlayEnd::kFinished;
  // Ctrl-C ends the song list as q does, with the status of an interrupted run.
  SetInterruptFlag(&g_interrupted);
  bool played = false;
  {
    KeyInput keys;
    played = PlayWithKeys(log, options, &keys, end, error);
  }
  SetInterruptFlag(nullptr);
  // A Ctrl-C that came as the song ended some other way (a key, a song of a list passed over
  // with n) still ends the run: it is never cleared.
  if (g_interrupted != 0) *end = PlayEnd::kInterrupted;
  return played;
}
