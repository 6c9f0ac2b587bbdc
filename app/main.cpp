// vorla: the reference host. Loads a module file as the emulator does and plays board scripts
// through it; plays chip-music register logs (VGM, VGZ, S98) on the chip classes or the board.
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/demo_script.h"
#include "host/module_loader.h"
#include "module/program_directory.h"
#include "music/music_info.h"
#include "music/music_reader.h"
#include "player/music_play.h"
#include "player/music_render.h"
#include "script/board_script.h"
#include "script/script_runner.h"

namespace {

bool ReadFile(const std::string& path, std::string* text, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot open the file";
    return false;
  }
  std::ostringstream s;
  s << in.rdbuf();
  *text = s.str();
  return true;
}

double Dbfs(int64_t peak) {
  return peak > 0 ? 20.0 * std::log10(static_cast<double>(peak) / 32768.0) : -INFINITY;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "vorla: %s\n", message.c_str());
  return 1;
}

// What a music command was given besides the file.
struct MusicArgs {
  uint32_t rate = 44100;
  int loops = 2;
  double fade = 3.0;
  bool board = false;
  std::string mute;
  std::string solo;
  std::string stems;
};

void AddPlaybackOptions(CLI::App* command, MusicArgs* args, std::vector<CLI::Option*>* options) {
  options->push_back(command->add_option("--loops", args->loops,
                                         "music: passes of a looping song's looped part (default 2)")
                         ->check(CLI::Range(1, 1000)));
  options->push_back(command->add_option("--fade", args->fade,
                                         "music: seconds a looping song fades out after its last "
                                         "pass (default 3)")
                         ->check(CLI::Range(0.0, 600.0)));
  options->push_back(command->add_flag("--board", args->board,
                                       "music: play through the module file at the board's clocks "
                                       "(default: the chip classes at the file's clocks)"));
  options->push_back(command->add_option("--mute", args->mute,
                                         "music: voices left out, e.g. fm1,psg1b,psg2 (fm1..fm8, "
                                         "psg1a..psg4c, tone1..tone3; groups fm, psg, psg1..psg4, "
                                         "tone)"));
  options->push_back(command->add_option("--solo", args->solo,
                                         "music: only these voices sound (same names as --mute)"));
}

// Reads the music file and turns the arguments into run options; prints what the reader
// skipped and found wrong. Returns 0 or the exit status of a failure.
int PrepareMusic(const std::string& path, const MusicArgs& args, const std::string& module_path,
                 MusicLog* log, MusicRunOptions* options) {
  std::string error;
  VoiceSet mute;
  VoiceSet solo;
  if (!ParseVoiceList(args.mute, &mute, &error)) return Fail("--mute: " + error);
  if (!ParseVoiceList(args.solo, &solo, &error)) return Fail("--solo: " + error);
  if (!ReadMusicFile(path, log, &error)) return Fail(error);
  for (const std::string& line : MusicReportLines(*log)) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), line.c_str());
  }
  if (log->total_ticks == 0) {
    return Fail(path + ": nothing to play: the commands hold no time");
  }
  if (log->opm_clock == 0 && !log->has_psg(0) && !log->has_psg(1) && !log->has_psg(2) &&
      !log->has_psg(3)) {
    std::fprintf(stderr, "%s: warning: no YM2151 or AY-3-8910 in the file: the board plays "
                 "nothing of it, the output is silent\n", path.c_str());
  }
  options->playback.rate = args.rate;
  options->playback.loops = args.loops;
  options->playback.fade_seconds = args.fade;
  options->board = args.board;
  options->module_path = module_path;
  options->voices = SelectVoices(solo, mute);
  return 0;
}

std::string DefaultWavPath(const std::string& input) {
  return std::filesystem::path(input).stem().string() + ".wav";
}

int RenderMusicFile(const std::string& path, const MusicArgs& args, const std::string& module_path,
                    std::string wav_path, const std::string& raw_path) {
  MusicLog log;
  MusicRunOptions options;
  if (int status = PrepareMusic(path, args, module_path, &log, &options); status != 0) {
    return status;
  }
  if (wav_path.empty() && raw_path.empty() && args.stems.empty()) wav_path = DefaultWavPath(path);
  MusicRenderResult result;
  std::string error;
  if (!RenderMusic(log, options, wav_path, raw_path, args.stems, &result, &error)) {
    return Fail(error);
  }
  if (!wav_path.empty() || !raw_path.empty()) {
    const std::string& name = !wav_path.empty() ? wav_path : raw_path;
    std::printf("wrote %s: %.2f s (%llu frames at %u Hz), %s mode\n", name.c_str(), result.seconds,
                static_cast<unsigned long long>(result.frames), args.rate,
                args.board ? "board" : "chips");
    std::printf("peak left %lld (%.1f dBFS), right %lld (%.1f dBFS), %llu clipped samples\n",
                static_cast<long long>(result.peak_left), Dbfs(result.peak_left),
                static_cast<long long>(result.peak_right), Dbfs(result.peak_right),
                static_cast<unsigned long long>(result.clipped_samples));
    std::printf("rendered in %.3f s: %.0fx real time\n", result.wall_seconds,
                result.wall_seconds > 0 ? result.seconds / result.wall_seconds : 0.0);
  }
  if (!args.stems.empty()) {
    for (const std::string& stem : result.stems) std::printf("stem %s\n", stem.c_str());
    if (!result.silent_voices.empty()) {
      std::string names;
      for (const std::string& v : result.silent_voices) names += (names.empty() ? "" : ", ") + v;
      std::printf("silent, no stem: %s\n", names.c_str());
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vorla: plays board scripts and chip music (VGM, VGZ, S98) through the Vorla "
               "module file"};
  // Paths may begin with "/" (also under Wine): options are only ever "-x" and "--name".
  app.allow_windows_style_options(false);
  app.require_subcommand(1);
  std::string module_path = ProgramDirectory() + "Vorla.vyx";
  app.add_option("--module", module_path, "module file to load (default: Vorla.vyx beside vorla)");

  ScriptRunOptions options;
  std::string input_path;
  MusicArgs render_args;
  std::vector<CLI::Option*> music_only;
  std::vector<CLI::Option*> script_only;
  CLI::App* render = app.add_subcommand("render", "render a board script or a music file");
  render->add_option("file", input_path,
                     "board script (.board), or music file (.vgm, .vgz, .s98)")->required();
  render->add_option("--rate", options.rate, "output rate (default 44100)")
      ->check(CLI::Range(8000, 192000));
  script_only.push_back(render->add_option("--chunk", options.chunk,
                                           "board script: largest Mix call, in frames")
                            ->check(CLI::Range(1, 1 << 20)));
  render->add_option("-o,--output", options.wav_path,
                     "16-bit stereo WAV file (music default: the file's name with .wav)");
  render->add_option("--raw", options.raw_path, "raw little-endian int32 left/right pairs");
  script_only.push_back(render->add_option("--report", options.report_path,
                                           "board script: report file (default: standard output)"));
  AddPlaybackOptions(render, &render_args, &music_only);
  music_only.push_back(render->add_option("--stems", render_args.stems,
                                          "music: write one WAV a voice that sounds into this "
                                          "folder"));

  MusicArgs play_args;
  std::string play_path;
  std::vector<CLI::Option*> play_options;
  CLI::App* play = app.add_subcommand("play", "play a music file to the speakers");
  play->add_option("file", play_path, "music file (.vgm, .vgz, .s98)")->required();
  play->add_option("--rate", play_args.rate, "output rate (default 44100)")
      ->check(CLI::Range(8000, 192000));
  AddPlaybackOptions(play, &play_args, &play_options);

  std::string info_path;
  CLI::App* info = app.add_subcommand("info", "print a music file's header and tag");
  info->add_option("file", info_path, "music file (.vgm, .vgz, .s98)")->required();

  std::string demo_path = "demo.wav";
  CLI::App* demo = app.add_subcommand("demo", "render the built-in demo to a WAV file");
  demo->add_option("-o,--output", demo_path, "WAV file to write");

  CLI11_PARSE(app, argc, argv);
  options.module_path = module_path;

  BoardScript script;
  std::string error;
  if (render->parsed()) {
    const bool music = IsMusicPath(input_path);
    for (CLI::Option* o : music ? script_only : music_only) {
      if (o->count() > 0) {
        return Fail(o->get_name() + " applies to " +
                    (music ? "board scripts" : "music files (.vgm, .vgz, .s98)") + " only");
      }
    }
    if (music) {
      render_args.rate = options.rate;
      return RenderMusicFile(input_path, render_args, module_path, options.wav_path,
                             options.raw_path);
    }
    std::string text;
    if (!ReadFile(input_path, &text, &error)) return Fail(error);
    if (!ParseBoardScript(text, input_path, &script, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 2;
    }
    ScriptRunResult result;
    if (RunBoardScript(script, options, &result, &error) != 0) return Fail(error);
    if (!options.wav_path.empty()) {
      std::fprintf(stderr, "%s: %llu frames at %u Hz, %llu clipped samples\n",
                   options.wav_path.c_str(), static_cast<unsigned long long>(result.frames),
                   result.wav_rate, static_cast<unsigned long long>(result.clipped_samples));
    }
    return 0;
  }

  if (play->parsed()) {
    MusicLog log;
    MusicRunOptions run;
    if (int status = PrepareMusic(play_path, play_args, module_path, &log, &run); status != 0) {
      return status;
    }
    bool interrupted = false;
    if (!PlayMusic(log, run, &interrupted, &error)) return Fail(error);
    return interrupted ? 130 : 0;
  }

  if (info->parsed()) {
    MusicLog log;
    if (!ReadMusicFile(info_path, &log, &error)) return Fail(error);
    std::printf("%s", FormatMusicInfo(log).c_str());
    return 0;
  }

  // demo
  if (!ParseBoardScript(DemoScript(), "demo", &script, &error)) return Fail(error);
  options.wav_path = demo_path;
  ScriptRunResult result;
  if (RunBoardScript(script, options, &result, &error) != 0) return Fail(error);
  std::printf("wrote %s: %.2f s of 16-bit stereo at %u Hz\n", demo_path.c_str(), result.seconds,
              result.wav_rate);
  std::printf("peak left %lld (%.1f dBFS), right %lld (%.1f dBFS), %llu clipped samples\n",
              static_cast<long long>(result.peak_left), Dbfs(result.peak_left),
              static_cast<long long>(result.peak_right), Dbfs(result.peak_right),
              static_cast<unsigned long long>(result.clipped_samples));
  std::printf("rendered in %.3f s: %.0fx real time\n", result.wall_seconds,
              result.wall_seconds > 0 ? result.seconds / result.wall_seconds : 0.0);
  return 0;
}
