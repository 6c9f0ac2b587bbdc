// Where the host program lives: the settings file "VYX.INI" sits there, and the reference host
// finds the module file beside itself. Shared by the module and the host.
#pragma once

#include <string>

// The directory of the running program (the process's main executable, not a loaded module and
// not the current directory), with a trailing separator; "./" (".\" on Windows) when unknown.
std::string ProgramDirectory();

// The running program's own file; empty when unknown.
std::string ProgramPath();

// The file of a loaded module, from its instance handle (its base address); empty when unknown.
std::string ModuleFilePath(void* instance);

// The host's settings file: "VYX.INI" in that directory.
std::string HostSettingsPath();
