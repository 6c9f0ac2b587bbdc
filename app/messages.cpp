#include "app/messages.h"

#include <algorithm>

#include "platform/program_directory.h"
#include "text/shown_text.h"

// What the program says besides its outputs: standard output, or standard error when an output
// goes to standard output ("-").
std::FILE* g_says = stdout;

void SayOnStandardError(const std::vector<std::string>& outputs) {
  if (std::find(outputs.begin(), outputs.end(), "-") != outputs.end()) g_says = stderr;
}

// The files a run reads or has loaded, which none of its outputs may be.
std::vector<RunFile> RunReads(const std::string& input, const std::string& module_path) {
  return {{input, "the input"},
          {module_path, "the module file"},
          {ProgramPath(), "the program"},
          {HostSettingsPath(), "the settings file"}};
}

double Dbfs(int64_t peak) {
  return peak > 0 ? 20.0 * std::log10(static_cast<double>(peak) / 32768.0) : -INFINITY;
}

// "vorla: message" on standard error, one line: paths and names in it may come from anywhere.
void Tell(const std::string& message) {
  std::fprintf(stderr, "vorla: %s\n", ShownText(message).c_str());
}

int Fail(const std::string& message) {
  Tell(message);
  return kFailed;
}

int Usage(const std::string& message) {
  Tell(message);
  return kUsage;
}
