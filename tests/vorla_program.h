// The built vorla program, run as a user runs it. Each instance works in a private copy of the
// program and the module file, so that the board's settings file ("VYX.INI" beside the program)
// starts from the defaults and no two tests share one.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

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
