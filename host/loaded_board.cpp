#include "host/loaded_board.h"

#include <mutex>

bool LoadedBoard::Load(const std::string& module_path, std::string* error) {
  return library_.Open(module_path, error);
}

bool LoadedBoard::Create() { return Create(library_); }

bool LoadedBoard::Create(const ModuleLibrary& library) {
  if (library.create() == nullptr) return false;
  return Create(Factory(library.create()));
}

bool LoadedBoard::Create(const Factory& factory) {
  Release();
  std::lock_guard<std::recursive_mutex> lock(host_.module_lock());
  module_ = factory(&host_);
  return module_ != nullptr;
}

void LoadedBoard::Release() {
  if (module_ == nullptr) return;
  std::lock_guard<std::recursive_mutex> lock(host_.module_lock());
  module_->Release();
  module_ = nullptr;
}
