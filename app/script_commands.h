// Board scripts and the built-in demo, run through the module file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "script/script_runner.h"

// Board scripts and the demo write 16-bit WAV only; "" or why the name does not suit.
std::string CheckScriptWav(const std::string& path);

// Runs a board script; the exit status.
// streamed: the script's bytes when they were read already (a pipe gives them once), or nullptr.
int RenderScriptFile(const std::string& path, const std::vector<uint8_t>* streamed,
                     const ScriptRunOptions& options);

// Renders the built-in demo to demo_path; the exit status.
int RunDemo(ScriptRunOptions options, const std::string& demo_path);

// A board script with --log (the host tells the module where to log when it first uses the
// board): a trailing slash names a folder, made when missing; true when this call made it.
bool MakeLogFolder(const std::string& log_path);
