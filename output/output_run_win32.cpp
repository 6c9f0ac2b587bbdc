#include <io.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "output/output_run.h"
#include "output/output_run_platform.h"

namespace {

extern "C" void OnStopSignal(int signal) {
  RemoveTemporaryNames();
  const char* text = signal == SIGINT ? "vorla: interrupted (SIGINT); unfinished outputs removed\n"
                                      : "vorla: terminated (SIGTERM); unfinished outputs removed\n";
  _write(2, text, static_cast<unsigned>(std::strlen(text)));
  _exit(128 + signal);
}

}  // namespace

void HandleStopSignals() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
}
