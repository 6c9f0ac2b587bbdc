// Whether standard output is a terminal (a live status line) or a pipe or file (nothing).
#pragma once

bool StdoutIsTerminal();
