// The program's one handler of signals, on Windows: SIGINT (Ctrl-C) and SIGTERM.
#include <io.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "output/output_run.h"
#include "output/output_run_platform.h"

namespace {

const TerminalSignals* volatile g_terminal = nullptr;
volatile std::sig_atomic_t* volatile g_interrupt = nullptr;

extern "C" void OnStopSignal(int signal) {
  if (const TerminalSignals* terminal = g_terminal; terminal != nullptr) terminal->put_back();
  if (signal == SIGINT && g_interrupt != nullptr) {
    *g_interrupt = 1;
    std::signal(SIGINT, OnStopSignal);  // the handler is reset before it is called
    return;
  }
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

void SetTerminalSignals(const TerminalSignals* terminal) {
  g_terminal = terminal;
  if (terminal != nullptr) HandleStopSignals();
}

// A console has no background jobs: it is never given back and taken again.
void TakeTerminalAgain() {}

void SetInterruptFlag(volatile std::sig_atomic_t* flag) {
  g_interrupt = flag;
  if (flag != nullptr) HandleStopSignals();
}
