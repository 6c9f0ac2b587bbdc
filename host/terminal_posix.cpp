#include <unistd.h>

#include "host/terminal.h"

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) != 0; }
