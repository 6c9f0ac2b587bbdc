#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "output/output_run.h"
#include "output/output_run_platform.h"

namespace {

void Say(const char* text) {
  const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

extern "C" void OnStopSignal(int signal) {
  RemoveTemporaryNames();
  switch (signal) {
    case SIGINT: Say("vorla: interrupted (SIGINT)"); break;
    case SIGTERM: Say("vorla: terminated (SIGTERM)"); break;
    case SIGHUP: Say("vorla: the terminal hung up (SIGHUP)"); break;
    case SIGPIPE: Say("vorla: the reader of an output went away (SIGPIPE)"); break;
    default: Say("vorla: file too large: the file-size limit was reached (SIGXFSZ)"); break;
  }
  Say("; unfinished outputs removed\n");
  _exit(128 + signal);
}

}  // namespace

void HandleStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigfillset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) {
    sigaction(signal, &action, nullptr);
  }
}
