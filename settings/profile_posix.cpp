#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

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

std::string NameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file that a write to `path` reaches: `path` itself, or where its chain of symbolic links
// ends (a file that may not exist yet). False on a loop or an unreadable link.
bool FollowLinks(const std::string& path, std::string* target) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    char link[PATH_MAX];
    ssize_t n = readlink(current.c_str(), link, sizeof link);
    if (n < 0) {
      if (errno != EINVAL && errno != ENOENT) return false;
      *target = current;  // not a link, or nothing there yet
      return true;
    }
    if (n == 0 || static_cast<size_t>(n) == sizeof link) return false;
    const std::string next(link, static_cast<size_t>(n));
    current = next[0] == '/' ? next : DirectoryOf(current) + "/" + next;
  }
  return false;
}

// `length` letters and digits that nobody can predict; false when the system gives no
// randomness (a save is then refused rather than made under a name that can be guessed).
bool RandomName(size_t length, std::string* name) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[32];
  if (length > sizeof bytes) return false;
  ssize_t n;
  do {
    n = getrandom(bytes, length, 0);
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(length)) return false;
  name->clear();
  for (size_t i = 0; i < length; ++i) name->push_back(kAlphabet[bytes[i] % (sizeof kAlphabet - 1)]);
  return true;
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
  // A link stays a link: the file it leads to is replaced, beside itself.
  std::string target;
  if (!FollowLinks(path_, &target)) return false;
  const std::string name = NameOf(target);
  int dir = open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  const bool ok = SaveInto(dir, name);
  // Make the rename itself durable.
  if (ok) fsync(dir);
  close(dir);
  if (ok) dirty_ = false;
  return ok;
}

bool ProfileFile::SaveInto(int dir, const std::string& name) {
  struct stat old;
  const bool exists = fstatat(dir, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists) {
    if (!S_ISREG(old.st_mode)) return false;
    // A read-only file is left as it is, as the Windows profile writer leaves it: one that the
    // process may not write, or whose owner may not (which alone decides for root, who may
    // write anything).
    if ((old.st_mode & S_IWUSR) == 0 || faccessat(dir, name.c_str(), W_OK, AT_EACCESS) != 0) {
      return false;
    }
  }

  // The temporary file: created here and now (never an existing file, never through a link),
  // under a name nobody can guess. A replacement stays private until it takes the old mode.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    std::string suffix;
    if (!RandomName(12, &suffix)) return false;
    temp = name + ".tmp." + suffix;
    fd = openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                exists ? 0600 : 0644);  // a new file: the usual 0644, less the umask
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  Stage(SaveStage::kCreated);
  // The replaced file's mode, whatever the umask.
  bool ok = !exists || fchmod(fd, old.st_mode & 07777) == 0;
  // Written in two halves, so that a save can be stopped with half a file on disk.
  const std::string_view text(text_);
  const size_t half = text.size() / 2;
  ok = ok && WriteAll(fd, text.substr(0, half));
  if (ok) Stage(SaveStage::kHalfWritten);
  ok = ok && WriteAll(fd, text.substr(half)) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok) Stage(SaveStage::kWritten);
  if (!ok || renameat(dir, temp.c_str(), dir, name.c_str()) != 0) {
    unlinkat(dir, temp.c_str(), 0);
    return false;
  }
  Stage(SaveStage::kRenamed);
  return true;
}
