#include <cstdlib>

#include "platform/environment.h"

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

bool SetEnvironmentValue(const char* name, const std::string& value) {
  return (value.empty() ? unsetenv(name) : setenv(name, value.c_str(), 1)) == 0;
}
