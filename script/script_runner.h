// Plays a board script through the module file: load the module file, create the board, play
// the script into the outputs, release the board.
#pragma once

#include <cstdint>
#include <string>

#include "script/board_script.h"

struct ScriptRunOptions {
  std::string module_path;
  uint32_t rate = 44100;     // before any rate line
  int32_t chunk = 1024;      // largest Mix call
  std::string wav_path;      // empty: none
  std::string raw_path;      // empty: none
  std::string report_path;   // empty: standard output
};

struct ScriptRunResult {
  uint64_t frames = 0;
  uint32_t wav_rate = 0;
  uint64_t clipped_samples = 0;
  int64_t peak_left = 0;
  int64_t peak_right = 0;
  double seconds = 0;         // audio rendered, at the rates in force
  double wall_seconds = 0;    // time taken
};

// Returns 0 on success; otherwise prints nothing and says why in *error.
int RunBoardScript(const BoardScript& script, const ScriptRunOptions& options,
                   ScriptRunResult* result, std::string* error);
