// The program's one handler of signals, on POSIX systems.
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "output/output_run.h"
#include "output/output_run_platform.h"

namespace {

const TerminalSignals* volatile g_terminal = nullptr;
volatile std::sig_atomic_t* volatile g_interrupt = nullptr;
// The process is ending on a signal: the terminal, put back, is not taken again (by the player's
// key thread, which goes on while another thread runs the handler).
volatile std::sig_atomic_t g_ending = 0;

void PutTerminalBack() {
  if (const TerminalSignals* terminal = g_terminal; terminal != nullptr) terminal->put_back();
}

void Say(const char* text) {
  const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

void Handle(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigfillset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

void Default(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigaction(signal, &action, nullptr);
}

extern "C" void OnStopSignal(int signal) {
  if (signal == SIGINT && g_interrupt != nullptr) {
    PutTerminalBack();
    *g_interrupt = 1;
    return;
  }
  g_ending = 1;
  PutTerminalBack();
  if (signal == SIGQUIT) {
    // Its default action, as it would have been: delivered when this handler returns.
    Default(SIGQUIT);
    raise(SIGQUIT);
    return;
  }
  RemoveTemporaryNames();
  switch (signal) {
    case SIGINT: Say("vorla: interrupted (SIGINT)"); break;
    case SIGTERM: Say("vorla: terminated (SIGTERM)"); break;
    case SIGHUP: Say("vorla: the terminal hung up (SIGHUP)"); break;
    case SIGPIPE: Say("vorla: the reader of an output went away (SIGPIPE)"); break;
    default: Say("vorla: file too large: the file-size limit was reached (SIGXFSZ)"); break;
  }
  Say("; unfinished outputs removed\n");
  PutTerminalBack();  // again: a key thread may have taken it in the meantime
  _exit(128 + signal);
}

extern "C" void OnSuspend(int);

// Back in the foreground with the terminal taken again: Ctrl-Z gives it back as before.
extern "C" void OnContinue(int) {
  const TerminalSignals* terminal = g_terminal;
  if (g_ending == 0 && terminal != nullptr && terminal->take()) Handle(SIGTSTP, OnSuspend);
}

// Ctrl-Z: the shell gets its terminal back as it was, and the process stops as it would have.
extern "C" void OnSuspend(int) {
  PutTerminalBack();
  Default(SIGTSTP);
  sigset_t suspend;
  sigemptyset(&suspend);
  sigaddset(&suspend, SIGTSTP);
  raise(SIGTSTP);
  // The stop comes when this handler unblocks it, below; the process goes on from there.
  sigprocmask(SIG_UNBLOCK, &suspend, nullptr);
}

}  // namespace

void HandleStopSignals() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ}) {
    Handle(signal, OnStopSignal);
  }
}

void SetTerminalSignals(const TerminalSignals* terminal) {
  g_terminal = terminal;
  if (terminal != nullptr) {
    HandleStopSignals();  // also in a program that never called StopSignals
    Handle(SIGCONT, OnContinue);
    Handle(SIGTSTP, OnSuspend);
  } else {
    Default(SIGCONT);
    Default(SIGTSTP);
  }
}

void TakeTerminalAgain() { OnContinue(SIGCONT); }

void SetInterruptFlag(volatile std::sig_atomic_t* flag) {
  g_interrupt = flag;
  if (flag != nullptr) HandleStopSignals();
}
