// Plays a board script through the module file: the script is read once to check every line and
// to know the length of what it renders, then, when nothing is wrong, the module file is loaded,
// the board created, the script played into the outputs and the board released.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/reference_host.h"
#include "script/board_script.h"

struct ScriptRunOptions {
  std::string module_path;
  uint32_t rate = 44100;     // before any rate line
  int32_t chunk = 1024;      // largest Mix call
  std::string wav_path;      // empty: none
  std::string raw_path;      // empty: none
  std::string report_path;   // empty: standard output (standard error when an output is "-")
  double max_seconds = 0;    // > 0: the render stops after this much audio
  RunFiles run_files;        // what the board's register log may not be
  HostSwitchValues switches; // the board's switches as the command line set them
  // A saved state of the board, loaded after the script's leading rate lines, before anything
  // plays; state_in_name (empty: none) names it in messages.
  std::vector<uint8_t> state_in;
  std::string state_in_name;
  std::string state_out_path;  // the board's state after the script; empty: none
};

struct ScriptRunResult {
  uint64_t frames = 0;
  uint32_t wav_rate = 0;
  uint64_t clipped_samples = 0;
  bool clipped_would_be = false;  // only a raw file: clipped_samples a 16-bit output would clip
  int64_t peak_left = 0;
  int64_t peak_right = 0;
  double seconds = 0;         // audio rendered, at the rates in force
  double wall_seconds = 0;    // time taken
  bool cut = false;           // max_seconds stopped the render before the script's end
  std::vector<std::string> notes;  // for the user, also when the run fails ("note: ...")
};

// Returns true on success; otherwise says why in *error ("NAME:LINE: message" for a fault of
// the script). Nothing is written when the script has a fault or its render cannot fit.
bool RunBoardScript(BoardScriptReader& script, const ScriptRunOptions& options,
                    ScriptRunResult* result, std::string* error);
