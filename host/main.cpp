// vorla: the reference host. Loads a module file as the emulator does and plays board scripts
// through it.
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "host/board_script.h"
#include "host/demo_script.h"
#include "host/module_loader.h"
#include "host/session.h"

namespace {

bool ReadFile(const std::string& path, std::string* text, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot open the file";
    return false;
  }
  std::ostringstream s;
  s << in.rdbuf();
  *text = s.str();
  return true;
}

double Dbfs(int64_t peak) {
  return peak > 0 ? 20.0 * std::log10(static_cast<double>(peak) / 32768.0) : -INFINITY;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "vorla: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vorla: plays board scripts through the Vorla module file"};
  app.require_subcommand(1);
  std::string module_path = ProgramDirectory() + "Vorla.vyx";
  app.add_option("--module", module_path, "module file to load (default: Vorla.vyx beside vorla)");

  SessionOptions options;
  std::string script_path;
  CLI::App* render = app.add_subcommand("render", "render a board script");
  render->add_option("script", script_path, "board script (.board)")->required();
  render->add_option("--rate", options.rate, "output rate before any 'rate' line")
      ->check(CLI::Range(8000, 192000));
  render->add_option("--chunk", options.chunk, "largest Mix call, in frames")
      ->check(CLI::Range(1, 1 << 20));
  render->add_option("-o,--output", options.wav_path, "16-bit stereo WAV file");
  render->add_option("--raw", options.raw_path, "raw little-endian int32 left/right pairs");
  render->add_option("--report", options.report_path, "report file (default: standard output)");

  std::string demo_path = "demo.wav";
  CLI::App* demo = app.add_subcommand("demo", "render the built-in demo to a WAV file");
  demo->add_option("-o,--output", demo_path, "WAV file to write");

  CLI11_PARSE(app, argc, argv);
  options.module_path = module_path;

  BoardScript script;
  std::string error;
  if (render->parsed()) {
    std::string text;
    if (!ReadFile(script_path, &text, &error)) return Fail(error);
    if (!ParseBoardScript(text, script_path, &script, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 2;
    }
    SessionResult result;
    if (RunSession(script, options, &result, &error) != 0) return Fail(error);
    if (!options.wav_path.empty()) {
      std::fprintf(stderr, "%s: %llu frames at %u Hz, %llu clipped samples\n",
                   options.wav_path.c_str(), static_cast<unsigned long long>(result.frames),
                   result.wav_rate, static_cast<unsigned long long>(result.clipped_samples));
    }
    return 0;
  }

  // demo
  if (!ParseBoardScript(DemoScript(), "demo", &script, &error)) return Fail(error);
  options.wav_path = demo_path;
  SessionResult result;
  if (RunSession(script, options, &result, &error) != 0) return Fail(error);
  std::printf("wrote %s: %.2f s of 16-bit stereo at %u Hz\n", demo_path.c_str(), result.seconds,
              result.wav_rate);
  std::printf("peak left %lld (%.1f dBFS), right %lld (%.1f dBFS), %llu clipped samples\n",
              static_cast<long long>(result.peak_left), Dbfs(result.peak_left),
              static_cast<long long>(result.peak_right), Dbfs(result.peak_right),
              static_cast<unsigned long long>(result.clipped_samples));
  std::printf("rendered in %.3f s: %.0fx real time\n", result.wall_seconds,
              result.wall_seconds > 0 ? result.seconds / result.wall_seconds : 0.0);
  return 0;
}
