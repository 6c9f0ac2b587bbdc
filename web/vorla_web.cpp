// The page's door to the player: a small C interface that the page's worker calls. One song at a
// time: the file read into a music log, the run's options, and the song on its chips (the chip
// classes, or the board linked in: the page has no module file to load), rendered at the
// device's rate, moved by seeks, and rendered whole into a WAV or FLAC file of the in-memory
// file system for "Save as". Every text handed back stays valid until the next call.
#include <emscripten/emscripten.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "music/music_info.h"
#include "music/music_info_json.h"
#include "music/music_reader.h"
#include "module/board_module.h"
#include "output/audio_format.h"
#include "player/music_render.h"
#include "player/seekable_song.h"
#include "player/voices.h"
#include "web/voice_levels.h"

namespace {

// The board's settings file: never there, so that the board plays with the defaults, as a
// fresh `vorla` does.
constexpr char kSettingsPath[] = "/vorla/VYX.INI";

struct Session {
  std::string name;
  MusicLog log;
  MusicRunOptions options;
  MusicChipMaker maker;
  std::unique_ptr<SeekableSong> song;
  std::vector<StereoFrame> frames;
};

Session g_session;
const LevelChips* g_live = nullptr;  // the chips that played last, for the level view
std::string g_text;  // the last message or report handed out

int Fail(const std::string& message) {
  g_text = message;
  return 1;
}

VyxModule* MakeBoard(HostSystem* host) {
  return CreateBoardModule(host, kSettingsPath, nullptr);
}

std::unique_ptr<MusicChips> MakeChips(std::string* error) {
  std::unique_ptr<MusicChips> chips =
      g_session.maker.Make(g_session.log, g_session.options.voices, error);
  if (chips == nullptr) return nullptr;
  return std::make_unique<LevelChips>(std::move(chips), g_session.options.voices, &g_live);
}

void EndSong() {
  g_session.song.reset();
  g_live = nullptr;
}

}  // namespace

extern "C" {

// The last failure's message, or the last report asked for.
EMSCRIPTEN_KEEPALIVE const char* vorla_text() { return g_text.c_str(); }

// 0 when a file of size bytes may be read; 1, with the reason, when it is refused unread.
EMSCRIPTEN_KEEPALIVE int vorla_check_size(const char* name, double size) {
  if (size > static_cast<double>(kMaxMusicBytes)) {
    return Fail(std::string(name) + ": larger than " + std::to_string(kMaxMusicBytes >> 20) +
                " MiB; refused");
  }
  return 0;
}

// Reads a VGM, VGZ or S98 file from its bytes; 0, or 1 with "NAME: reason". The song stops.
EMSCRIPTEN_KEEPALIVE int vorla_load(const uint8_t* data, uint32_t size, const char* name) {
  EndSong();
  g_session.log = MusicLog();
  g_session.name = name;
  if (vorla_check_size(name, size) != 0) return 1;
  std::vector<uint8_t> bytes(data, data + size);
  std::string error;
  if (!ReadMusicBytes(&bytes, g_session.name, &g_session.log, &error)) return Fail(error);
  if (g_session.log.total_ticks == 0) {
    return Fail(g_session.name + ": nothing to play: the commands hold no time");
  }
  return 0;
}

// The song read last, as `vorla info --json` tells it: one JSON object.
EMSCRIPTEN_KEEPALIVE const char* vorla_info() {
  g_text = MusicInfoJson(g_session.log, g_session.name);
  return g_text.c_str();
}

// What the reader skipped and found wrong in the song read last, one line each.
EMSCRIPTEN_KEEPALIVE const char* vorla_report() {
  g_text.clear();
  for (const std::string& line : MusicReportLines(g_session.log)) g_text += line + "\n";
  return g_text.c_str();
}

// Sets the run up as `vorla render FILE --rate RATE [--board] [--resampler none] --loops LOOPS
// --fade FADE [--length LENGTH] [--mute MUTE] [--solo SOLO]` would (loops < 0: forever), and
// starts the song from its beginning. 0, or 1 with the reason.
EMSCRIPTEN_KEEPALIVE int vorla_start(uint32_t rate, int board, int resample, int loops,
                                     double fade, double length, const char* mute,
                                     const char* solo) {
  EndSong();
  // The rates an AudioContext may run at.
  if (rate < 8000 || rate > 192000) {
    return Fail("the output rate " + std::to_string(rate) + " Hz is not played");
  }
  VoiceSet muted;
  VoiceSet soloed;
  std::string error;
  if (!ParseVoiceList(mute, &muted, &error)) return Fail("mute: " + error);
  if (!ParseVoiceList(solo, &soloed, &error)) return Fail("solo: " + error);
  MusicRunOptions& o = g_session.options;
  o = MusicRunOptions();
  o.playback.rate = rate;
  o.playback.loops = loops < 0 ? PlaybackOptions::kLoopForever : loops;
  o.playback.fade_seconds = fade;
  o.playback.max_seconds = length;
  o.board = board != 0;
  o.board_factory = MakeBoard;
  o.chips.resample = resample != 0;
  o.chips.ay_curve = o.chips.resample;
  o.voices = SelectVoices(soloed, muted);
  o.output.container = AudioContainer::kWav;
  o.replace = Replace::kAny;
  if (!g_session.maker.Open(o, &error)) return Fail(error);
  g_session.song = std::make_unique<SeekableSong>(g_session.log, o.playback, MakeChips);
  if (!g_session.song->Begin(&error)) {
    EndSong();
    return Fail(error);
  }
  return 0;
}

// Renders the next frames of the song into out as 16-bit stereo, clamped as a 16-bit WAV file
// is; the frames that belong to the song (0 at its end).
EMSCRIPTEN_KEEPALIVE int vorla_render(int16_t* out, int count) {
  if (g_session.song == nullptr || count <= 0) return 0;
  g_session.frames.resize(static_cast<size_t>(count));
  const int32_t n = g_session.song->Render(g_session.frames.data(), count);
  for (int32_t i = 0; i < n; ++i) {
    out[2 * i] = static_cast<int16_t>(std::clamp<int32_t>(g_session.frames[i].left, -32768, 32767));
    out[2 * i + 1] =
        static_cast<int16_t>(std::clamp<int32_t>(g_session.frames[i].right, -32768, 32767));
  }
  return n;
}

// Each voice's level as its registers set it (LevelChips: fm1..fm8, psg1a..psg4c), 0 to 255,
// into out, at the end of the frames vorla_render gave last; all 0 before the song plays.
EMSCRIPTEN_KEEPALIVE void vorla_levels(uint8_t* out) {
  const auto levels =
      g_live != nullptr ? g_live->Levels() : std::array<uint8_t, LevelChips::kVoices>{};
  std::copy(levels.begin(), levels.end(), out);
}

// Where the song stands and how long it is, in seconds (its length < 0: it repeats forever).
EMSCRIPTEN_KEEPALIVE double vorla_position() {
  if (g_session.song == nullptr) return 0;
  return static_cast<double>(g_session.song->player().position()) / g_session.options.playback.rate;
}

EMSCRIPTEN_KEEPALIVE double vorla_length() {
  if (g_session.song == nullptr) return 0;
  const MusicPlayer& player = g_session.song->player();
  if (player.forever()) return -1;
  return static_cast<double>(player.length()) / g_session.options.playback.rate;
}

// Moves the song toward the second it is asked to, rendering at most budget frames: 0 there,
// 1 on the way (call again), -1 failed with the reason.
EMSCRIPTEN_KEEPALIVE int vorla_seek(double seconds, int budget) {
  if (g_session.song == nullptr) {
    Fail("no song is playing");
    return -1;
  }
  const double frame = std::max(0.0, seconds) * g_session.options.playback.rate;
  std::string error;
  switch (g_session.song->MoveToward(static_cast<uint64_t>(frame),
                                     static_cast<uint64_t>(std::max(budget, 1)), &error)) {
    case SeekableSong::Step::kThere:
      return 0;
    case SeekableSong::Step::kOnTheWay:
      return 1;
    case SeekableSong::Step::kFailed:
      break;
  }
  Fail(error);
  return -1;
}

// Renders the whole song, as vorla_start set it up, into path as 16-bit WAV (flac 0) or FLAC
// (flac 1) with its tags; 0, or 1 with the reason.
EMSCRIPTEN_KEEPALIVE int vorla_save(const char* path, int flac) {
  MusicRunOptions options = g_session.options;
  options.output.container = flac != 0 ? AudioContainer::kFlac : AudioContainer::kWav;
  options.output.sample = SampleFormat::kS16;
  MusicRenderResult result;
  std::string error;
  if (!RenderMusic(g_session.log, options, path, "", "", &result, &error)) return Fail(error);
  return 0;
}

}  // extern "C"

int main() {
  // The folder of the board's settings file, which it writes back when it is released.
  mkdir("/vorla", 0755);
  return 0;
}
