#include "player/music_render.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include "output/audio_output.h"
#include "output/output_file.h"
#include "player/music_chips.h"

namespace {

constexpr int32_t kBlock = 4096;

// Renders the whole song through chips into out, stopping at the first failed write; the
// seconds it took.
double RenderPass(const MusicLog& log, const PlaybackOptions& playback, MusicChips* chips,
                  AudioOutput* out) {
  const auto start = std::chrono::steady_clock::now();
  MusicPlayer player(log, playback, chips);
  std::vector<StereoFrame> block(kBlock);
  while (!player.finished()) {
    const int32_t n = player.Render(block.data(), kBlock);
    if (!out->Write(block.data(), n)) break;
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

bool MusicChipMaker::Open(const MusicRunOptions& options, std::string* error) {
  options_ = options;
  return !options.board || options.board_factory || library_.Open(options.module_path, error);
}

std::unique_ptr<MusicChips> MusicChipMaker::Make(const MusicLog& log, const VoiceSet& voices,
                                                 std::string* error) const {
  if (!options_.board) {
    return std::make_unique<DirectChips>(log, options_.playback.rate, voices, options_.chips);
  }
  const bool linked = static_cast<bool>(options_.board_factory);
  std::unique_ptr<BoardChips> chips = BoardChips::Create(
      linked ? options_.board_factory : LoadedBoard::Factory(library_.create()),
      options_.playback.rate, voices, options_.chips.gain_db, options_.run_files,
      options_.switches, options_.as_written ? nullptr : &log, error);
  if (chips == nullptr && !linked) *error = options_.module_path + ": " + *error;
  return chips;
}

VoiceSet VoicesOfLog(const MusicLog& log) {
  VoiceSet voices;
  if (log.opm_clock != 0) {
    for (int v = kVoiceFm; v < kVoiceFm + 8; ++v) voices.set(v);
  }
  for (int i = 0; i < kMusicPsgCount; ++i) {
    if (!log.has_psg(i)) continue;
    for (int c = 0; c < 3; ++c) voices.set(kVoicePsg + 3 * i + c);
  }
  return voices;
}

uint64_t SongFrames(const MusicLog& log, const PlaybackOptions& playback) {
  // From the start on: the frames before it are not written.
  const MusicPlayer player(log, playback, nullptr);
  return player.length() - player.start();
}

AudioTags TagsOfLog(const MusicLog& log) {
  const MusicTag& t = log.tag;
  auto pick = [](const std::string& english, const std::string& original) {
    return english.empty() ? original : english;
  };
  return {pick(t.title, t.title_original), pick(t.game, t.game_original),
          pick(t.system, t.system_original), pick(t.author, t.author_original), t.date};
}

std::string StemPath(const std::string& stems_dir, int voice, const AudioFormat& format) {
  return (std::filesystem::path(stems_dir) / (VoiceName(voice) + AudioExtension(format.container)))
      .string();
}

namespace {

// The main pass: the song into the WAV and/or raw file.
bool RenderMix(const MusicLog& log, const MusicRunOptions& options, const MusicChipMaker& maker,
               uint64_t frames, const std::string& wav_path, const std::string& raw_path,
               OutputSet* outputs, MusicRenderResult* result, std::string* error) {
  const uint32_t rate = options.playback.rate;
  AudioOutput out(outputs);
  if ((!wav_path.empty() &&
       !out.OpenAudio(wav_path, options.output, rate, frames, TagsOfLog(log), error)) ||
      (!raw_path.empty() && !out.OpenRaw(raw_path, error))) {
    return false;
  }
  std::unique_ptr<MusicChips> chips = maker.Make(log, options.voices, error);
  if (chips == nullptr) return false;
  result->wall_seconds = RenderPass(log, options.playback, chips.get(), &out);
  result->frames = out.frames();
  result->seconds = static_cast<double>(out.frames()) / rate;
  result->clipped_samples = out.clipped_samples();
  result->clipped_would_be = out.clipped_would_be();
  result->peak_left = out.peak_left();
  result->peak_right = out.peak_right();
  if (std::string failure = chips->Finish(); !failure.empty()) {
    *error = failure;
    return false;
  }
  return out.Close(error);
}

// One pass a selected voice of the song, each into its own WAV file in stems_dir.
bool RenderStems(const MusicLog& log, const MusicRunOptions& options, const MusicChipMaker& maker,
                 uint64_t frames, const std::string& stems_dir, OutputSet* outputs,
                 MusicRenderResult* result, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(stems_dir, ec);
  if (ec) {
    *error = "cannot make the stems folder " + stems_dir + ": " + ec.message();
    return false;
  }
  const VoiceSet candidates = VoicesOfLog(log) & options.voices;
  for (int v = 0; v < kVoiceCount; ++v) {
    if (!candidates[v]) continue;
    const std::string path = StemPath(stems_dir, v, options.output);
    AudioOutput out(outputs);
    if (!out.OpenAudio(path, options.output, options.playback.rate, frames, TagsOfLog(log),
                       error)) {
      return false;
    }
    std::unique_ptr<MusicChips> chips = maker.Make(log, VoiceSet().set(v), error);
    if (chips == nullptr) return false;
    RenderPass(log, options.playback, chips.get(), &out);
    if (std::string failure = chips->Finish(); !failure.empty()) {
      *error = failure;
      return false;
    }
    if (out.peak_left() == 0 && out.peak_right() == 0 && out.error().empty()) {
      // A voice that never sounds gets no file; a file of that name is left as it was.
      out.Discard();
      result->silent_voices.push_back(VoiceName(v));
      continue;
    }
    if (!out.Close(error)) return false;
    result->stems.push_back(path);
  }
  return true;
}

}  // namespace

bool RenderMusic(const MusicLog& log, const MusicRunOptions& options, const std::string& wav_path,
                 const std::string& raw_path, const std::string& stems_dir,
                 MusicRenderResult* result, std::string* error) {
  const uint32_t rate = options.playback.rate;
  // The length is known before anything is written: a file that cannot hold it is refused.
  const uint64_t frames = SongFrames(log, options.playback);
  const std::string& wav = !wav_path.empty() ? wav_path : stems_dir;
  const uint64_t max_frames = AudioOutput::MaxFrames(options.output, TagsOfLog(log));
  if (!wav.empty() && frames > max_frames) {
    *error = TooLongFor(wav, options.output, max_frames, frames,
                        static_cast<double>(frames) / rate, rate);
    return false;
  }
  MusicChipMaker maker;
  if (!maker.Open(options, error)) return false;
  // The mix and the stems are put in place together at the end, or none of them; a stems
  // folder the run made goes again with them (while it is empty).
  OutputSet outputs(options.replace);
  std::error_code ec;
  const bool stems_folder_was_there = stems_dir.empty() || std::filesystem::exists(stems_dir, ec);
  const bool done =
      ((wav_path.empty() && raw_path.empty()) ||
       RenderMix(log, options, maker, frames, wav_path, raw_path, &outputs, result, error)) &&
      (stems_dir.empty() ||
       RenderStems(log, options, maker, frames, stems_dir, &outputs, result, error)) &&
      outputs.Commit(error);
  if (!done) {
    result->stems.clear();
    outputs.Discard();
    if (!stems_folder_was_there) std::filesystem::remove(stems_dir, ec);
  }
  return done;
}
