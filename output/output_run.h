// The parts of the door that belong to a whole run of the program, not to a file: the temporary
// names a signal handler removes, and files that another part of the run (the module's register
// log) completed, awaiting the run's end. The program links these; the module file does not.
#pragma once

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

// From here on every temporary name the door makes is held, and SIGINT, SIGTERM, SIGHUP,
// SIGPIPE and SIGXFSZ (those the platform has) remove the temporary files and end the process
// with "vorla: ..." on standard error and status 128 + the signal ("file too large" for
// SIGXFSZ).
void StopSignals();
