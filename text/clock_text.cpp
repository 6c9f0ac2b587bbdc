#include "text/clock_text.h"

#include <cstdio>

std::string FormatClock(double seconds) {
  if (!(seconds > 0)) seconds = 0;  // also NaN
  char text[64];
  if (seconds < 3600) {
    const auto total_cs = static_cast<long long>(seconds * 100.0 + 0.5);
    std::snprintf(text, sizeof text, "%lld:%02lld.%02lld", total_cs / 6000, (total_cs / 100) % 60,
                  total_cs % 100);
  } else if (seconds < 86400.0 * 1e6) {
    const auto total = static_cast<long long>(seconds + 0.5);
    const long long days = total / 86400;
    const long long rest = total % 86400;
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", rest / 3600, (rest / 60) % 60,
                  rest % 60);
    if (days > 0) return std::to_string(days) + (days == 1 ? " day " : " days ") + text;
  } else {  // no clock face past 2,700 years
    std::snprintf(text, sizeof text, "about %.3g years", seconds / (86400.0 * 365.25));
  }
  return text;
}
