// The platform's side of a run's signal handling (output_run_posix.cpp, output_run_win32.cpp).
#pragma once

// Installs the handlers of StopSignals: they remove the held temporary names, say why and end
// the process with 128 + the signal.
void HandleStopSignals();
