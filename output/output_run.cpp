#include "output/output_run.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "output/output_file.h"
#include "output/output_platform.h"
#include "output/output_run_platform.h"

namespace {

// The temporary names a signal handler removes: slots that hold a name of their own, set and
// cleared atomically, so that a handler that interrupts a change sees a whole name or none.
constexpr int kHeldNames = 64;
std::atomic<char*> held_names[kHeldNames];

std::string WriteError(const std::string& target, const std::string& why) {
  return "cannot write " + target + ": " + why;
}

}  // namespace

bool HoldTemporaryName(const std::string& path) {
  char* copy = new char[path.size() + 1];
  std::memcpy(copy, path.c_str(), path.size() + 1);
  for (std::atomic<char*>& slot : held_names) {
    char* empty = nullptr;
    if (slot.compare_exchange_strong(empty, copy)) return true;
  }
  delete[] copy;
  return false;
}

void ReleaseTemporaryName(const std::string& path) {
  for (std::atomic<char*>& slot : held_names) {
    char* name = slot.load();
    if (name != nullptr && path == name && slot.compare_exchange_strong(name, nullptr)) {
      delete[] name;
      return;
    }
  }
}

void RemoveTemporaryNames() {
  for (std::atomic<char*>& slot : held_names) {
    if (char* name = slot.exchange(nullptr); name != nullptr) RemoveName(name);
  }
}

namespace {

bool WatchForSignals(const std::string& path, bool held) {
  if (held) return HoldTemporaryName(path);
  ReleaseTemporaryName(path);
  return true;
}

}  // namespace

void StopSignals() {
  WatchTemporaryNames(&WatchForSignals);
  HandleStopSignals();
}

namespace {

struct Awaited {
  std::string temporary;
  std::string place;
};
std::mutex awaited_lock;
std::vector<Awaited> awaited;

}  // namespace

void AwaitCommit(const std::string& temporary, const std::string& place) {
  std::lock_guard<std::mutex> hold(awaited_lock);
  HoldTemporaryName(temporary);
  awaited.push_back({temporary, place});
}

bool CommitAwaited(std::string* error) {
  std::lock_guard<std::mutex> hold(awaited_lock);
  bool ok = true;
  for (const Awaited& file : awaited) {
    std::string why;
    if (ok && !ReplaceWith(file.temporary, file.place, &why)) {
      *error = WriteError(file.place, why);
      ok = false;
    }
    if (!ok) RemoveName(file.temporary.c_str());
    ReleaseTemporaryName(file.temporary);
  }
  awaited.clear();
  return ok;
}

void DiscardAwaited() {
  std::lock_guard<std::mutex> hold(awaited_lock);
  for (const Awaited& file : awaited) {
    RemoveName(file.temporary.c_str());
    ReleaseTemporaryName(file.temporary);
  }
  awaited.clear();
}

