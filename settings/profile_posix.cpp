#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "module/program_directory.h"
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

bool WriteAll(int fd, std::string_view text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
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
  // Keep the mode of an existing file; a new file gets the usual 0644 (less the umask).
  mode_t mode = 0644;
  struct stat st;
  if (stat(path_.c_str(), &st) == 0) mode = st.st_mode & 07777;

  std::string temp = path_ + ".tmp." + std::to_string(getpid());
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  Stage(SaveStage::kCreated);
  // Written in two halves, so that a save can be stopped with half a file on disk.
  const std::string_view text(text_);
  const size_t half = text.size() / 2;
  bool ok = WriteAll(fd, text.substr(0, half));
  if (ok) Stage(SaveStage::kHalfWritten);
  ok = ok && WriteAll(fd, text.substr(half)) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok) Stage(SaveStage::kWritten);
  if (!ok || rename(temp.c_str(), path_.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  Stage(SaveStage::kRenamed);
  // Make the rename itself durable.
  int dir = open(DirectoryOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  dirty_ = false;
  return true;
}

std::string HostSettingsPath() { return ProgramDirectory() + "VYX.INI"; }
