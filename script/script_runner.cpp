#include "script/script_runner.h"

#include <chrono>
#include <cstdio>
#include <mutex>

#include "host/module_loader.h"
#include "host/reference_host.h"
#include "player/audio_output.h"

namespace {

// The rate in force when the first frame is rendered: the WAV file carries it.
uint32_t FirstRenderRate(const BoardScript& script, uint32_t rate) {
  for (const ScriptCommand& c : script.commands) {
    if (c.kind == ScriptCommand::kWait && c.args[0] > 0) break;
    if (c.kind == ScriptCommand::kRate) rate = static_cast<uint32_t>(c.args[0]);
  }
  return rate;
}

}  // namespace

int RunBoardScript(const BoardScript& script, const ScriptRunOptions& options,
                   ScriptRunResult* result, std::string* error) {
  ModuleLibrary library;
  if (!library.Open(options.module_path, error)) return 1;

  FILE* report = stdout;
  if (!options.report_path.empty()) {
    report = std::fopen(options.report_path.c_str(), "w");
    if (report == nullptr) {
      *error = "cannot write " + options.report_path;
      return 1;
    }
  }
  auto close_report = [&] {
    if (report != stdout) std::fclose(report);
  };

  AudioOutput output;
  result->wav_rate = FirstRenderRate(script, options.rate);
  if ((!options.wav_path.empty() && !output.OpenWav(options.wav_path, result->wav_rate, error)) ||
      (!options.raw_path.empty() && !output.OpenRaw(options.raw_path, error))) {
    close_report();
    return 1;
  }

  ReferenceHost host;
  host.set_chunk(options.chunk);
  host.SetRate(options.rate);
  double seconds = 0;
  host.set_frame_sink([&](const StereoFrame* frames, int32_t count) {
    output.Write(frames, count);
    seconds += static_cast<double>(count) / host.rate();
  });
  host.set_report_sink([&](const std::string& line) { std::fprintf(report, "%s\n", line.c_str()); });

  const auto start = std::chrono::steady_clock::now();
  VyxModule* module = nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(host.module_lock());
    module = library.create()(&host);
  }
  if (module == nullptr) {
    *error = "VyxCreateModule of " + options.module_path + " returned null (the board refused to bind)";
    close_report();
    return 1;
  }
  bool rate_note = false;
  for (const ScriptCommand& c : script.commands) {
    switch (c.kind) {
      case ScriptCommand::kRate:
        if (host.frames_rendered() > 0 && static_cast<uint32_t>(c.args[0]) != result->wav_rate &&
            !options.wav_path.empty() && !rate_note) {
          std::fprintf(stderr, "note: line %d changes the rate after rendering began; the WAV file "
                       "is labelled %u Hz\n", c.line, result->wav_rate);
          rate_note = true;
        }
        host.SetRate(static_cast<uint32_t>(c.args[0]));
        break;
      case ScriptCommand::kOut:
        host.PortOut(static_cast<uint32_t>(c.args[0]), static_cast<uint32_t>(c.args[1]));
        break;
      case ScriptCommand::kIn:
        host.PortIn(static_cast<uint32_t>(c.args[0]));
        break;
      case ScriptCommand::kWait:
        host.Wait(static_cast<uint64_t>(c.args[0]));
        break;
      case ScriptCommand::kApply: {
        int32_t volumes[8], outputs[8];
        for (int i = 0; i < 8; ++i) {
          volumes[i] = static_cast<int32_t>(c.args[i]);
          outputs[i] = static_cast<int32_t>(c.args[8 + i]);
        }
        if (!host.ApplyPage(volumes, outputs, static_cast<int32_t>(c.args[16]))) {
          std::fprintf(stderr, "note: line %d: the module offered no configuration page; "
                       "'apply' did nothing\n", c.line);
        }
        break;
      }
    }
  }
  {
    std::lock_guard<std::recursive_mutex> lock(host.module_lock());
    module->Release();
  }
  result->wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  close_report();

  result->frames = output.frames();
  result->clipped_samples = output.clipped_samples();
  result->peak_left = output.peak_left();
  result->peak_right = output.peak_right();
  result->seconds = seconds;
  return output.Close(error) ? 0 : 1;
}
