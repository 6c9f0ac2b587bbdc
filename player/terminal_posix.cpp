#include <unistd.h>

#include "player/terminal.h"

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) != 0; }
