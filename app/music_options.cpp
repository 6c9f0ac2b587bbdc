#include "app/music_options.h"

#include <cstdio>
#include <utility>

#include "app/arguments.h"
#include "player/music_player.h"

// Turns the typed numbers into values; "" or the message of the first that is wrong.
std::string CheckNumbers(const NumberArgs& n, MusicArgs* music, int32_t* chunk) {
  std::string error;
  int64_t whole = 0;
  if (!n.rate.empty()) {
    if (!ParseWhole("--rate", n.rate, 8000, 192000, &whole, &error)) return error;
    music->rate = static_cast<uint32_t>(whole);
  }
  if (!n.chunk.empty() && chunk != nullptr) {
    if (!ParseWhole("--chunk", n.chunk, 1, 1 << 20, &whole, &error)) return error;
    *chunk = static_cast<int32_t>(whole);
  }
  if (n.loops == "forever" || n.loops == "inf") {
    music->loops = PlaybackOptions::kLoopForever;
  } else if (!n.loops.empty()) {
    if (!ParseWhole("--loops", n.loops, 0, 1000, &whole, &error)) {
      return error.substr(0, error.rfind(" (")) + " (0 to 1000, or forever)";
    }
    music->loops = static_cast<int>(whole);
  }
  if (!n.start.empty() &&
      !ParseDecimal("--start", n.start, 0, false, 1e9, &music->start, &error)) {
    return error;
  }
  if (!n.speed.empty() &&
      !ParseDecimal("--speed", n.speed, 0.25, false, 4, &music->speed, &error)) {
    return error;
  }
  // A start is reached by playing the song up to it, at some hundreds of times its speed: an
  // hour of the song's own time takes seconds, far more could take weeks.
  constexpr double kMaxStartSongSeconds = 3600;
  if (music->start * music->speed > kMaxStartSongSeconds) {
    char most[32];
    std::snprintf(most, sizeof most, "%.10g", kMaxStartSongSeconds / music->speed);
    return "--start " + n.start + ": more than an hour into the song, which is reached by "
           "playing the song up to it and would take too long (at most " + most + " seconds" +
           (music->speed != 1 ? " at this --speed)" : ")");
  }
  if (!n.fade.empty() && !ParseDecimal("--fade", n.fade, 0, false, 600, &music->fade, &error)) {
    return error;
  }
  if (!n.length.empty() &&
      !ParseDecimal("--length", n.length, 0, true, 1e9, &music->length, &error)) {
    return error;
  }
  return "";
}

namespace {

void AddLevelOptions(CLI::App* command, LevelArgs* levels, std::vector<CLI::Option*>* options) {
  options->push_back(command->add_option("--gain", levels->gain,
                                         "music: the whole output's level in dB (-40 to 40, "
                                         "default 0)")->type_name("DB"));
  options->push_back(command->add_option("--fm-gain", levels->fm_gain,
                                         "music, chips mode: the FM's level in dB (-40 to 40, "
                                         "default 0)")->type_name("DB"));
  options->push_back(command->add_option("--psg-gain", levels->psg_gain,
                                         "music, chips mode: the PSGs' level in dB (-40 to 40, "
                                         "default 0)")->type_name("DB"));
  options->push_back(command->add_option("--psg-stereo", levels->psg_stereo,
                                         "music, chips mode: where PSG channels sound: mono "
                                         "(default), abc (A left, B centre, C right) or acb (A "
                                         "left, C centre, B right)")->type_name("LAYOUT"));
  options->push_back(command->add_option("--stereo-width", levels->stereo_width,
                                         "music, chips mode: with --psg-stereo, how far the "
                                         "side channels lie from the centre, in percent (0 = "
                                         "mono to 100 = hard left/right, default 80)")
                         ->type_name("PERCENT"));
}

}  // namespace

// The level options into chips options; "" or the message of the first that is wrong.
std::string ApplyLevels(const LevelArgs& levels, bool board, ChipsOptions* chips) {
  std::string error;
  if (!levels.gain.empty() &&
      !ParseDecimal("--gain", levels.gain, -40, false, 40, &chips->gain_db, &error)) {
    return error;
  }
  const std::pair<const char*, const std::string*> chips_only[] = {
      {"--fm-gain", &levels.fm_gain}, {"--psg-gain", &levels.psg_gain},
      {"--psg-stereo", &levels.psg_stereo}, {"--stereo-width", &levels.stereo_width}};
  for (const auto& [name, text] : chips_only) {
    if (board && !text->empty()) {
      return std::string(name) + " applies to chips mode only: in board mode the board's own "
                                 "settings set its FM and PSG volumes";
    }
  }
  if ((!levels.fm_gain.empty() &&
       !ParseDecimal("--fm-gain", levels.fm_gain, -40, false, 40, &chips->fm_gain_db, &error)) ||
      (!levels.psg_gain.empty() &&
       !ParseDecimal("--psg-gain", levels.psg_gain, -40, false, 40, &chips->psg_gain_db, &error))) {
    return error;
  }
  // The output holds at +48 dB (AddScaled): more than that together is refused, not cut.
  for (const auto& [name, db] : {std::pair{"--fm-gain", chips->fm_gain_db},
                                 std::pair{"--psg-gain", chips->psg_gain_db}}) {
    if (chips->gain_db + db > 48) {
      return "--gain and " + std::string(name) + " add up to more than 48 dB";
    }
  }
  if (levels.psg_stereo == "abc") {
    chips->psg_stereo = PsgStereo::kAbc;
  } else if (levels.psg_stereo == "acb") {
    chips->psg_stereo = PsgStereo::kAcb;
  } else if (!levels.psg_stereo.empty() && levels.psg_stereo != "mono") {
    return "--psg-stereo: '" + levels.psg_stereo + "' is none of mono, abc, acb";
  }
  if (!levels.stereo_width.empty()) {
    if (chips->psg_stereo == PsgStereo::kMono) {
      return "--stereo-width applies with --psg-stereo abc or acb";
    }
    std::string width = levels.stereo_width;
    if (width.size() > 1 && width.back() == '%') width.pop_back();
    double percent = 0;
    if (!ParseDecimal("--stereo-width", width, 0, false, 100, &percent, &error)) return error;
    chips->stereo_width = percent / 100;
  }
  return "";
}

void AddPlaybackOptions(CLI::App* command, MusicArgs* args, NumberArgs* numbers,
                        std::vector<CLI::Option*>* options) {
  AddLevelOptions(command, &args->levels, options);
  options->push_back(command->add_option(
      "--loops", numbers->loops, "music: passes of a looping song's looped part (0 to 1000, "
                                 "default 2; 0: the song once, no repeat; forever: until "
                                 "stopped, or cut by --length)")->type_name("N|forever"));
  options->push_back(command->add_option(
      "--start", numbers->start, "music: seconds into the song to start from (default 0)")
                         ->type_name("SECONDS"));
  options->push_back(command->add_option(
      "--speed", numbers->speed, "music: the song's pace, pitch unchanged (0.25 to 4, default 1)")
                         ->type_name("X"));
  options->push_back(command->add_option(
      "--fade", numbers->fade, "music: seconds a looping song fades out after its last pass (0 "
                               "to 600, default 3)")->type_name("SECONDS"));
  options->push_back(command->add_flag("--board", args->board,
                                       "music: play through the module file at the board's clocks "
                                       "(default: the chip classes at the file's clocks), its "
                                       "writes moved to the file's pitch"));
  options->push_back(command->add_flag("--as-written", args->as_written,
                                       "music, with --board: the file's writes as they are, at "
                                       "the board's clocks' pitch"));
  options->push_back(command->add_option(
      "--resampler", args->resampler,
      "music, chips mode: soxr (default: FM at its own rate converted by libsoxr, PSG "
      "band-limited, AY-3-8910 files on the AY curve) or none (FM at the output rate, PSG "
      "sampled four times a frame, every PSG on the YM2149 curve)")->type_name("soxr|none"));
  options->push_back(command->add_option("--mute", args->mute,
                                         "music: voices left out, e.g. fm1,psg1b,psg2 (fm1..fm8, "
                                         "psg1a..psg4c, tone1..tone3; groups fm, psg, psg1..psg4, "
                                         "tone)")->type_name("VOICES"));
  options->push_back(command->add_option("--solo", args->solo,
                                         "music: only these voices sound (same names as --mute)")
                         ->type_name("VOICES"));
}

// What the render's audio is written as, from --format and the output's name (refused before
// anything is read or rendered); "" or the message.
std::string ChooseMusicFormat(const MusicArgs& args, const std::string& wav_path,
                              AudioFormat* format) {
  FormatRequest request;
  std::string error;
  if (!args.format.empty() && !ParseFormatRequest(args.format, &request, &error)) return error;
  if (!ChooseAudioFormat(wav_path, request, format, &error)) return error;
  return "";
}
