// The process environment, read by the module (VORLA_LOG, VORLA_FMTIMERS, VORLA_SAVESTATES,
// VORLA_CHIPSOUND: the user's switches) and set by the tests' own set-up (VORLA_SYSFS).
#pragma once

#include <string>

// The variable's value; empty when it is not set.
std::string EnvironmentValue(const char* name);
// Sets (an empty value: removes) the variable for this process; false when refused.
bool SetEnvironmentValue(const char* name, const std::string& value);

// Standard input, output or error closed when the process started (`vorla ... >&-`) is opened
// on the null device, so that the first file the program opens cannot take its number and get
// the messages meant for it.
void OpenClosedStandardStreams();
