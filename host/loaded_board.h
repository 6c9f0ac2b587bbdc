// A board on a reference host, as the emulator holds one: the module file's library loaded, the
// module created on the host and, when the board goes, released. Creation and release both run
// under the host's module lock, so that no other thread is inside the module meanwhile.
#pragma once

#include <functional>
#include <string>

#include "host/module_loader.h"
#include "host/reference_host.h"
#include "vyx/vyx.h"

class LoadedBoard {
 public:
  // Makes the module on a host: a library's VyxCreateModule, or a module linked into the
  // program.
  using Factory = std::function<VyxModule*(HostSystem* host)>;

  LoadedBoard() = default;
  ~LoadedBoard() { Release(); }
  LoadedBoard(const LoadedBoard&) = delete;
  LoadedBoard& operator=(const LoadedBoard&) = delete;

  // Loads the module file for Create(); on failure says why in *error.
  bool Load(const std::string& module_path, std::string* error);

  // The host, to be set up (rate, chunk, sinks) before the module is created and driven after.
  ReferenceHost& host() { return host_; }

  // Creates the module: from the file Load loaded, from a library loaded elsewhere (which must
  // outlive the board), or by a factory. False when the module refuses (returns null).
  bool Create();
  bool Create(const ModuleLibrary& library);
  bool Create(const Factory& factory);

  // Releases the module, if one was created; the destructor does it otherwise.
  void Release();

  VyxModule* module() const { return module_; }

 private:
  // Declared first, destroyed last: the module's code stays loaded until it is released.
  ModuleLibrary library_;
  ReferenceHost host_;
  VyxModule* module_ = nullptr;
};
