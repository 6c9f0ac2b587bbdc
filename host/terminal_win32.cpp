#include <io.h>

#include <cstdio>

#include "host/terminal.h"

bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }
