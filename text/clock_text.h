// Durations as people read them in messages and progress lines.
#pragma once

#include <string>

// "1:23.45" under an hour, "1:02:03" under a day, "2 days 1:02:03" beyond, and "about N years"
// where no clock face fits.
std::string FormatClock(double seconds);
