#include <dlfcn.h>
#include <elf.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "host/module_loader.h"

namespace {

// The ELF header and the tables the loader maps, for this process's class.
#if UINTPTR_MAX > 0xFFFFFFFFu
using ElfHeader = Elf64_Ehdr;
using ProgramHeader = Elf64_Phdr;
constexpr unsigned char kClass = ELFCLASS64;
#else
using ElfHeader = Elf32_Ehdr;
using ProgramHeader = Elf32_Phdr;
constexpr unsigned char kClass = ELFCLASS32;
#endif

// Whether the file is a whole shared object of this process's kind; the loader maps a file that
// is cut off and the process dies when it touches the missing part, so a cut-off file must never
// reach it.
bool CheckSharedObject(const std::string& path, std::string* why) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) {
    *why = std::filesystem::is_directory(path) ? "it is a folder" : ec.message();
    return false;
  }
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *why = std::strerror(errno);
    return false;
  }
  bool ok = false;
  ElfHeader header{};
  if (std::fread(&header, sizeof header, 1, f) != 1 ||
      std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
    *why = "not a shared object (no ELF header)";
  } else if (header.e_ident[EI_CLASS] != kClass || header.e_type != ET_DYN) {
    *why = "not a shared object of this machine's kind";
  } else {
    ok = true;
    uint64_t needed = uint64_t{header.e_phoff} + uint64_t{header.e_phnum} * sizeof(ProgramHeader);
    for (unsigned i = 0; ok && i < header.e_phnum; ++i) {
      ProgramHeader segment{};
      ok = std::fseek(f, static_cast<long>(header.e_phoff + i * sizeof segment), SEEK_SET) == 0 &&
           std::fread(&segment, sizeof segment, 1, f) == 1;
      if (ok) needed = std::max<uint64_t>(needed, uint64_t{segment.p_offset} + segment.p_filesz);
    }
    if (header.e_shnum != 0) {
      needed = std::max<uint64_t>(needed, uint64_t{header.e_shoff} +
                                              uint64_t{header.e_shnum} * header.e_shentsize);
    }
    if (!ok || needed > size) {
      *why = "the file is cut off (it has " + std::to_string(size) + " bytes, its contents need " +
             std::to_string(needed) + ")";
      ok = false;
    }
  }
  std::fclose(f);
  return ok;
}

}  // namespace

ModuleLibrary::~ModuleLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

bool ModuleLibrary::Open(const std::string& path, std::string* error) {
  std::string why;
  if (!CheckSharedObject(path, &why)) {
    *error = "cannot load module file " + path + ": " + why;
    return false;
  }
  // dlopen searches the library path for a bare name; a module is always named by path.
  std::string name = path.find('/') == std::string::npos ? "./" + path : path;
  handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    *error = "cannot load module file " + path + ": " + (reason ? reason : "unknown error");
    return false;
  }
  void* symbol = dlsym(handle_, "VyxCreateModule");
  if (symbol == nullptr) {
    *error = "module file " + path + " has no VyxCreateModule export";
    return false;
  }
  create_ = reinterpret_cast<VyxCreateModuleFn>(symbol);
  return true;
}
