// The built vorla program, run as a user runs it. Each instance works in a private copy of the
// program and the module file, so that the board's settings file ("VYX.INI" beside the program)
// starts from the defaults and no two tests share one.
#pragma once

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/temp_dir.h"

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

class VorlaProgram {
 public:
  VorlaProgram() {
    std::filesystem::copy_file(VORLA_PROGRAM, dir_.File("vorla"));
    std::filesystem::copy_file(VORLA_MODULE, dir_.File("Vorla.vyx"));
  }
  std::string File(const std::string& name) const { return dir_.File(name); }

  // Runs vorla in its folder with the arguments (and environment assignments before it).
  ProgramRun Exec(const std::string& args, const std::string& env = "") {
    ProgramRun run;
    const std::string command = "cd '" + dir_.path() + "' && " + env + " './vorla' " + args +
                                " 2>'" + File("stderr.txt") + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = ReadAll(File("stderr.txt"));
    return run;
  }

 private:
  TempDir dir_;
};

// The samples of a WAV file: its data chunk's bytes (a tagged song's file has a LIST chunk
// before them).
inline std::string WavData(const std::string& path) {
  const std::string bytes = ReadAll(path);
  auto le32 = [&bytes](size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
    return v;
  };
  for (size_t at = 12; at + 8 <= bytes.size(); at += 8 + ((le32(at + 4) + 1) & ~1u)) {
    if (bytes.compare(at, 4, "data") == 0) return bytes.substr(at + 8, le32(at + 4));
  }
  return "";
}

// The 16-bit samples of a WAV file written by vorla, interleaved.
inline std::vector<int16_t> WavSamples(const std::string& path) {
  const std::string bytes = WavData(path);
  std::vector<int16_t> s(bytes.size() / 2);
  for (size_t i = 0; i < s.size(); ++i) {
    s[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
  }
  return s;
}
