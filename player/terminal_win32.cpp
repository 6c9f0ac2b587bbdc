#include <io.h>

#include <cstdio>

#include "player/terminal.h"

bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }
