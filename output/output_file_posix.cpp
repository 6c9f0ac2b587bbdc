#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>

#include "output/output_file.h"
#include "output/output_platform.h"

namespace fs = std::filesystem;

namespace {

// /proc/PID/fd/N, /dev/fd/N, /dev/stdout...: a name for a descriptor the process holds, never a
// file to replace.
bool DescriptorName(const fs::path& p) {
  const std::string text = p.string();
  if (text.rfind("/dev/fd/", 0) == 0 || text == "/dev/stdout" || text == "/dev/stderr" ||
      text == "/dev/stdin") {
    return true;
  }
  return text.rfind("/proc/", 0) == 0 && p.parent_path().filename() == "fd";
}

// Follows the links of the last part of the name: where the file goes, and whether the way
// passes through a descriptor name.
bool Resolve(const std::string& target, std::string* place, bool* descriptor, std::string* why) {
  fs::path p = fs::path(target).lexically_normal();
  for (int hops = 0; hops < 40; ++hops) {
    if (DescriptorName(fs::absolute(p))) {
      *place = p.string();
      *descriptor = true;
      return true;
    }
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(p, ec))) {
      *place = p.string();
      *descriptor = false;
      return true;
    }
    const fs::path link = fs::read_symlink(p, ec);
    if (ec) {
      *why = ec.message();
      return false;
    }
    p = (link.is_absolute() ? link : p.parent_path() / link).lexically_normal();
  }
  *why = std::strerror(ELOOP);
  return false;
}

// A stream on the descriptor, which the stream then owns.
bool StreamOn(int fd, OpenedOutput* out, std::string* why) {
  out->stream = fdopen(fd, "wb");
  if (out->stream == nullptr) {
    *why = std::strerror(errno);
    close(fd);
    return false;
  }
  // A stream opened for appending writes at its end whatever the offset: nothing written can be
  // gone back to. Another starts where its offset stands (the shell may have written before).
  const off_t at = lseek(fd, 0, SEEK_CUR);
  const int flags = fcntl(fd, F_GETFL);
  out->seekable = at != -1 && flags != -1 && (flags & O_APPEND) == 0;
  out->origin = out->seekable ? static_cast<uint64_t>(at) : 0;
  return true;
}

// The descriptor of this process that a name stands for (/dev/stdout, /dev/fd/N,
// /proc/self/fd/N, /proc/PID/fd/N with this process's PID), or -1.
int OwnDescriptor(const std::string& place) {
  if (place == "/dev/stdout") return STDOUT_FILENO;
  if (place == "/dev/stderr") return STDERR_FILENO;
  const fs::path p(place);
  const std::string parent = p.parent_path().string();
  const std::string number = p.filename().string();
  if (number.empty() || number.size() > 9 ||
      number.find_first_not_of("0123456789") != std::string::npos) {
    return -1;
  }
  if (parent != "/dev/fd" && parent != "/proc/self/fd" &&
      parent != "/proc/" + std::to_string(getpid()) + "/fd") {
    return -1;
  }
  return std::stoi(number);
}

// A device, a FIFO, a terminal or a descriptor name: written as it is. A descriptor of this
// process is written through a copy of it, as the shell opened it (appending, say); a FIFO is
// opened without waiting for a reader, and the stream then blocks as usual.
bool OpenDirect(const std::string& place, bool regular, OpenedOutput* out, std::string* why) {
  if (const int own = OwnDescriptor(place); own >= 0) {
    const int fd = fcntl(own, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
      *why = std::strerror(errno);
      return false;
    }
    return StreamOn(fd, out, why);
  }
  const int fd = open(place.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | (regular ? O_TRUNC : 0));
  if (fd < 0) {
    *why = errno == ENXIO ? "a FIFO with no reader" : std::strerror(errno);
    return false;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
    *why = std::strerror(errno);
    close(fd);
    return false;
  }
  return StreamOn(fd, out, why);
}

bool OpenTemporary(const std::string& place, const struct stat* existing, OpenedOutput* out,
                   std::string* why) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string name = TemporaryNameFor(place);
    // A replacement stays private until it takes the mode of the file it replaces.
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        existing != nullptr ? 0600 : 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      *why = std::strerror(errno);
      return false;
    }
    // The new file keeps the permissions of the one it replaces.
    if (existing != nullptr) fchmod(fd, existing->st_mode & 07777);
    out->temporary = name;
    if (!StreamOn(fd, out, why)) {
      unlink(name.c_str());
      out->temporary.clear();
      return false;
    }
    return true;
  }
  *why = std::strerror(EEXIST);
  return false;
}

}  // namespace

bool OpenOutput(const std::string& target, bool file_only, OpenedOutput* out, std::string* why) {
  if (target == "-") {
    if (file_only) {
      *why = "not a plain file";
      return false;
    }
    out->place = target;
    return OpenDirect("/dev/stdout", false, out, why);
  }
  bool descriptor = false;
  if (!Resolve(target, &out->place, &descriptor, why)) return false;
  struct stat st {};
  if (stat(out->place.c_str(), &st) != 0) {
    if (errno != ENOENT || descriptor) {
      *why = std::strerror(errno);
      return false;
    }
    return OpenTemporary(out->place, nullptr, out, why);
  }
  if (S_ISDIR(st.st_mode)) {
    *why = "it is a folder";
    return false;
  }
  if (file_only && (descriptor || !S_ISREG(st.st_mode))) {
    *why = "not a plain file";
    return false;
  }
  // A read-only file is left as it is: one that the process may not write, or whose owner may
  // not (which alone decides for root, who may write anything).
  if (file_only && ((st.st_mode & S_IWUSR) == 0 ||
                    faccessat(AT_FDCWD, out->place.c_str(), W_OK, AT_EACCESS) != 0)) {
    *why = "it is read-only";
    return false;
  }
  if (S_ISREG(st.st_mode) && !descriptor) {
    out->existed = true;
    return OpenTemporary(out->place, &st, out, why);
  }
  return OpenDirect(out->place, S_ISREG(st.st_mode), out, why);
}

bool CreateNewOutput(const std::string& path, std::FILE** stream, bool* taken, std::string* why) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  *taken = fd < 0 && (errno == EEXIST || errno == ELOOP);
  if (fd < 0) {
    *why = std::strerror(errno);
    return false;
  }
  *stream = fdopen(fd, "wb");
  if (*stream == nullptr) {
    *why = std::strerror(errno);
    close(fd);
    unlink(path.c_str());
    return false;
  }
  return true;
}

bool ReplaceWith(const std::string& from, const std::string& to, std::string* why) {
  if (rename(from.c_str(), to.c_str()) == 0) return true;
  *why = std::strerror(errno);
  return false;
}

#ifndef RENAME_NOREPLACE
// A C library without renameat2 (emscripten's, under the web page): every such rename takes the
// way of a file system that cannot do it.
constexpr unsigned RENAME_NOREPLACE = 1;
int renameat2(int, const char*, int, const char*, unsigned) {
  errno = ENOSYS;
  return -1;
}
#endif

bool MoveToFree(const std::string& from, const std::string& to, bool* appeared, std::string* why) {
  *appeared = false;
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EINVAL || errno == ENOSYS) {
    // A file system that cannot rename without replacing: a second name made only where none
    // is, then the temporary one removed.
    if (link(from.c_str(), to.c_str()) == 0) {
      unlink(from.c_str());
      return true;
    }
  }
  *appeared = errno == EEXIST;
  *why = std::strerror(errno);
  return false;
}

void RemoveName(const char* path) { unlink(path); }

bool SyncToDisk(std::FILE* stream) { return fsync(fileno(stream)) == 0; }

void SyncFolderOf(const std::string& path) {
  const fs::path folder = fs::path(path).parent_path();
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

bool TakeLock(const std::string& path, OutputLock* lock, std::string* why) {
  lock->path = path;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  lock->made = fd >= 0;
  if (fd < 0 && errno == EEXIST) fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *why = "cannot make its lock " + path + ": " + std::strerror(errno);
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *why = errno == EWOULDBLOCK ? "another run is writing it (" + path + " is locked)"
                                : "cannot lock " + path + ": " + std::strerror(errno);
    if (lock->made) unlink(path.c_str());
    close(fd);
    return false;
  }
  lock->handle = fd;
  return true;
}

void DropLock(OutputLock* lock) {
  if (lock->handle < 0) return;
  if (lock->made) unlink(lock->path.c_str());
  close(static_cast<int>(lock->handle));
  lock->handle = -1;
}

bool FileIdentity(const std::string& path, unsigned long long* device, unsigned long long* number,
                  bool* regular) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  *device = st.st_dev;
  *number = st.st_ino;
  *regular = S_ISREG(st.st_mode);
  return true;
}
