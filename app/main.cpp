// vorla: the reference host. Loads a module file as the emulator does and plays board scripts
// through it; plays chip-music register logs (VGM, VGZ, S98) on the chip classes or the board.
//
// Exit status: 0 done, 1 failed, 2 the command line is wrong. Every message starts "vorla:".
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "app/arguments.h"
#include "app/demo_script.h"
#include "output/audio_format.h"
#include "output/output_file.h"
#include "platform/environment.h"
#include "platform/program_directory.h"
#include "music/music_info.h"
#include "music/music_reader.h"
#include "player/music_play.h"
#include "output/clock_text.h"
#include "player/music_render.h"
#include "player/voices.h"
#include "script/board_script.h"
#include "script/script_runner.h"
#include "settings/board_settings.h"
#include "settings/profile.h"
#include "text/shown_text.h"

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kVersion = "vorla 2.0.1.1";
constexpr const char* kExitCodes =
    "Exit status: 0 done, 1 failed (a file could not be read or written, a render failed), "
    "2 the command line is wrong, 128 + N stopped by signal N (unfinished outputs removed).";

// What the program says besides its outputs: standard output, or standard error when an output
// goes to standard output ("-").
std::FILE* g_says = stdout;

void SayOnStandardError(const std::vector<std::string>& outputs) {
  if (std::find(outputs.begin(), outputs.end(), "-") != outputs.end()) g_says = stderr;
}

// The register log the module file will keep: --log (set as VORLA_LOG for the module), else
// VORLA_LOG, else the settings file's LOG key. Only a log named as a file is an output of the
// run; a folder gets new names of its own.
std::string LogFileTarget() {
  std::string target = EnvironmentValue("VORLA_LOG");
  if (target.empty()) {
    ProfileFile profile(HostSettingsPath());
    target = ReadUnshownSettings(profile).log_target;
  }
  std::error_code ec;
  if (target.empty() || target.back() == '/' || target.back() == '\\' ||
      std::filesystem::is_directory(target, ec)) {
    return "";
  }
  return target;
}

// The files a run reads or has loaded, which none of its outputs may be.
std::vector<RunFile> RunReads(const std::string& input, const std::string& module_path) {
  return {{input, "the input"},
          {module_path, "the module file"},
          {ProgramPath(), "the program"},
          {HostSettingsPath(), "the settings file"}};
}

double Dbfs(int64_t peak) {
  return peak > 0 ? 20.0 * std::log10(static_cast<double>(peak) / 32768.0) : -INFINITY;
}

// The peaks, the clipping and the speed of a render, as both render results tell them.
template <typename Result>
void PrintLevels(const Result& result) {
  std::fprintf(g_says,
               "peak left %lld (%.1f dBFS), right %lld (%.1f dBFS), %llu clipped samples\n",
               static_cast<long long>(result.peak_left), Dbfs(result.peak_left),
               static_cast<long long>(result.peak_right), Dbfs(result.peak_right),
               static_cast<unsigned long long>(result.clipped_samples));
  std::fprintf(g_says, "rendered in %.3f s: %.0fx real time\n", result.wall_seconds,
               result.wall_seconds > 0 ? result.seconds / result.wall_seconds : 0.0);
}

// "vorla: message" on standard error, one line: paths and names in it may come from anywhere.
void Tell(const std::string& message) {
  std::fprintf(stderr, "vorla: %s\n", ShownText(message).c_str());
}

int Fail(const std::string& message) {
  Tell(message);
  return kFailed;
}

int Usage(const std::string& message) {
  Tell(message);
  return kUsage;
}

// The numeric options as typed; checked by their own rules after parsing.
struct NumberArgs {
  std::string rate;
  std::string chunk;
  std::string loops;
  std::string fade;
  std::string length;
};

// What a music command was given besides the file.
struct MusicArgs {
  uint32_t rate = 44100;
  int loops = 2;
  double fade = 3.0;
  double length = 0;
  bool board = false;
  std::string resampler = "soxr";
  std::string mute;
  std::string solo;
  std::string stems;
  std::string format;  // --format as typed
};

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
  if (!n.loops.empty()) {
    if (!ParseWhole("--loops", n.loops, 1, 1000, &whole, &error)) return error;
    music->loops = static_cast<int>(whole);
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

void AddPlaybackOptions(CLI::App* command, MusicArgs* args, NumberArgs* numbers,
                        std::vector<CLI::Option*>* options) {
  options->push_back(command->add_option(
      "--loops", numbers->loops, "music: passes of a looping song's looped part (1 to 1000, "
                                 "default 2)"));
  options->push_back(command->add_option(
      "--fade", numbers->fade, "music: seconds a looping song fades out after its last pass (0 "
                               "to 600, default 3)"));
  options->push_back(command->add_flag("--board", args->board,
                                       "music: play through the module file at the board's clocks "
                                       "(default: the chip classes at the file's clocks)"));
  options->push_back(command->add_option(
      "--resampler", args->resampler,
      "music, chips mode: soxr (default: FM at its own rate converted by libsoxr, PSG "
      "band-limited, AY-3-8910 files on the AY curve) or none (FM at the output rate, PSG "
      "sampled four times a frame, every PSG on the YM2149 curve)"));
  options->push_back(command->add_option("--mute", args->mute,
                                         "music: voices left out, e.g. fm1,psg1b,psg2 (fm1..fm8, "
                                         "psg1a..psg4c, tone1..tone3; groups fm, psg, psg1..psg4, "
                                         "tone)"));
  options->push_back(command->add_option("--solo", args->solo,
                                         "music: only these voices sound (same names as --mute)"));
}

// Reads the music file and turns the arguments into run options; prints what the reader
// skipped and found wrong. Returns 0 or the exit status of a failure.
// streamed: the file's bytes when they were read already (a pipe gives them once), or nullptr.
int PrepareMusic(const std::string& path, std::vector<uint8_t>* streamed, const MusicArgs& args,
                 const std::string& module_path, MusicLog* log, MusicRunOptions* options) {
  std::string error;
  VoiceSet mute;
  VoiceSet solo;
  if (!ParseVoiceList(args.mute, &mute, &error)) return Usage("--mute: " + error);
  if (!ParseVoiceList(args.solo, &solo, &error)) return Usage("--solo: " + error);
  if (args.resampler != "soxr" && args.resampler != "none") {
    return Usage("--resampler: '" + args.resampler + "' is neither soxr nor none");
  }
  if (streamed != nullptr ? !ReadMusicBytes(streamed, path, log, &error)
                          : !ReadMusicFile(path, log, &error)) {
    return Fail(error);
  }
  for (const std::string& line : MusicReportLines(*log)) {
    Tell(path + ": " + line);
  }
  if (log->total_ticks == 0) {
    return Fail(path + ": nothing to play: the commands hold no time");
  }
  const VoiceSet voices = VoicesOfLog(*log);
  if (voices.none()) {
    Tell(path + ": warning: no YM2151 or AY-3-8910 in the file: the board plays nothing of it, "
         "the output is silent");
  }
  options->playback.rate = args.rate;
  options->playback.loops = args.loops;
  options->playback.fade_seconds = args.fade;
  options->playback.max_seconds = args.length;
  options->board = args.board;
  // none: the FM at the output rate, the PSGs sampled, every PSG on the YM2149 curve.
  options->chips.resample = args.resampler == "soxr";
  options->chips.ay_curve = options->chips.resample;
  options->module_path = module_path;
  options->voices = SelectVoices(solo, mute);
  if (voices.any() && (voices & options->voices).none()) {
    if (solo.any()) {
      std::string names;
      for (int v = 0; v < kVoiceCount; ++v) {
        if (voices[v]) names += (names.empty() ? "" : ",") + VoiceName(v);
      }
      return Fail(path + ": --solo and --mute leave none of the file's voices sounding (it has " +
                  names + ")");
    }
    Tell(path + ": note: --mute leaves none of the file's voices: the output is silent");
  }
  return kDone;
}

std::string DefaultWavPath(const std::string& input, const AudioFormat& format) {
  return std::filesystem::path(input).stem().string() + AudioExtension(format.container);
}

// The files a music render writes: the mix and one file a voice in the stems folder.
std::vector<std::string> MusicOutputs(const std::string& wav, const std::string& raw,
                                      const std::string& stems, const AudioFormat& format) {
  std::vector<std::string> outputs = {wav, raw};
  if (!stems.empty()) {
    for (int v = 0; v < kVoiceCount; ++v) outputs.push_back(StemPath(stems, v, format));
  }
  return outputs;
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

// Board scripts and the demo write 16-bit WAV only; "" or why the name does not suit.
std::string CheckScriptWav(const std::string& path) {
  AudioFormat format;
  std::string error;
  if (path.empty()) return "";
  if (!ChooseAudioFormat(path, {}, &format, &error)) return error;
  if (format.container != AudioContainer::kWav) {
    return path + ": board scripts and the demo are written as 16-bit WAV only (.wav)";
  }
  return "";
}

int RenderMusicFile(const std::string& path, std::vector<uint8_t>* streamed, const MusicArgs& args,
                    const std::string& module_path, std::string wav_path,
                    const std::string& raw_path, bool overwrite) {
  AudioFormat format;
  if (const std::string e = ChooseMusicFormat(args, wav_path, &format); !e.empty()) {
    return Usage(e);
  }
  if (wav_path.empty() && raw_path.empty() && args.stems.empty()) {
    wav_path = DefaultWavPath(path, format);
    std::error_code ec;
    if (!overwrite && std::filesystem::exists(wav_path, ec)) {
      return Fail(wav_path + " exists: name the output with -o, or give --overwrite to replace it");
    }
  }
  std::vector<std::string> outputs = MusicOutputs(wav_path, raw_path, args.stems, format);
  if (args.board) outputs.push_back(LogFileTarget());
  if (const std::string clash = OutputClash(RunReads(path, module_path), outputs);
      !clash.empty()) {
    return Fail(clash);
  }
  SayOnStandardError(outputs);
  MusicLog log;
  MusicRunOptions options;
  if (int status = PrepareMusic(path, streamed, args, module_path, &log, &options);
      status != kDone) {
    return status;
  }
  options.output = format;
  MusicRenderResult result;
  std::string error;
  if (!RenderMusic(log, options, wav_path, raw_path, args.stems, &result, &error)) {
    return Fail(error);
  }
  if (!wav_path.empty() || !raw_path.empty()) {
    const std::string& name = !wav_path.empty() ? wav_path : raw_path;
    const bool plain = wav_path.empty() || (format.container == AudioContainer::kWav &&
                                            format.sample == SampleFormat::kS16);
    std::fprintf(g_says, "wrote %s: %s (%llu frames at %u Hz), %s%s mode\n",
                 ShownText(name).c_str(), FormatClock(result.seconds).c_str(),
                 static_cast<unsigned long long>(result.frames), args.rate,
                 plain ? "" : (AudioFormatName(format) + ", ").c_str(),
                 args.board ? "board" : "chips");
    PrintLevels(result);
  }
  if (!args.stems.empty()) {
    for (const std::string& stem : result.stems) {
      std::fprintf(g_says, "stem %s\n", ShownText(stem).c_str());
    }
    if (!result.silent_voices.empty()) {
      std::string names;
      for (const std::string& v : result.silent_voices) names += (names.empty() ? "" : ", ") + v;
      std::fprintf(g_says, "silent, no stem: %s\n", names.c_str());
    }
  }
  return kDone;
}

void PrintNotes(const std::vector<std::string>& notes) {
  for (const std::string& note : notes) Tell(note);
}

std::string_view AsText(const std::vector<uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// streamed: the script's bytes when they were read already (a pipe gives them once), or nullptr.
int RenderScriptFile(const std::string& path, const std::vector<uint8_t>* streamed,
                     const ScriptRunOptions& options) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    return Fail(path + ": is a folder, not a board script or music file");
  }
  if (const std::string clash =
          OutputClash(RunReads(path, options.module_path),
                      {options.wav_path, options.raw_path, options.report_path, LogFileTarget()});
      !clash.empty()) {
    return Fail(clash);
  }
  FILE* file = nullptr;
  if (streamed == nullptr && (file = std::fopen(path.c_str(), "rb")) == nullptr) {
    return Fail(path + ": cannot open the file: " + std::strerror(errno));
  }
  BoardScriptReader script = file != nullptr ? BoardScriptReader(file, path)
                                             : BoardScriptReader(AsText(*streamed), path);
  ScriptRunResult result;
  std::string error;
  const bool ok = RunBoardScript(script, options, &result, &error);
  if (file != nullptr) std::fclose(file);
  PrintNotes(result.notes);
  if (!ok) return Fail(error);
  if (!options.wav_path.empty()) {
    std::fprintf(stderr, "vorla: %s: %llu frames at %u Hz, %llu clipped samples\n",
                 ShownText(options.wav_path).c_str(),
                 static_cast<unsigned long long>(result.frames), result.wav_rate,
                 static_cast<unsigned long long>(result.clipped_samples));
  }
  if (result.cut) {
    std::fprintf(stderr, "vorla: %s: cut after %s (--length)\n", ShownText(path).c_str(),
                 FormatClock(result.seconds).c_str());
  }
  return kDone;
}

int RunDemo(ScriptRunOptions options, const std::string& demo_path) {
  const std::string text = DemoScript();
  BoardScriptReader script(text, "demo");
  options.wav_path = demo_path;
  if (const std::string e = CheckScriptWav(demo_path); !e.empty()) return Usage(e);
  if (const std::string clash =
          OutputClash(RunReads("", options.module_path), {demo_path, LogFileTarget()});
      !clash.empty()) {
    return Fail(clash);
  }
  SayOnStandardError({demo_path});
  ScriptRunResult result;
  std::string error;
  const bool ok = RunBoardScript(script, options, &result, &error);
  PrintNotes(result.notes);
  if (!ok) return Fail(error);
  std::fprintf(g_says, "wrote %s: %.2f s of 16-bit stereo at %u Hz\n",
               ShownText(demo_path).c_str(), result.seconds, result.wav_rate);
  PrintLevels(result);
  return kDone;
}

// Everything the command line can hold, as CLI11 fills it in, and the subcommands.
struct CommandLine {
  std::string module_path = ProgramDirectory() + "Vorla.vyx";
  ScriptRunOptions options;
  std::string input_path;
  MusicArgs render_args;
  NumberArgs render_numbers;
  bool overwrite = false;
  std::string log_path;
  bool fm_timers = false;
  std::vector<CLI::Option*> music_only;
  std::vector<CLI::Option*> script_only;

  MusicArgs play_args;
  NumberArgs play_numbers;
  std::string play_path;
  std::vector<CLI::Option*> play_options;

  std::string info_path;
  std::string demo_path = "demo.wav";

  CLI::App* render = nullptr;
  CLI::App* play = nullptr;
  CLI::App* info = nullptr;
  CLI::App* demo = nullptr;
  CLI::App* help = nullptr;
};

void AddRenderCommand(CLI::App* app, CommandLine* c) {
  CLI::App* render = app->add_subcommand("render", "render a board script or a music file");
  c->render = render;
  render->add_option("file", c->input_path,
                     "board script (.board), or music file (.vgm, .vgz, .s98)")->required();
  render->add_option("--rate", c->render_numbers.rate,
                     "output rate (8000 to 192000, default 44100)");
  c->script_only.push_back(render->add_option("--chunk", c->render_numbers.chunk,
                                              "board script: largest Mix call, in frames (1 to "
                                              "1048576, default 1024)"));
  render->add_option("-o,--output", c->options.wav_path,
                     "audio file: .wav, or .flac for music; - for standard output (music "
                     "default: the file's name with .wav, or .flac with --format flac)");
  render->add_option("--raw", c->options.raw_path, "raw little-endian int32 left/right pairs");
  render->add_option("--length", c->render_numbers.length,
                     "render at most this many seconds of audio");
  c->script_only.push_back(render->add_option("--report", c->options.report_path,
                                              "board script: report file (default: standard "
                                              "output)"));
  c->script_only.push_back(render->add_option("--log", c->log_path,
                                              "board script: the board logs its FM and PSG "
                                              "writes to this file (.s98, or .vgm) or folder"));
  render->add_flag("--fm-timers", c->fm_timers,
                   "the board's FM timers count down (status flags, CSM key-ons); chips mode "
                   "always counts them");
  AddPlaybackOptions(render, &c->render_args, &c->render_numbers, &c->music_only);
  c->music_only.push_back(render->add_option("--stems", c->render_args.stems,
                                             "music: write one WAV a voice that sounds into "
                                             "this folder"));
  c->music_only.push_back(render->add_option(
      "--format", c->render_args.format,
      "music: s16 (default), s24 or f32 samples; wav or flac; or both, e.g. flac,s24 (FLAC: 16 "
      "or 24 bits; a name ending .flac is FLAC)"));
  c->music_only.push_back(render->add_flag("-y,--overwrite", c->overwrite,
                                           "music: replace an existing output named after the "
                                           "file"));
}

void AddOtherCommands(CLI::App* app, CommandLine* c) {
  c->play = app->add_subcommand("play", "play a music file to the speakers");
  c->play->add_option("file", c->play_path, "music file (.vgm, .vgz, .s98)")->required();
  c->play->add_option("--rate", c->play_numbers.rate,
                      "output rate (8000 to 192000, default 44100)");
  c->play->add_option("--length", c->play_numbers.length, "play at most this many seconds");
  AddPlaybackOptions(c->play, &c->play_args, &c->play_numbers, &c->play_options);

  c->info = app->add_subcommand("info", "print a music file's header and tag");
  c->info->add_option("file", c->info_path, "music file (.vgm, .vgz, .s98)")->required();

  c->demo = app->add_subcommand("demo", "render the built-in demo to a WAV file");
  c->demo->add_option("-o,--output", c->demo_path, "WAV file to write");

  c->help = app->add_subcommand("help", "say how vorla is used");
}

// The first word that is not an option must name a subcommand: "" or the message saying it
// does not.
std::string UnknownSubcommand(int argc, char** argv) {
  const std::vector<std::string> commands = {"render", "play", "info", "demo", "help"};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--module") {
      ++i;
      continue;
    }
    if (arg.rfind("-", 0) == 0) continue;
    if (std::find(commands.begin(), commands.end(), arg) == commands.end()) {
      const std::string near = NearestWord(arg, commands);
      return "unknown subcommand '" + arg + "'" +
             (near.empty() ? "" : "; did you mean '" + near + "'?") +
             " (vorla --help lists them)";
    }
    break;
  }
  return "";
}

constexpr int kGoOn = -1;

// Parses the command line; kGoOn when a subcommand is to run, otherwise the exit status (help
// and version printed, or the line is wrong). usage is the whole program's help.
int ParseCommandLine(CLI::App* app, const CommandLine& c, const std::string& usage, int argc,
                     char** argv) {
  try {
    app->parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    const bool whole = app->get_subcommands().empty() || c.help->parsed();
    std::printf("%s", whole ? usage.c_str() : app->help().c_str());
    return kDone;
  } catch (const CLI::CallForAllHelp&) {
    std::printf("%s", app->help("", CLI::AppFormatMode::All).c_str());
    return kDone;
  } catch (const CLI::CallForVersion&) {
    std::printf("%s\n", kVersion);
    return kDone;
  } catch (const CLI::ParseError& e) {
    return Usage(std::string(e.what()) + " (vorla --help says how vorla is used)");
  }
  if (c.help->parsed()) {
    std::printf("%s", usage.c_str());
    return kDone;
  }
  if (app->get_subcommands().empty()) {
    return Usage("a subcommand is required: render, play, info, demo or help "
                 "(vorla --help says more)");
  }
  return kGoOn;
}

// True for a file that can be read only once: a pipe, a FIFO, a device (not a regular file or
// a folder).
bool IsStream(const std::string& path) {
  std::error_code ec;
  const std::filesystem::file_status st = std::filesystem::status(path, ec);
  return !ec && std::filesystem::exists(st) && !std::filesystem::is_regular_file(st) &&
         !std::filesystem::is_directory(st);
}

// A board script with --log: the module reads where to log from the environment when it is
// created. A folder named with a trailing slash is made when it is missing (one level, as mkdir
// makes it: *made_folder then says so); one that cannot be made is the module's to report, as
// any log it cannot create, and the run fails.
int PrepareScriptLog(const CommandLine& c, bool* made_folder) {
  if (const char last = c.log_path.back(); last == '/' || last == '\\') {
    std::error_code ec;
    *made_folder = std::filesystem::create_directory(c.log_path, ec);
  }
  if (!SetEnvironmentValue("VORLA_LOG", c.log_path)) {
    return Fail("--log: cannot set VORLA_LOG for the module");
  }
  return kDone;
}

int RunRender(CommandLine& c) {
  if (const std::string e = CheckNumbers(c.render_numbers, &c.render_args, &c.options.chunk);
      !e.empty()) {
    return Usage(e);
  }
  c.options.rate = c.render_args.rate;
  c.options.max_seconds = c.render_args.length;
  // The module reads the switch from the environment when it is created.
  if (c.fm_timers && !SetEnvironmentValue("VORLA_FMTIMERS", "1")) {
    return Fail("--fm-timers: cannot set VORLA_FMTIMERS for the module");
  }
  // A pipe, a FIFO or a device gives its bytes once: they are read whole now, and both the
  // choice of reader and the reading go by them.
  std::vector<uint8_t> streamed;
  const bool stream = IsStream(c.input_path);
  if (std::string error; stream && !ReadFileBytes(c.input_path, &streamed, &error)) {
    return Fail(error);
  }
  const bool music = stream ? IsMusicStart(streamed) : IsMusicFile(c.input_path);
  for (CLI::Option* o : music ? c.script_only : c.music_only) {
    if (o->count() > 0) {
      return Usage(o->get_name() + " applies to " +
                   (music ? "board scripts" : "music files (.vgm, .vgz, .s98)") + " only");
    }
  }
  if (music) {
    return RenderMusicFile(c.input_path, stream ? &streamed : nullptr, c.render_args,
                           c.module_path, c.options.wav_path, c.options.raw_path, c.overwrite);
  }
  if (const std::string e = CheckScriptWav(c.options.wav_path); !e.empty()) return Usage(e);
  bool made_folder = false;
  int status = c.log_path.empty() ? kDone : PrepareScriptLog(c, &made_folder);
  if (status == kDone) {
    status = RenderScriptFile(c.input_path, stream ? &streamed : nullptr, c.options);
  }
  if (status != kDone && made_folder) {
    // A failed run leaves no folder of its own behind (remove takes it only while empty).
    std::error_code ec;
    std::filesystem::remove(c.log_path, ec);
  }
  return status;
}

int RunPlay(CommandLine& c) {
  if (const std::string e = CheckNumbers(c.play_numbers, &c.play_args, nullptr); !e.empty()) {
    return Usage(e);
  }
  if (c.play_args.board) {
    if (const std::string clash =
            OutputClash(RunReads(c.play_path, c.module_path), {LogFileTarget()});
        !clash.empty()) {
      return Fail(clash);
    }
  }
  MusicLog log;
  MusicRunOptions run;
  if (int status = PrepareMusic(c.play_path, nullptr, c.play_args, c.module_path, &log, &run);
      status != kDone) {
    return status;
  }
  bool interrupted = false;
  std::string error;
  if (!PlayMusic(log, run, &interrupted, &error)) return Fail(error);
  return interrupted ? 130 : kDone;
}

int RunInfo(const CommandLine& c) {
  MusicLog log;
  std::string error;
  if (!ReadMusicFile(c.info_path, &log, &error)) return Fail(error);
  std::printf("%s", FormatMusicInfo(log).c_str());
  return kDone;
}

int Run(int argc, char** argv) {
  CLI::App app{"vorla: plays board scripts and chip music (VGM, VGZ, S98) through the Vorla "
               "module file"};
  app.name("vorla");
  app.footer(kExitCodes);
  // Paths may begin with "/" (also under Wine): options are only ever "-x" and "--name".
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", kVersion);
  // A run stopped by a signal leaves no temporary file behind.
  StopSignals();
  CommandLine c;
  app.add_option("--module", c.module_path,
                 "module file to load (default: Vorla.vyx beside vorla)");
  AddRenderCommand(&app, &c);
  AddOtherCommands(&app, &c);

  if (const std::string unknown = UnknownSubcommand(argc, argv); !unknown.empty()) {
    return Usage(unknown);
  }
  if (const std::string repeated = RepeatedOption(argc, argv); !repeated.empty()) {
    return Usage(repeated + " is given twice; give it once");
  }
  // The whole program's help, taken before a parsed subcommand would make it the subcommand's.
  const std::string usage = app.help();
  if (const int status = ParseCommandLine(&app, c, usage, argc, argv); status != kGoOn) {
    return status;
  }
  c.options.module_path = c.module_path;
  if (c.render->parsed()) return RunRender(c);
  if (c.play->parsed()) return RunPlay(c);
  if (c.info->parsed()) return RunInfo(c);
  return RunDemo(c.options, c.demo_path);
}

}  // namespace

int main(int argc, char** argv) {
  int status = kFailed;
  try {
    status = Run(argc, argv);
  } catch (const std::bad_alloc&) {
    status = Fail("out of memory");
  } catch (const std::exception& e) {
    status = Fail(e.what());
  }
  // The module's register log, complete under a temporary name, goes in place only with a run
  // that succeeded: a failed run replaces nothing.
  if (std::string error; status == kDone && !CommitAwaited(&error)) {
    status = Fail(error);
  } else if (status != kDone) {
    DiscardAwaited();
  }
  // What was printed must have reached its place (a full disk, a closed pipe); a failure that
  // already said so is not reported twice.
  if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && status == kDone) {
    return Fail(std::string("cannot write standard output: ") +
                std::strerror(errno != 0 ? errno : EIO));
  }
  return status;
}
