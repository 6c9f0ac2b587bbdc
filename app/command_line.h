// What the command line holds once CLI11 has parsed it: the options of each subcommand as
// typed, and the subcommands themselves.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "app/music_options.h"
#include "platform/program_directory.h"
#include "script/script_runner.h"

// Everything the command line can hold, as CLI11 fills it in, and the subcommands.
struct CommandLine {
  std::string module_path = ProgramDirectory() + "Vorla.vyx";
  ScriptRunOptions options;
  std::vector<std::string> inputs;
  MusicArgs render_args;
  NumberArgs render_numbers;
  bool overwrite = false;
  std::string log_path;
  bool save_states = false;
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
