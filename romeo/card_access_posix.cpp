#include "romeo/card_access_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

constexpr uint64_t kResourceMemory = 0x200;  // IORESOURCE_MEM in a `resource` line's flags

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* entry = readdir(d)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  // The kernel lists devices in bus order; sorting keeps "the first" the same on every run.
  std::sort(names.begin(), names.end());
  return names;
}

// A sysfs ID file: one hexadecimal number such as "0x6809".
bool ReadHexFile(const std::string& path, uint32_t* value) {
  std::ifstream in(path);
  std::string text;
  if (!(in >> text)) return false;
  char* end = nullptr;
  unsigned long parsed = std::strtoul(text.c_str(), &end, 16);
  if (end == text.c_str()) return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

}  // namespace

PosixCardAccess::PosixCardAccess(std::string sysfs_root) : root_(std::move(sysfs_root)) {}

PosixCardAccess::~PosixCardAccess() {
  for (Device& device : devices_) {
    for (Window& window : device.windows) {
      if (window.map != nullptr) munmap(window.map, window.mapped);
    }
  }
}

bool PosixCardAccess::OpenPciAccess() {
  if (loaded_) return true;
  DIR* d = opendir(DevicesDir().c_str());
  if (d == nullptr) return false;
  closedir(d);
  loaded_ = true;
  return true;
}

uint32_t PosixCardAccess::FindPciDevice(uint32_t vendor, uint32_t device, uint32_t index) {
  uint32_t matches = 0;
  for (const std::string& name : ListDir(DevicesDir())) {
    const std::string path = DevicesDir() + "/" + name;
    uint32_t v = 0, d = 0;
    if (!ReadHexFile(path + "/vendor", &v) || !ReadHexFile(path + "/device", &d)) continue;
    if (v != vendor || d != device) continue;
    if (matches++ == index) return Remember(path);
  }
  return kNotFound;
}

uint32_t PosixCardAccess::Remember(const std::string& path) {
  for (size_t i = 0; i < devices_.size(); ++i) {
    if (devices_[i].path == path) return static_cast<uint32_t>(i) << 16;
  }
  if (devices_.size() > 0xFFFF) return kNotFound;
  Device device;
  device.path = path;
  // One line a resource: "start end flags", line N describing resourceN.
  std::ifstream in(path + "/resource");
  std::string line;
  for (int n = 0; std::getline(in, line); ++n) {
    uint64_t start = 0, end = 0, flags = 0;
    if (std::sscanf(line.c_str(), "%" SCNx64 " %" SCNx64 " %" SCNx64, &start, &end, &flags) != 3) {
      continue;
    }
    if ((flags & kResourceMemory) == 0 || end <= start) continue;
    Window window;
    window.start = start;
    window.length = end - start + 1;
    window.file = path + "/resource" + std::to_string(n);
    device.windows.push_back(std::move(window));
  }
  devices_.push_back(std::move(device));
  return static_cast<uint32_t>(devices_.size() - 1) << 16;
}

uint32_t PosixCardAccess::ConfigReadLong(uint32_t location, uint32_t offset) {
  const size_t slot = location;
  if (slot >= devices_.size()) return 0;
  int fd = open((devices_[slot].path + "/config").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  uint8_t bytes[4];
  ssize_t n = pread(fd, bytes, sizeof bytes, static_cast<off_t>(offset));
  close(fd);
  if (n != static_cast<ssize_t>(sizeof bytes)) return 0;
  // Configuration space is little-endian.
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool PosixCardAccess::MapWindow(Window& window) {
  window.tried = true;
  int fd = open(window.file.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size <= 0) {
    close(fd);
    return false;
  }
  const size_t size = static_cast<size_t>(std::min<uint64_t>(window.length,
                                                               static_cast<uint64_t>(st.st_size)));
  void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (map == MAP_FAILED) return false;
  window.map = static_cast<uint8_t*>(map);
  window.mapped = size;
  return true;
}

volatile uint8_t* PosixCardAccess::Locate(uint32_t address, size_t size) {
  for (Device& device : devices_) {
    for (Window& window : device.windows) {
      if (address < window.start || address - window.start + size > window.length) continue;
      if (!window.tried) MapWindow(window);
      const uint64_t offset = address - window.start;
      if (window.map == nullptr || offset + size > window.mapped) return nullptr;
      return window.map + offset;
    }
  }
  return nullptr;
}

void PosixCardAccess::MemWriteChar(uint32_t address, uint32_t value) {
  if (volatile uint8_t* p = Locate(address, 1)) *p = static_cast<uint8_t>(value);
}

void PosixCardAccess::MemWriteLong(uint32_t address, uint32_t value) {
  volatile uint8_t* p = Locate(address, 4);
  if (p == nullptr) return;
  if (reinterpret_cast<uintptr_t>(p) % 4 == 0) {
    // One 32-bit bus cycle, as the card's control register expects (little-endian hosts).
    *reinterpret_cast<volatile uint32_t*>(p) = value;
    return;
  }
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint8_t PosixCardAccess::MemReadChar(uint32_t address) {
  volatile uint8_t* p = Locate(address, 1);
  return p != nullptr ? *p : 0xFF;
}

void PosixCardAccess::Sleep(uint32_t milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  timespec wait{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

uint32_t PosixCardAccess::Milliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                               static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}
