// One run of the reference host: load the module file, create the board, play a board script
// into the outputs, release the board.
#pragma once

#include <cstdint>
#include <string>

#include "host/board_script.h"

struct SessionOptions {
  std::string module_path;
  uint32_t rate = 44100;     // before any rate line
  int32_t chunk = 1024;      // largest Mix call
  std::string wav_path;      // empty: none
  std::string raw_path;      // empty: none
  std::string report_path;   // empty: standard output
};

struct SessionResult {
  uint64_t frames = 0;
  uint32_t wav_rate = 0;
  uint64_t clipped_samples = 0;
  int64_t peak_left = 0;
  int64_t peak_right = 0;
  double seconds = 0;         // audio rendered, at the rates in force
  double wall_seconds = 0;    // time taken
};

// Returns 0 on success; otherwise prints nothing and says why in *error.
int RunSession(const BoardScript& script, const SessionOptions& options, SessionResult* result,
               std::string* error);
