#include "script/script_runner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/loaded_board.h"
#include "host/reference_host.h"
#include "output/audio_output.h"

namespace {

// How much of a script is rendered: every wait in full, or up to a length in seconds of audio
// (at the rates in force). Both passes over a script count the same way.
class RenderBudget {
 public:
  explicit RenderBudget(double max_seconds) : max_seconds_(max_seconds) {}

  // The part of a wait of `frames` at `rate` that is rendered.
  uint64_t Take(uint64_t frames, uint32_t rate) {
    uint64_t n = frames;
    if (max_seconds_ > 0) {
      const double left = (max_seconds_ - seconds_) * rate;
      n = left <= 0 ? 0 : std::min<uint64_t>(frames, static_cast<uint64_t>(std::llround(left)));
      if (n < frames) cut_ = true;
    }
    frames_ = frames_ > UINT64_MAX - n ? UINT64_MAX : frames_ + n;
    seconds_ += static_cast<double>(n) / rate;
    return n;
  }
  bool cut() const { return cut_; }
  uint64_t frames() const { return frames_; }
  double seconds() const { return seconds_; }

 private:
  double max_seconds_;
  uint64_t frames_ = 0;
  double seconds_ = 0;
  bool cut_ = false;
};

// What the checking pass learns: the rate the WAV file carries (the one in force when the first
// frame is rendered) and how much is rendered.
struct ScriptShape {
  uint32_t wav_rate;
  uint64_t frames;
  double seconds;
};

bool CheckScript(BoardScriptReader& script, const ScriptRunOptions& options, ScriptShape* shape,
                 std::string* error) {
  RenderBudget budget(options.max_seconds);
  uint32_t rate = options.rate;
  bool rate_known = false;
  shape->wav_rate = rate;
  ScriptCommand c;
  // Every line is checked, also past a cut.
  while (script.Next(&c)) {
    if (c.kind == ScriptCommand::kRate) rate = static_cast<uint32_t>(c.args[0]);
    if (c.kind != ScriptCommand::kWait) continue;
    const uint64_t n = budget.Take(static_cast<uint64_t>(c.args[0]), rate);
    if (n > 0 && !rate_known) {
      shape->wav_rate = rate;
      rate_known = true;
    }
  }
  if (!script.error().empty()) {
    *error = script.error();
    return false;
  }
  if (!rate_known) shape->wav_rate = rate;
  shape->frames = budget.frames();
  shape->seconds = budget.seconds();
  return true;
}

// Where the report lines go: standard output, or the file the options name (one of the run's
// outputs, put in place with the others). When the audio goes to standard output ("-"), the
// report goes to standard error.
class ReportFile {
 public:
  explicit ReportFile(const ScriptRunOptions& options) : path_(options.report_path) {
    if (options.wav_path == "-" || options.raw_path == "-") console_ = stderr;
  }

  bool Open(OutputSet* outputs, std::string* error) {
    if (path_.empty()) {
      file_ = console_;
      return true;
    }
    out_ = outputs->Open(path_, error);
    file_ = out_ != nullptr ? out_->stream() : nullptr;
    return file_ != nullptr;
  }
  void Write(const std::string& line) {
    if (std::fprintf(file_, "%s\n", line.c_str()) < 0) failed_ = true;
  }
  // Flushes (a file: closes it, for the set to put in place); a failed write or close is the
  // error unless one was already set.
  void Close(std::string* error) {
    if (file_ == nullptr) return;
    std::string why;
    if (out_ != nullptr) {
      if (!out_->Close(&why) || failed_) failed_ = true;
    } else if (std::fflush(file_) != 0 || std::ferror(file_)) {
      failed_ = true;
    }
    file_ = nullptr;
    if (failed_ && error->empty()) {
      *error = !why.empty() ? why
                            : "cannot write " + (path_.empty() ? std::string("standard output")
                                                               : path_) +
                                  ": " + std::strerror(errno != 0 ? errno : EIO);
    }
  }

 private:
  std::string path_;
  std::FILE* console_ = stdout;
  std::FILE* file_ = nullptr;
  OutputFile* out_ = nullptr;  // held by the run's set
  bool failed_ = false;
};

// The user's 'apply': the page's controls set and applied; false with the reason in *error.
bool ApplyCommand(const ScriptCommand& c, ReferenceHost& host, const ScriptRunOptions& options,
                  std::string* error) {
  int32_t volumes[8], outputs[8];
  for (int i = 0; i < 8; ++i) {
    volumes[i] = static_cast<int32_t>(c.args[i]);
    outputs[i] = static_cast<int32_t>(c.args[8 + i]);
  }
  std::string why;
  if (host.ApplyPage(volumes, outputs, static_cast<int32_t>(c.args[16]), &why)) return true;
  *error = options.module_path + ": line " + std::to_string(c.line) +
           " of the script: 'apply' failed: " + why;
  return false;
}

// The states that the script's save lines keep, and the run's own state to start from.
class ScriptStates {
 public:
  ScriptStates(ReferenceHost& host, const ScriptRunOptions& options, ReportFile& report)
      : host_(host), options_(options), report_(report) {}

  // The run's state, once, before the first line that is not a rate; "" or why it was refused.
  std::string LoadStateIn() {
    if (options_.state_in_name.empty() || state_in_loaded_) return "";
    state_in_loaded_ = true;
    const std::string& name = options_.state_in_name;
    const size_t size = options_.state_in.size();
    const uint32_t expected = host_.DeviceStateSize();
    if (size == 0) return name + ": the file is empty: it is no saved state";
    if (expected == 0) return name + ": the board keeps no state (its save states are off)";
    if (size != expected) {
      return name + ": " + std::to_string(size) + " bytes: not a saved state of this board " +
             "(its states are " + std::to_string(expected) + " bytes)";
    }
    if (!host_.LoadDeviceState(options_.state_in)) {
      return name + ": not a saved state of this board: damaged, or made by another program " +
             "or version";
    }
    return "";
  }

  // A save or load line; "" or what went wrong.
  std::string SaveOrLoad(const ScriptCommand& c) {
    const int slot = static_cast<int>(c.args[0]);
    const std::string what = (c.kind == ScriptCommand::kSave ? "save " : "load ") +
                             std::to_string(slot);
    if (c.kind == ScriptCommand::kSave) {
      if (!host_.SaveDeviceState(&slots_[slot])) {
        slots_[slot].clear();
        report_.Write(what + ": the board keeps no state");
      }
      return "";
    }
    if (slots_[slot].empty()) {
      report_.Write(what + ": the board keeps no state; nothing changed");
      return "";
    }
    if (host_.LoadDeviceState(slots_[slot])) return "";
    return options_.module_path + ": line " + std::to_string(c.line) +
           " of the script: the board refused the state it saved in slot " +
           std::to_string(slot);
  }

 private:
  ReferenceHost& host_;
  const ScriptRunOptions& options_;
  ReportFile& report_;
  std::vector<uint8_t> slots_[BoardScriptReader::kSlots];
  bool state_in_loaded_ = false;
};

// Plays the script's commands on the board until its end, the budget's cut, a stopped host or an
// error. A rate change after rendering began leaves one note in result->notes when a WAV file,
// which carries one rate, is written.
void PlayCommands(BoardScriptReader& script, ReferenceHost& host, const ScriptRunOptions& options,
                  uint32_t wav_rate, RenderBudget* budget, ScriptStates* states,
                  ScriptRunResult* result, std::string* error) {
  bool rate_note = false;
  ScriptCommand c;
  while (!budget->cut() && !host.stopped() && error->empty() && script.Next(&c)) {
    if (c.kind != ScriptCommand::kRate && !(*error = states->LoadStateIn()).empty()) break;
    switch (c.kind) {
      case ScriptCommand::kRate:
        if (host.frames_rendered() > 0 && static_cast<uint32_t>(c.args[0]) != wav_rate &&
            !options.wav_path.empty() && !rate_note) {
          result->notes.push_back("note: line " + std::to_string(c.line) +
                                  " changes the rate after rendering began; the WAV file is "
                                  "labelled " + std::to_string(wav_rate) + " Hz");
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
        host.Wait(budget->Take(static_cast<uint64_t>(c.args[0]), host.rate()));
        break;
      case ScriptCommand::kApply:
        ApplyCommand(c, host, options, error);
        break;
      case ScriptCommand::kSave:
      case ScriptCommand::kLoad:
        *error = states->SaveOrLoad(c);
        break;
    }
  }
  // A script of rate lines alone still starts from the state.
  if (error->empty()) *error = states->LoadStateIn();
}

// The board's state after the script, into the run's file for it; false with the reason.
bool WriteStateOut(ReferenceHost& host, OutputFile* file, const std::string& path,
                   std::string* error) {
  std::vector<uint8_t> state;
  if (!host.SaveDeviceState(&state)) {
    *error = "cannot write " + path + ": the board keeps no state (its save states are off)";
    return false;
  }
  if (std::fwrite(state.data(), 1, state.size(), file->stream()) != state.size()) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return file->Close(error);
}

// The script's first pass: every line checked, the length known, the WAV file's limit kept, and
// the script rewound for the pass that plays it.
bool PrepareScript(BoardScriptReader& script, const ScriptRunOptions& options, ScriptShape* shape,
                   std::string* error) {
  if (!CheckScript(script, options, shape, error)) return false;
  if (!options.wav_path.empty() && shape->frames > AudioOutput::kMaxWavFrames) {
    *error = TooLongForWav(options.wav_path, shape->frames, shape->seconds, shape->wav_rate);
    return false;
  }
  if (!script.Rewind()) {
    *error = script.error();
    return false;
  }
  return true;
}

bool OpenOutputs(const ScriptRunOptions& options, const ScriptShape& shape, AudioOutput* output,
                 std::string* error) {
  return (options.wav_path.empty() ||
          output->OpenWav(options.wav_path, shape.wav_rate, shape.frames, error)) &&
         (options.raw_path.empty() || output->OpenRaw(options.raw_path, error));
}

void TakeLevels(const AudioOutput& output, const RenderBudget& budget, ScriptRunResult* result) {
  result->frames = output.frames();
  result->clipped_samples = output.clipped_samples();
  result->clipped_would_be = output.clipped_would_be();
  result->peak_left = output.peak_left();
  result->peak_right = output.peak_right();
  result->seconds = budget.seconds();
  result->cut = budget.cut();
}

}  // namespace

bool RunBoardScript(BoardScriptReader& script, const ScriptRunOptions& options,
                    ScriptRunResult* result, std::string* error) {
  ScriptShape shape{};
  if (!PrepareScript(script, options, &shape, error)) return false;
  result->wav_rate = shape.wav_rate;

  LoadedBoard board;
  if (!board.Load(options.module_path, error)) return false;
  // Every output of the run is put in place at its end, or none.
  OutputSet outputs;
  ReportFile report(options);
  AudioOutput output(&outputs);
  OutputFile* state_out = nullptr;
  if (!report.Open(&outputs, error) || !OpenOutputs(options, shape, &output, error) ||
      (!options.state_out_path.empty() &&
       (state_out = outputs.Open(options.state_out_path, error)) == nullptr)) {
    report.Close(error);
    return false;
  }

  ReferenceHost& host = board.host();
  host.set_chunk(options.chunk);
  host.SetRate(options.rate);
  host.set_run_files(options.run_files);
  host.set_switches(options.switches);
  host.set_frame_sink([&](const StereoFrame* frames, int32_t count) {
    return output.Write(frames, count);
  });
  host.set_report_sink([&](const std::string& line) { report.Write(line); });

  const auto start = std::chrono::steady_clock::now();
  if (!board.Create()) {
    *error = "VyxCreateModule of " + options.module_path +
             " returned null (the board refused to bind)";
    report.Close(error);
    return false;
  }
  RenderBudget budget(options.max_seconds);
  ScriptStates states(host, options, report);
  // A file the board was asked to write and could not make ends the run at once.
  host.UseDevice();
  if (host.file_failure().empty()) {
    PlayCommands(script, host, options, shape.wav_rate, &budget, &states, result, error);
  }
  if (error->empty() && state_out != nullptr) {
    WriteStateOut(host, state_out, options.state_out_path, error);
  }
  board.Release();
  result->wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (error->empty() && !script.error().empty()) *error = script.error();
  if (error->empty() && host.stopped()) *error = output.error();
  if (error->empty()) *error = host.file_failure();
  report.Close(error);

  TakeLevels(output, budget, result);
  if (!error->empty()) return false;
  return output.Close(error) && outputs.Commit(error);
}
