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
#include "app/inputs.h"
#include "app/messages.h"
#include "app/music_options.h"
#include "output/audio_format.h"
#include "output/output_file.h"
#include "platform/environment.h"
#include "platform/program_directory.h"
#include "music/music_info.h"
#include "music/music_info_json.h"
#include "music/music_reader.h"
#include "player/music_play.h"
#include "output/clock_text.h"
#include "player/music_render.h"
#include "player/terminal.h"
#include "player/voices.h"
#include "script/board_script.h"
#include "script/script_runner.h"
#include "settings/board_settings.h"
#include "settings/profile.h"
#include "text/shown_text.h"

namespace {

constexpr const char* kVersion = "vorla 2.0.1.1";
constexpr const char* kExitCodes =
    "Exit status: 0 done, 1 failed (a file could not be read or written, a render failed), "
    "2 the command line is wrong, 128 + N stopped by signal N (unfinished outputs removed).";

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
  if (error = ApplyLevels(args.levels, args.board, &options->chips); !error.empty()) {
    return Usage(error);
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
  options->playback.start_seconds = args.start;
  options->playback.speed = args.speed;
  if (args.start > 0 && SongFrames(*log, options->playback) == 0) {
    PlaybackOptions whole = options->playback;
    whole.start_seconds = 0;
    whole.max_seconds = 0;
    return Fail(path + ": --start " + FormatClock(args.start) + " is past the song's end (" +
                FormatClock(static_cast<double>(SongFrames(*log, whole)) / args.rate) + ")");
  }
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
  std::vector<std::string> inputs;
  MusicArgs render_args;
  NumberArgs render_numbers;
  bool overwrite = false;
  std::string log_path;
  bool fm_timers = false;
  std::vector<CLI::Option*> music_only;
  std::vector<CLI::Option*> script_only;

  MusicArgs play_args;
  NumberArgs play_numbers;
  std::vector<std::string> play_paths;
  std::vector<CLI::Option*> play_options;

  std::vector<std::string> info_paths;
  bool info_json = false;
  std::string demo_path = "demo.wav";

  CLI::App* render = nullptr;
  CLI::App* play = nullptr;
  CLI::App* info = nullptr;
  CLI::App* demo = nullptr;
  CLI::App* help = nullptr;
};

void AddRenderCommand(CLI::App* app, CommandLine* c) {
  CLI::App* render = app->add_subcommand("render", "render a board script to WAV, or music files to WAV or FLAC");
  c->render = render;
  render->add_option("file", c->inputs,
                     "board script (.board); or music files (.vgm, .vgz, .s98), folders of them "
                     "and .m3u playlists")
      ->required()
      ->type_name("FILE");
  render->add_option("--rate", c->render_numbers.rate,
                     "output rate (8000 to 192000, default 44100)")->type_name("HZ");
  c->script_only.push_back(render->add_option("--chunk", c->render_numbers.chunk,
                                              "board script: largest Mix call, in frames (1 to "
                                              "1048576, default 1024)")->type_name("FRAMES"));
  render->add_option("-o,--output", c->options.wav_path,
                     "audio file: .wav, or .flac for music; - for standard output (music "
                     "default: the file's name with .wav, or .flac with --format flac); with "
                     "several songs, the folder they go to, each named after its song")
      ->type_name("FILE|FOLDER");
  render->add_option("--raw", c->options.raw_path, "raw little-endian int32 left/right pairs")
      ->type_name("FILE");
  render->add_option("--length", c->render_numbers.length,
                     "render at most this many seconds of audio (more than 0)")
      ->type_name("SECONDS");
  c->script_only.push_back(render->add_option("--report", c->options.report_path,
                                              "board script: report file (default: standard "
                                              "output)")->type_name("FILE"));
  c->script_only.push_back(render->add_option("--log", c->log_path,
                                              "board script: the board logs its FM and PSG "
                                              "writes to this file (.s98, or .vgm) or folder")
                               ->type_name("FILE|FOLDER"));
  render->add_flag("--fm-timers", c->fm_timers,
                   "the board's FM timers count down (status flags, CSM key-ons); chips mode "
                   "always counts them");
  AddPlaybackOptions(render, &c->render_args, &c->render_numbers, &c->music_only);
  c->music_only.push_back(render->add_option("--stems", c->render_args.stems,
                                             "music: write one file a voice that sounds into "
                                             "this folder")->type_name("FOLDER"));
  c->music_only.push_back(render->add_option(
      "--format", c->render_args.format,
      "music: s16 (default), s24 or f32 samples; wav or flac; or both, e.g. flac,s24 (FLAC: 16 "
      "or 24 bits; a name ending .flac is FLAC)")->type_name("FORMAT"));
  c->music_only.push_back(render->add_flag("-y,--overwrite", c->overwrite,
                                           "music: replace an existing output named after the "
                                           "file"));
}

void AddOtherCommands(CLI::App* app, CommandLine* c) {
  c->play = app->add_subcommand("play", "play music files to the speakers, one after another");
  c->play->add_option("file", c->play_paths,
                      "music files (.vgm, .vgz, .s98), folders of them and .m3u playlists")
      ->required()
      ->type_name("FILE");
  c->play->add_option("--rate", c->play_numbers.rate,
                      "output rate (8000 to 192000, default 44100)")->type_name("HZ");
  c->play->add_option("--length", c->play_numbers.length,
                      "play at most this many seconds of each song (more than 0)")
      ->type_name("SECONDS");
  AddPlaybackOptions(c->play, &c->play_args, &c->play_numbers, &c->play_options);

  c->info = app->add_subcommand("info", "print music files' headers and tags");
  c->info->add_option("file", c->info_paths,
                      "music files (.vgm, .vgz, .s98), folders of them and .m3u playlists")
      ->required()
      ->type_name("FILE");
  c->info->add_flag("--json", c->info_json,
                    "print the facts as JSON instead: one object a line, one line a file");

  c->demo = app->add_subcommand("demo", "render the built-in demo to a WAV file");
  c->demo->add_option("-o,--output", c->demo_path, "WAV file to write")->type_name("FILE");

  c->help = app->add_subcommand("help", "say how vorla is used");
}

const std::vector<std::string> kCommands = {"render", "play", "info", "demo", "help"};

// The place of the first word that is not an option (nor --module's file), or argc.
int FirstWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--module") {
      ++i;
      continue;
    }
    if (arg.rfind("-", 0) != 0) return i;
  }
  return argc;
}

// "vorla FILE..." is "vorla play FILE...": a first word that is no subcommand but names a file,
// a folder or a playlist that exists. The arguments, with "play" put in where it goes.
std::vector<char*> WithPlayByDefault(int argc, char** argv) {
  static char play[] = "play";
  std::vector<char*> args(argv, argv + argc);
  const int first = FirstWord(argc, argv);
  std::error_code ec;
  if (first < argc &&
      std::find(kCommands.begin(), kCommands.end(), argv[first]) == kCommands.end() &&
      std::filesystem::exists(argv[first], ec)) {
    args.insert(args.begin() + first, play);
  }
  return args;
}

// The first word that is not an option must name a subcommand: "" or the message saying it
// does not.
std::string UnknownSubcommand(int argc, char** argv) {
  if (const int i = FirstWord(argc, argv); i < argc) {
    const std::string arg = argv[i];
    if (std::find(kCommands.begin(), kCommands.end(), arg) == kCommands.end()) {
      const std::string near = NearestWord(arg, kCommands);
      // A word written as a file name is told apart from a misspelt subcommand.
      const bool named_file = arg.find_first_of("./\\") != std::string::npos;
      return "unknown subcommand '" + arg + "'" +
             (named_file ? ", and no file or folder of that name" : "") +
             (near.empty() ? "" : "; did you mean '" + near + "'?") +
             " (vorla --help lists them)";
    }
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

// Tells what was skipped of the inputs; true when anything was.
bool TellProblems(const InputList& list) {
  for (const std::string& problem : list.problems) Tell(problem);
  return !list.problems.empty();
}

// Names the output of each song after it (STEM.wav, or STEM.flac) in `folder` ("" for the
// current one); two songs of one stem get distinct names (STEM-2.wav), told apart as a file
// system that ignores case would.
std::vector<std::string> SongOutputNames(const std::vector<std::string>& songs,
                                         const std::string& folder, const std::string& extension) {
  std::vector<std::string> names;
  std::vector<std::string> taken;
  for (const std::string& song : songs) {
    const std::string stem = std::filesystem::path(song).stem().string();
    for (int n = 1;; ++n) {
      const std::string name = stem + (n == 1 ? "" : "-" + std::to_string(n)) + extension;
      std::string key = name;
      std::transform(key.begin(), key.end(), key.begin(),
                     [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
      if (std::find(taken.begin(), taken.end(), key) != taken.end()) continue;
      taken.push_back(key);
      names.push_back(folder.empty() ? name : (std::filesystem::path(folder) / name).string());
      break;
    }
  }
  return names;
}

// What render refuses for a list of songs: options of one output file or of board scripts, and
// a board script among the inputs. "" or the message.
std::string SongListRefusal(const CommandLine& c, const InputList& list) {
  if (!c.options.raw_path.empty()) return "--raw names one file: give it one input";
  if (!c.render_args.stems.empty()) return "--stems takes one song: give it one input";
  if (c.options.wav_path == "-") {
    return "-o -: several songs cannot go to standard output; name a folder for them";
  }
  for (CLI::Option* o : c.script_only) {
    if (o->count() > 0) return o->get_name() + " applies to a board script, rendered on its own";
  }
  for (const std::string& file : list.files) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(file, ec) && !IsMusicFile(file)) {
      return file + ": not a music file (.vgm, .vgz, .s98): several inputs are music files; a "
             "board script is rendered on its own";
    }
  }
  return "";
}

// -o with several songs: the folder they go to, made when missing (one level). "" or the
// message.
std::string PrepareSongFolder(const std::string& folder) {
  std::error_code ec;
  if (folder.empty() || std::filesystem::is_directory(folder, ec)) return "";
  if (std::filesystem::exists(folder, ec)) {
    return "-o " + folder + ": not a folder: with several songs -o names the folder they go to";
  }
  if (!std::filesystem::create_directory(folder, ec)) {
    return "-o " + folder + ": cannot make the folder: " + ec.message();
  }
  return "";
}

// Renders each song of the list to its own WAV; a song that fails is reported and the others
// still render.
int RenderSongs(const CommandLine& c, const InputList& list) {
  bool failed = TellProblems(list);
  if (list.files.empty()) return kFailed;
  if (const std::string refusal = SongListRefusal(c, list); !refusal.empty()) {
    return Usage(refusal);
  }
  // The folder gives no extension to go by: the files are what --format says.
  AudioFormat format;
  if (const std::string e = ChooseMusicFormat(c.render_args, "", &format); !e.empty()) {
    return Usage(e);
  }
  if (const std::string e = PrepareSongFolder(c.options.wav_path); !e.empty()) return Fail(e);
  const std::vector<std::string> names =
      SongOutputNames(list.files, c.options.wav_path, AudioExtension(format.container));
  for (const std::string& name : names) {
    std::error_code ec;
    if (!c.overwrite && std::filesystem::exists(name, ec)) {
      return Fail(name + " exists: give -y (--overwrite) to replace it; nothing was rendered");
    }
  }
  for (size_t i = 0; i < list.files.size(); ++i) {
    std::vector<uint8_t> streamed;
    const bool stream = IsStream(list.files[i]);
    if (std::string error; stream && !ReadFileBytes(list.files[i], &streamed, &error)) {
      Tell(error);
      failed = true;
      continue;
    }
    const int status = RenderMusicFile(list.files[i], stream ? &streamed : nullptr, c.render_args,
                                       c.module_path, names[i], "", true);
    if (status == kUsage) return status;
    failed = failed || status != kDone;
  }
  return failed ? kFailed : kDone;
}

int RunRender(CommandLine& c) {
  if (const std::string e = CheckNumbers(c.render_numbers, &c.render_args, &c.options.chunk);
      !e.empty()) {
    return Usage(e);
  }
  if (c.render_args.loops == PlaybackOptions::kLoopForever && c.render_args.length == 0) {
    return Usage("--loops forever: a render needs an end; give --length SECONDS too");
  }
  c.options.rate = c.render_args.rate;
  c.options.max_seconds = c.render_args.length;
  // The module reads the switch from the environment when it is created.
  if (c.fm_timers && !SetEnvironmentValue("VORLA_FMTIMERS", "1")) {
    return Fail("--fm-timers: cannot set VORLA_FMTIMERS for the module");
  }
  if (const InputList list = ExpandInputs(c.inputs); list.many) return RenderSongs(c, list);
  const std::string& input = c.inputs.front();
  // A pipe, a FIFO or a device gives its bytes once: they are read whole now, and both the
  // choice of reader and the reading go by them.
  std::vector<uint8_t> streamed;
  const bool stream = IsStream(input);
  if (std::string error; stream && !ReadFileBytes(input, &streamed, &error)) {
    return Fail(error);
  }
  const bool music = stream ? IsMusicStart(streamed) : IsMusicFile(input);
  for (CLI::Option* o : music ? c.script_only : c.music_only) {
    if (o->count() > 0) {
      return Usage(o->get_name() + " applies to " +
                   (music ? "board scripts" : "music files (.vgm, .vgz, .s98)") + " only");
    }
  }
  if (music) {
    return RenderMusicFile(input, stream ? &streamed : nullptr, c.render_args,
                           c.module_path, c.options.wav_path, c.options.raw_path, c.overwrite);
  }
  if (const std::string e = CheckScriptWav(c.options.wav_path); !e.empty()) return Usage(e);
  bool made_folder = false;
  int status = c.log_path.empty() ? kDone : PrepareScriptLog(c, &made_folder);
  if (status == kDone) {
    status = RenderScriptFile(input, stream ? &streamed : nullptr, c.options);
  }
  if (status != kDone && made_folder) {
    // A failed run leaves no folder of its own behind (remove takes it only while empty).
    std::error_code ec;
    std::filesystem::remove(c.log_path, ec);
  }
  return status;
}

// Reads and plays one song of the list; kDone once it played, with how it ended in *end.
// A song of a list shows its place in it on a terminal.
int PlaySong(const CommandLine& c, const std::string& path, size_t index, size_t count,
             PlayEnd* end) {
  if (count > 1 && StdoutIsTerminal()) {
    const std::string place = std::to_string(index + 1) + "/" + std::to_string(count);
    std::printf("song %s: %s\n", place.c_str(),
                ShownText(std::filesystem::path(path).filename().string()).c_str());
    std::fflush(stdout);
  }
  if (c.play_args.board) {
    if (const std::string clash = OutputClash(RunReads(path, c.module_path), {LogFileTarget()});
        !clash.empty()) {
      return Fail(clash);
    }
  }
  MusicLog log;
  MusicRunOptions run;
  if (int status = PrepareMusic(path, nullptr, c.play_args, c.module_path, &log, &run);
      status != kDone) {
    return status;
  }
  std::string error;
  if (!PlayMusic(log, run, end, &error)) return Fail(error);
  return kDone;
}

// Plays the songs in order; n and b (kNext, kPrevious) move along the list, the first staying
// first. A song that fails is reported and skipped, and the run then ends with status 1.
int PlaySongs(const CommandLine& c, const std::vector<std::string>& songs, bool failed) {
  std::vector<bool> song_failed(songs.size(), false);
  bool back = false;
  for (size_t i = 0; i < songs.size();) {
    PlayEnd end = PlayEnd::kFinished;
    const int status = PlaySong(c, songs[i], i, songs.size(), &end);
    if (status == kUsage) return status;
    if (status != kDone) {
      failed = true;
      song_failed[i] = true;
      // A song that fails is passed over the way the list was going; going back, on when
      // nothing before it plays.
      const size_t next = NextSong(song_failed, i, back);
      i = next != i ? next : NextSong(song_failed, i, false);
      continue;
    }
    if (end == PlayEnd::kInterrupted) return 130;
    if (end == PlayEnd::kQuit) break;
    back = end == PlayEnd::kPrevious;
    i = NextSong(song_failed, i, back);
  }
  return failed ? kFailed : kDone;
}

int RunPlay(CommandLine& c) {
  if (const std::string e = CheckNumbers(c.play_numbers, &c.play_args, nullptr); !e.empty()) {
    return Usage(e);
  }
  const InputList list = ExpandInputs(c.play_paths);
  const bool failed = TellProblems(list);
  if (list.files.empty()) return kFailed;
  return PlaySongs(c, list.files, failed);
}

// Prints each file's header and tag in turn; a list gets a line naming each file before it.
int RunInfo(const CommandLine& c) {
  const InputList list = ExpandInputs(c.info_paths);
  bool failed = TellProblems(list);
  for (size_t i = 0; i < list.files.size(); ++i) {
    if (list.many && !c.info_json) {
      std::printf("%s==> %s <==\n", i > 0 ? "\n" : "", ShownText(list.files[i]).c_str());
    }
    MusicLog log;
    std::string error;
    if (!ReadMusicFile(list.files[i], &log, &error)) {
      std::fflush(stdout);
      Tell(error);
      failed = true;
      continue;
    }
    const std::string text =
        c.info_json ? MusicInfoJson(log, list.files[i]) : FormatMusicInfo(log);
    std::fwrite(text.data(), 1, text.size(), stdout);
  }
  return failed ? kFailed : kDone;
}

int Run(int original_argc, char** original_argv) {
  std::vector<char*> args = WithPlayByDefault(original_argc, original_argv);
  const int argc = static_cast<int>(args.size());
  char** argv = args.data();
  CLI::App app{"vorla: plays board scripts and chip music (VGM, VGZ, S98) through the Vorla "
               "module file. vorla FILE... is vorla play FILE..."};
  app.name("vorla");
  app.footer(kExitCodes);
  // Paths may begin with "/" (also under Wine): options are only ever "-x" and "--name".
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", kVersion);
  // A run stopped by a signal leaves no temporary file behind.
  StopSignals();
  CommandLine c;
  app.add_option("--module", c.module_path,
                 "module file to load (default: Vorla.vyx beside vorla)")->type_name("FILE");
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
