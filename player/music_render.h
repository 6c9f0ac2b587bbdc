// The music commands' shared parts: the chips for one pass (direct or through the module file),
// rendering a song to WAV/raw files, and one WAV per voice ("stems").
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/loaded_board.h"
#include "host/module_loader.h"
#include "music/music_log.h"
#include "output/audio_format.h"
#include "output/output_file.h"
#include "player/music_chips.h"
#include "player/music_player.h"
#include "player/voices.h"

struct MusicRunOptions {
  PlaybackOptions playback;
  bool board = false;            // through the module file instead of the chip classes
  bool as_written = false;       // board mode: the writes as they are, not at the song's pitch
  std::string module_path;       // the module file, for board mode
  // Board mode with a board linked into the program (the web page): makes the module on a
  // host. Empty: the module file at module_path.
  LoadedBoard::Factory board_factory;
  ChipsOptions chips;            // chips mode: rate conversion
  VoiceSet voices = AllVoices(); // the voices that may sound
  AudioFormat output;            // render: what the mix and the stems are written as
  Replace replace = Replace::kExisting;  // render: what the outputs may replace
  RunFiles run_files;            // board mode: what the board's register log may not be
  HostSwitchValues switches;     // board mode: the board's switches as the command line set them
};

// Makes the chips of one pass; in board mode each pass gets a fresh board from the module file
// that Open loaded.
class MusicChipMaker {
 public:
  bool Open(const MusicRunOptions& options, std::string* error);
  std::unique_ptr<MusicChips> Make(const MusicLog& log, const VoiceSet& voices,
                                   std::string* error) const;

 private:
  MusicRunOptions options_;
  ModuleLibrary library_;
};

struct MusicRenderResult {
  uint64_t frames = 0;
  uint64_t clipped_samples = 0;
  bool clipped_would_be = false;  // only a raw file: clipped_samples a 16-bit output would clip
  int64_t peak_left = 0;
  int64_t peak_right = 0;
  double seconds = 0;        // audio rendered by the main pass
  double wall_seconds = 0;   // time the main pass took
  std::vector<std::string> stems;         // files written, one a voice that sounds
  std::vector<std::string> silent_voices; // voices that never sounded (no file)
};

// The voices of the chips a log uses (the FM channels, the channels of each PSG it has).
VoiceSet VoicesOfLog(const MusicLog& log);

// The frames the song plays for from its start (fade and cut included): the length of what
// RenderMusic writes.
uint64_t SongFrames(const MusicLog& log, const PlaybackOptions& playback);

// The song's tags as outputs carry them: each field in English, or in the original language
// when the English one is empty.
AudioTags TagsOfLog(const MusicLog& log);

// The file of one voice's stem in the stems folder: fm1.wav, psg2c.flac.
std::string StemPath(const std::string& stems_dir, int voice, const AudioFormat& format);

// Renders the song into a WAV or FLAC file as options.output says, with the song's tags, and/or
// a raw int32 file (either path may be empty), then, when stems_dir is not empty, one file of
// the same format a selected voice that sounds into that folder. Returns false with a reason
// in *error.
bool RenderMusic(const MusicLog& log, const MusicRunOptions& options, const std::string& wav_path,
                 const std::string& raw_path, const std::string& stems_dir,
                 MusicRenderResult* result, std::string* error);
