#include "app/arguments.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// "8000", "0.5", "600": a number as a person writes it.
std::string Plain(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

}  // namespace

bool ParseWhole(const std::string& name, const std::string& text, int64_t min, int64_t max,
                int64_t* value, std::string* error) {
  const std::string range = " (" + std::to_string(min) + " to " + std::to_string(max) + ")";
  size_t i = text.size() > 1 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  const bool digits = i < text.size() && text.find_first_not_of("0123456789", i) == std::string::npos;
  if (!digits) {
    *error = name + ": '" + text + "' is not a whole number" + range;
    return false;
  }
  errno = 0;
  const long long parsed = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || parsed < min || parsed > max) {
    *error = name + ": " + text + " is out of range" + range;
    return false;
  }
  *value = parsed;
  return true;
}

bool ParseDecimal(const std::string& name, const std::string& text, double min, bool min_exclusive,
                  double max, double* value, std::string* error) {
  const std::string range = min_exclusive ? " (more than " + Plain(min) + ", at most " +
                                                Plain(max) + ")"
                                          : " (" + Plain(min) + " to " + Plain(max) + ")";
  const bool plain = !text.empty() &&
                     text.find_first_not_of("0123456789.eE+-") == std::string::npos;
  char* end = nullptr;
  errno = 0;
  const double parsed = plain ? std::strtod(text.c_str(), &end) : 0;
  if (!plain || end != text.c_str() + text.size() || !std::isfinite(parsed)) {
    *error = name + ": '" + text + "' is not a number" + range;
    return false;
  }
  if (parsed < min || (min_exclusive && parsed == min) || parsed > max) {
    *error = name + ": " + text + " is out of range" + range;
    return false;
  }
  *value = parsed;
  return true;
}

std::string NearestWord(const std::string& word, const std::vector<std::string>& known) {
  std::string best;
  size_t best_distance = 3;  // at most two edits away
  for (const std::string& k : known) {
    std::vector<size_t> row(k.size() + 1);
    for (size_t j = 0; j <= k.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= word.size(); ++i) {
      size_t diagonal = row[0];
      row[0] = i;
      for (size_t j = 1; j <= k.size(); ++j) {
        const size_t above = row[j];
        row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (word[i - 1] != k[j - 1])});
        diagonal = above;
      }
    }
    if (row[k.size()] < best_distance) {
      best_distance = row[k.size()];
      best = k;
    }
  }
  return best;
}

std::string RepeatedOption(int argc, char** argv) {
  std::vector<std::string> seen;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") break;
    if (arg.rfind("--", 0) != 0) continue;
    arg = arg.substr(0, arg.find('='));
    if (std::find(seen.begin(), seen.end(), arg) != seen.end()) return arg;
    seen.push_back(arg);
  }
  return "";
}
