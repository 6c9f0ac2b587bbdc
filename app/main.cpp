// vorla: the reference host. Loads a module file as the emulator does and plays board scripts
// through it; plays chip-music register logs (VGM, VGZ, S98) on the chip classes or the board.
//
// Exit status: 0 done, 1 failed, 2 the command line is wrong. Every message starts "vorla:".
// This file holds the command line and sends each subcommand to its work: music_commands.h
// (render, play and info of music files), script_commands.h (board scripts, the demo).
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "app/arguments.h"
#include "app/command_line.h"
#include "app/inputs.h"
#include "app/messages.h"
#include "app/music_commands.h"
#include "app/music_options.h"
#include "app/script_commands.h"
#include "music/music_reader.h"
#include "output/output_file.h"
#include "output/output_run.h"
#include "platform/environment.h"
#include "player/music_player.h"
#include "settings/board_settings.h"

namespace {

constexpr const char* kVersion = "vorla 2.0.1.1";
constexpr const char* kExitCodes =
    "Exit status: 0 done, 1 failed (a file could not be read or written, a render failed), "
    "2 the command line is wrong, 128 + N stopped by signal N (unfinished outputs removed).";

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
  render->add_flag("--fm-timers", c->render_args.fm_timers,
                   "the board's FM timers count down (status flags, CSM key-ons); chips mode "
                   "always counts them");
  render->add_flag("--chip-sound", c->render_args.chip_sound,
                   "the board's FM and PSGs sound as the chips on it did (board scripts, and "
                   "music with --board)");
  c->script_only.push_back(render->add_flag("--save-states", c->save_states,
                                            "board script: the board saves and restores its "
                                            "state (the script's save and load lines)"));
  c->script_only.push_back(render->add_option("--state-in", c->options.state_in_name,
                                              "board script: start from this saved state (with "
                                              "--save-states)")->type_name("FILE"));
  c->script_only.push_back(render->add_option("--state-out", c->options.state_out_path,
                                              "board script: write the board's state after the "
                                              "script to this file (with --save-states)")
                               ->type_name("FILE"));
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

// An option given an empty value (`--length ""`) is no option left out: what the first such
// option of the command is, or "".
std::string EmptyValueOption(const CLI::App& app) {
  std::vector<const CLI::App*> commands = {&app};
  for (const CLI::App* sub : app.get_subcommands()) commands.push_back(sub);
  for (const CLI::App* command : commands) {
    for (const CLI::Option* o : command->get_options()) {
      if (o->count() == 0 || o->get_type_size() == 0) continue;  // not given, or a flag
      const std::vector<std::string>& values = o->results();
      if (std::find(values.begin(), values.end(), "") != values.end()) {
        return o->get_positional() ? "an empty file name" : o->get_name() + ": an empty value";
      }
    }
  }
  return "";
}

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
  if (const std::string empty = EmptyValueOption(*app); !empty.empty()) {
    return Usage(empty + "; give one, or leave it out");
  }
  if (app->get_subcommands().empty()) {
    return Usage("a subcommand is required: render, play, info, demo or help "
                 "(vorla --help says more)");
  }
  return kGoOn;
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
  // The board's switches, which the host tells it when it asks (the state files imply theirs).
  if (c.render_args.fm_timers) c.options.switches[kFmTimersKey] = "1";
  if (c.render_args.chip_sound) c.options.switches[kChipSoundKey] = "1";
  if (c.save_states || !c.options.state_in_name.empty() || !c.options.state_out_path.empty()) {
    c.options.switches[kSaveStatesKey] = "1";
  }
  if (!c.log_path.empty()) c.options.switches[kLogKey] = c.log_path;
  const InputList list = ExpandInputs(c.inputs);
  if (list.many) return RenderSongs(c, list);
  const std::string& input = c.inputs.front();
  // One song and -o naming a folder (one that exists, or a name ending in a separator): the
  // song goes into it, named after itself, as the songs of a list do.
  std::error_code ec;
  const std::filesystem::path output(c.options.wav_path);
  if (!c.options.wav_path.empty() && c.options.wav_path != "-" &&
      (std::filesystem::is_directory(output, ec) || !output.has_filename()) &&
      !IsStream(input) && IsMusicFile(input)) {
    return RenderSongs(c, list);
  }
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
                           c.module_path, c.options.wav_path, c.options.raw_path,
                           c.overwrite ? Replace::kAny : Replace::kExisting);
  }
  if (const std::string e = CheckScriptWav(c.options.wav_path); !e.empty()) return Usage(e);
  const bool made_folder = !c.log_path.empty() && MakeLogFolder(c.log_path);
  const int status = RenderScriptFile(input, stream ? &streamed : nullptr, c.options);
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
    if (!ShowMusicInfo(list, i, c.info_json)) failed = true;
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
  OpenClosedStandardStreams();
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
