#include "output/output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>
#include <unordered_map>

#include "output/output_platform.h"

namespace fs = std::filesystem;

namespace {

TemporaryNameWatch watch_names = nullptr;

std::string WriteError(const std::string& target, const std::string& why) {
  return "cannot write " + target + ": " + why;
}

}  // namespace

void WatchTemporaryNames(TemporaryNameWatch watch) { watch_names = watch; }

namespace {

// The temporary names of this file told to the watch, if any: false when it cannot hold one.
bool Hold(const std::string& path) { return watch_names == nullptr || watch_names(path, true); }
void Release(const std::string& path) {
  if (watch_names != nullptr) watch_names(path, false);
}

// The longest last part of a path the file systems take (NAME_MAX on Linux, 255 UTF-16 units on
// Windows: no more than 255 bytes of UTF-8).
constexpr size_t kNameMax = 255;

std::string HexOf(uint64_t bits, int digits) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (int j = 0; j < digits; ++j, bits >>= 4) text += kDigits[bits & 15];
  return text;
}

// FNV-1a: a cut name's tag, the same for the same name in every run.
uint64_t NameHash(const std::string& text) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (const unsigned char c : text) h = (h ^ c) * 0x100000001b3ull;
  return h;
}

}  // namespace

std::string NameWithSuffix(const std::string& place, const std::string& tag,
                           const std::string& suffix) {
  // The last part's start, by bytes: a path's own conversions would count characters in the
  // platform's code page, not the bytes a name takes.
  const char* separators = fs::path::preferred_separator == '\\' ? "/\\" : "/";
  const size_t slash = place.find_last_of(separators);
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  const size_t room = kNameMax - suffix.size();
  if (place.size() - start <= room) return place + suffix;
  // Cut where a character starts (not on a UTF-8 continuation byte), then the tag.
  size_t end = start + room - tag.size();
  while (end > start && (static_cast<unsigned char>(place[end]) & 0xC0) == 0x80) --end;
  return place.substr(0, end) + tag + suffix;
}

std::string TemporaryNameFor(const std::string& place) {
  std::random_device random;
  std::string tag;
  for (int i = 0; i < 3; ++i) tag += HexOf(random(), 4);
  return NameWithSuffix(place, "", "." + tag + ".part");
}

namespace {

// The lock of a place: every run finds the same name, however long the place's.
std::string LockNameFor(const std::string& place) {
  return NameWithSuffix(place, "~" + HexOf(NameHash(place), 16), ".lock");
}

}  // namespace

struct OutputFile::Lock {
  OutputLock lock;
  ~Lock() {
    if (lock.made) Release(lock.path);
    DropLock(&lock);
  }
};

OutputFile::OutputFile() = default;

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Open(const std::string& target, std::string* error,
                      const OutputOptions& options) {
  target_ = target;
  OpenedOutput opened;
  std::string why;
  if (!OpenOutput(target, options.file_only, &opened, &why)) {
    *error = WriteError(target, why);
    return false;
  }
  if (options.alone && !opened.temporary.empty()) {
    lock_ = std::make_unique<Lock>();
    if (!TakeLock(LockNameFor(opened.place), &lock_->lock, &why)) {
      lock_.reset();
      std::fclose(opened.stream);
      RemoveName(opened.temporary.c_str());
      *error = WriteError(target, why);
      return false;
    }
    if (lock_->lock.made) Hold(lock_->lock.path);
  }
  if (!opened.temporary.empty() && !Hold(opened.temporary)) {
    std::fclose(opened.stream);
    RemoveName(opened.temporary.c_str());
    *error = WriteError(target, "too many files written at once");
    return false;
  }
  stream_ = opened.stream;
  place_ = opened.place;
  temporary_ = opened.temporary;
  seekable_ = opened.seekable;
  origin_ = opened.origin;
  existed_ = opened.existed;
  durable_ = options.durable;
  return true;
}

std::vector<std::string> OutputFile::passing_names() const {
  std::vector<std::string> names;
  if (!temporary_.empty()) names.push_back(temporary_);
  if (lock_ != nullptr && lock_->lock.made) names.push_back(lock_->lock.path);
  return names;
}

bool OutputFile::OpenNew(const std::string& path, bool* taken, std::string* error) {
  target_ = place_ = path;
  std::string why;
  if (!CreateNewOutput(path, &stream_, taken, &why)) {
    *error = WriteError(path, why);
    return false;
  }
  seekable_ = true;
  return true;
}

bool OutputFile::Close(std::string* error) {
  if (stream_ != nullptr) {
    errno = 0;
    const bool flushed = std::fflush(stream_) == 0 && !std::ferror(stream_) &&
                         (!durable_ || SyncToDisk(stream_));
    const int flush_errno = errno;
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if ((!flushed || !closed) && !failed_) {
      failed_ = true;
      const int e = !flushed ? flush_errno : errno;
      why_ = e != 0 ? std::strerror(e) : "write error";
    }
  }
  if (failed_) *error = WriteError(target_, why_);
  return !failed_;
}

namespace {

constexpr const char* kAppeared =
    "a file of that name appeared while the run wrote it (another program's): left as it is, "
    "and this output discarded";

}  // namespace

bool OutputFile::ReplacesNothing() const {
  return !temporary_.empty() &&
         (replace_ == Replace::kNone || (replace_ == Replace::kExisting && !existed_));
}

bool OutputFile::PlaceStillFree(std::string* error) const {
  if (!ReplacesNothing()) return true;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(place_, ec))) return true;
  *error = WriteError(target_, kAppeared);
  return false;
}

bool OutputFile::Commit(std::string* error) {
  if (!Close(error)) return false;
  if (temporary_.empty()) return true;
  std::string why;
  bool appeared = false;
  const bool moved = ReplacesNothing() ? MoveToFree(temporary_, place_, &appeared, &why)
                                       : ReplaceWith(temporary_, place_, &why);
  if (!moved && appeared) why = kAppeared;
  if (!moved) {
    failed_ = true;
    why_ = why;
    *error = WriteError(target_, why);
    return false;
  }
  if (durable_) SyncFolderOf(place_);
  Release(temporary_);
  temporary_.clear();
  lock_.reset();
  return true;
}

bool OutputFile::HandOver(std::string* temporary, std::string* place, std::string* error) {
  if (!Close(error) || temporary_.empty()) return false;
  *temporary = temporary_;
  *place = place_;
  Release(temporary_);
  temporary_.clear();
  lock_.reset();
  return true;
}

void OutputFile::Discard() {
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  if (!temporary_.empty()) {
    RemoveName(temporary_.c_str());
    Release(temporary_);
    temporary_.clear();
  }
  lock_.reset();
}

OutputSet::~OutputSet() { Discard(); }

OutputFile* OutputSet::Open(const std::string& target, std::string* error) {
  auto file = std::make_unique<OutputFile>();
  if (!file->Open(target, error)) return nullptr;
  file->set_replace(replace_);
  files_.push_back(std::move(file));
  return files_.back().get();
}

void OutputSet::Discard(OutputFile* file) {
  for (auto it = files_.begin(); it != files_.end(); ++it) {
    if (it->get() == file) {
      files_.erase(it);  // the file discards itself
      return;
    }
  }
}

bool OutputSet::Commit(std::string* error) {
  // Every file complete first: one that is not keeps them all from their places.
  for (const auto& file : files_) {
    if (!file->Close(error) || !file->PlaceStillFree(error)) {
      Discard();
      return false;
    }
  }
  for (const auto& file : files_) {
    if (!file->Commit(error)) {
      Discard();
      return false;
    }
  }
  files_.clear();
  return true;
}

void OutputSet::Discard() { files_.clear(); }

bool SameFile(const std::string& a, const std::string& b) {
  if (a == "-" || b == "-") return a == b;
  unsigned long long da = 0, na = 0, db = 0, nb = 0;
  bool ra = false, rb = false;
  const bool a_exists = FileIdentity(a, &da, &na, &ra);
  const bool b_exists = FileIdentity(b, &db, &nb, &rb);
  if ((a_exists && !ra) || (b_exists && !rb)) return false;
  if (a_exists && b_exists) return da == db && na == nb;
  std::error_code ea, eb;
  return fs::weakly_canonical(fs::absolute(a, ea), ea) ==
         fs::weakly_canonical(fs::absolute(b, eb), eb);
}

namespace {

// What tells a file apart from every other: its device and number when it exists, where its
// name leads when it does not; "" for what is never the same as anything (a device, a FIFO).
std::string IdentityKey(const std::string& path) {
  if (path == "-") return "-";
  unsigned long long device = 0, number = 0;
  bool regular = false;
  if (FileIdentity(path, &device, &number, &regular)) {
    return regular ? "#" + std::to_string(device) + ":" + std::to_string(number) : "";
  }
  std::error_code ec;
  return "@" + fs::weakly_canonical(fs::absolute(path, ec), ec).string();
}

}  // namespace

std::vector<std::string> OutputClashes(const std::vector<RunFile>& reads,
                                       const std::vector<std::string>& outputs) {
  std::unordered_map<std::string, size_t> read_keys;
  for (size_t i = 0; i < reads.size(); ++i) {
    if (reads[i].path.empty()) continue;
    if (const std::string key = IdentityKey(reads[i].path); !key.empty()) {
      read_keys.emplace(key, i);
    }
  }
  std::unordered_map<std::string, size_t> output_keys;
  std::vector<std::string> clashes(outputs.size());
  for (size_t i = 0; i < outputs.size(); ++i) {
    if (outputs[i].empty()) continue;
    const std::string key = IdentityKey(outputs[i]);
    if (key.empty()) continue;
    if (auto read = read_keys.find(key); read != read_keys.end()) {
      const RunFile& file = reads[read->second];
      clashes[i] = "the output " + outputs[i] + " is " + file.role + " " + file.path +
                   ": it would be destroyed; write somewhere else";
    } else if (auto [other, fresh] = output_keys.emplace(key, i); !fresh) {
      clashes[i] = "the outputs " + outputs[other->second] + " and " + outputs[i] +
                   " are one file; give each its own";
    }
  }
  return clashes;
}

std::string OutputClash(const std::vector<RunFile>& reads,
                        const std::vector<std::string>& outputs) {
  for (const std::string& clash : OutputClashes(reads, outputs)) {
    if (!clash.empty()) return clash;
  }
  return "";
}
