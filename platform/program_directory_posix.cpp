#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "platform/program_directory.h"

std::string ProgramPath() {
  char buffer[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string ProgramDirectory() {
  const std::string exe = ProgramPath();
  size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string("./") : exe.substr(0, slash + 1);
}

std::string HostSettingsPath() { return ProgramDirectory() + "VYX.INI"; }

std::string ModuleFilePath(void* instance) {
  Dl_info info{};
  if (instance == nullptr || dladdr(instance, &info) == 0 || info.dli_fname == nullptr) return "";
  return info.dli_fname;
}
