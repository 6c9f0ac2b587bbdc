// The parts of the door that belong to a whole run of the program, not to a file: the temporary
// names a signal handler removes, and files that another part of the run (the module's register
// log) completed, awaiting the run's end. The program links these; the module file does not.
#pragma once

#include <csignal>
#include <string>

// Files that another part of the run (the module's register log) completed under a temporary
// name: put in place by CommitAwaited when the run succeeds, removed by DiscardAwaited when it
// fails (or by a signal, as every temporary name held).
void AwaitCommit(const std::string& temporary, const std::string& place);
bool CommitAwaited(std::string* error);
void DiscardAwaited();

// The list of temporary names a signal handler removes. Hold: false when the list is full.
bool HoldTemporaryName(const std::string& path);
void ReleaseTemporaryName(const std::string& path);
// Removes every name held; safe inside a signal handler.
void RemoveTemporaryNames();

// The program's one handler of signals (output_run_posix.cpp, output_run_win32.cpp). From
// StopSignals on, every temporary name the door makes is held, and on SIGINT, SIGTERM, SIGHUP,
// SIGQUIT, SIGPIPE and SIGXFSZ (those the platform has):
//   1. the terminal is put back, while the player holds it (SetTerminalSignals);
//   2. a SIGINT while an interrupt flag is set (SetInterruptFlag) sets it, and the run goes on
//      to end as it chooses;
//   3. SIGQUIT takes its default action;
//   4. any other removes the temporary files and ends the process with "vorla: ..." on standard
//      error and status 128 + the signal ("file too large" for SIGXFSZ).
// While the player holds the terminal, Ctrl-Z (SIGTSTP) gives the shell the terminal as it was
// and stops the process; SIGCONT takes it again.
void StopSignals();

// What the player does with the terminal it holds; each function safe inside a signal handler.
struct TerminalSignals {
  void (*put_back)();  // the terminal's settings as they were; keys typed and not read dropped
  bool (*take)();      // the player's settings again; false when the terminal is not its own now
};
// The terminal the player holds, or null when it holds none.
void SetTerminalSignals(const TerminalSignals* terminal);
// Takes the terminal again as a SIGCONT does (a player that finds it given back late).
void TakeTerminalAgain();
// While flag is not null, SIGINT sets it instead of ending the run.
void SetInterruptFlag(volatile std::sig_atomic_t* flag);
