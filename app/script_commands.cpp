#include "app/script_commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "app/demo_script.h"
#include "app/messages.h"
#include "output/audio_format.h"
#include "text/clock_text.h"
#include "music/music_reader.h"
#include "output/output_file.h"
#include "script/board_script.h"
#include "script/script_runner.h"
#include "text/shown_text.h"

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

namespace {

void PrintNotes(const std::vector<std::string>& notes) {
  for (const std::string& note : notes) Tell(note);
}

std::string_view AsText(const std::vector<uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

// streamed: the script's bytes when they were read already (a pipe gives them once), or nullptr.
int RenderScriptFile(const std::string& path, const std::vector<uint8_t>* streamed,
                     const ScriptRunOptions& options) {
  const std::vector<std::string> outputs = {options.wav_path, options.raw_path,
                                            options.report_path, options.state_out_path};
  // The board's register log, if it keeps one, may be none of the run's files either.
  ScriptRunOptions run = options;
  run.run_files = {RunReads(path, options.module_path), outputs};
  if (!options.state_in_name.empty()) {
    run.run_files.reads.push_back({options.state_in_name, "the state read (--state-in)"});
  }
  if (const std::string clash = OutputClash(run.run_files.reads, outputs); !clash.empty()) {
    return Fail(clash);
  }
  // A state is a few kilobytes: a larger file is none, and is not read whole.
  constexpr size_t kMaxStateBytes = 1 << 20;
  if (std::string error; !options.state_in_name.empty() &&
                         !ReadFileBytes(options.state_in_name, &run.state_in, &error,
                                        kMaxStateBytes)) {
    return Fail(error);
  }
  FILE* file = nullptr;
  if (streamed == nullptr && (file = std::fopen(path.c_str(), "rb")) == nullptr) {
    return Fail(path + ": cannot open the file: " + std::strerror(errno));
  }
  BoardScriptReader script = file != nullptr ? BoardScriptReader(file, path)
                                             : BoardScriptReader(AsText(*streamed), path);
  ScriptRunResult result;
  std::string error;
  const bool ok = RunBoardScript(script, run, &result, &error);
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
  options.run_files = {RunReads("", options.module_path), {demo_path}};
  if (const std::string clash = OutputClash(options.run_files.reads, {demo_path});
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

// A board script with --log: the host tells the module where to log when it first uses the
// board. A folder named with a trailing slash is made when it is missing (one level, as mkdir
// makes it: true then); one that cannot be made is the module's to report, as any log it cannot
// create, and the run fails.
bool MakeLogFolder(const std::string& log_path) {
  if (const char last = log_path.back(); last == '/' || last == '\\') {
    std::error_code ec;
    return std::filesystem::create_directory(log_path, ec);
  }
  return false;
}
