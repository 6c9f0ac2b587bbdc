// The built-in demo: a board script composed in code, a short tune on the board's voices.
#pragma once

#include <string>

std::string DemoScript();
