// The process environment, read by the module (VORLA_LOG, the register log it keeps) and set by
// the reference host for the module it loads. Both sides use the same platform calls, so that a
// value the host sets is the value the module reads.
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
