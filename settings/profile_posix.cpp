#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "output/output_file.h"
#include "settings/ini_text.h"
#include "settings/profile.h"

namespace {

// The largest settings file that is read. The board's section is under 300 bytes and a host's
// whole file a few kilobytes; a megabyte is far beyond any real one and still cheap to hold and
// edit. A bigger file is treated as unreadable, like any file that cannot be read.
constexpr off_t kMaxFileBytes = off_t{1} << 20;

// The file's bytes; a missing file reads as empty. False when the file exists but cannot be
// read whole: then it must not be rewritten, or the host's own sections would be lost. Only a
// regular file of at most kMaxFileBytes is read (a device or a pipe never is).
bool ReadSettingsFile(const std::string& path, std::string* text) {
  text->clear();
  // Non-blocking, so that opening a pipe does not wait for a writer.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxFileBytes;
  if (ok) text->reserve(static_cast<size_t>(st.st_size));
  char buffer[4096];
  while (ok) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    // The file may grow while it is read.
    ok = text->size() + static_cast<size_t>(n) <= static_cast<size_t>(kMaxFileBytes);
    if (ok) text->append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  if (!ok) text->clear();
  return ok;
}

}  // namespace

void ProfileFile::Load() {
  if (loaded_) return;
  if (!ReadSettingsFile(path_, &text_)) failed_ = true;
  loaded_ = true;
}

int32_t ProfileFile::GetInt(const char* section, const char* key, int32_t default_value) {
  Load();
  return IniGetInt(text_, section, key, default_value);
}

void ProfileFile::WriteString(const char* section, const char* key, const char* value) {
  Load();
  IniSetValue(&text_, section, key, value);
  dirty_ = true;
}

bool ProfileFile::Commit() {
  if (failed_) return false;  // an unreadable file is never replaced
  if (!dirty_) return true;
  // Nor is one written that the next run would refuse to read: the file is left as it is.
  if (text_.size() > static_cast<size_t>(kMaxFileBytes)) return false;
  // Through the door: beside itself under a new name, a link written through, a read-only file
  // or one that is no plain file left alone, and the file and its folder flushed to the disk
  // before it counts as saved. The program's own file: whatever is there by then is replaced.
  OutputFile file;
  file.set_replace(Replace::kAny);
  std::string error;
  if (!file.Open(path_, &error, {.durable = true, .file_only = true})) return false;
  Stage(SaveStage::kCreated);
  // Written in two halves, so that a save can be stopped with half a file on disk.
  const size_t half = text_.size() / 2;
  bool ok = std::fwrite(text_.data(), 1, half, file.stream()) == half &&
            std::fflush(file.stream()) == 0;
  if (ok) Stage(SaveStage::kHalfWritten);
  ok = ok && std::fwrite(text_.data() + half, 1, text_.size() - half, file.stream()) ==
                 text_.size() - half;
  ok = ok && file.Close(&error);
  if (ok) Stage(SaveStage::kWritten);
  ok = ok && file.Commit(&error);
  if (!ok) return false;  // the file discards itself: the old one stays as it was
  Stage(SaveStage::kRenamed);
  dirty_ = false;
  return true;
}
