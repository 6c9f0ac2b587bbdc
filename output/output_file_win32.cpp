#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <csignal>
#include <cstring>
#include <filesystem>

#include "output/output_file.h"
#include "output/output_platform.h"

namespace fs = std::filesystem;

namespace {

std::string LastError() {
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 GetLastError(), 0, text, sizeof text, nullptr);
  std::string s = text;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
  return s;
}

bool StreamOnHandle(HANDLE handle, std::FILE** stream, std::string* why) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    *why = "cannot make a stream";
    return false;
  }
  *stream = _fdopen(fd, "wb");
  if (*stream == nullptr) {
    _close(fd);
    *why = "cannot make a stream";
    return false;
  }
  return true;
}

}  // namespace

bool OpenOutput(const std::string& target, bool file_only, OpenedOutput* out, std::string* why) {
  out->place = target;
  if (file_only && target == "-") {
    *why = "not a plain file";
    return false;
  }
  if (target == "-") {
    const int fd = _dup(1);
    if (fd < 0 || (out->stream = _fdopen(fd, "wb")) == nullptr) {
      *why = std::strerror(errno);
      return false;
    }
    _setmode(fd, _O_BINARY);
    const __int64 at = _lseeki64(fd, 0, SEEK_CUR);
    out->seekable = at != -1;
    out->origin = out->seekable ? static_cast<uint64_t>(at) : 0;
    return true;
  }
  std::error_code ec;
  const fs::file_status status = fs::status(target, ec);
  if (fs::is_directory(status)) {
    *why = "it is a folder";
    return false;
  }
  if (file_only && fs::exists(status) &&
      (!fs::is_regular_file(status) ||
       (GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY) != 0)) {
    *why = fs::is_regular_file(status) ? "it is read-only" : "not a plain file";
    return false;
  }
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    out->stream = std::fopen(target.c_str(), "wb");
    if (out->stream == nullptr) *why = std::strerror(errno);
    return out->stream != nullptr;
  }
  out->existed = fs::exists(status);
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string name = TemporaryNameFor(target);
    HANDLE handle = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
    if (handle == INVALID_HANDLE_VALUE) {
      *why = LastError();
      return false;
    }
    if (!StreamOnHandle(handle, &out->stream, why)) {
      DeleteFileA(name.c_str());
      return false;
    }
    out->temporary = name;
    out->seekable = true;
    return true;
  }
  *why = "no free temporary name";
  return false;
}

bool CreateNewOutput(const std::string& path, std::FILE** stream, bool* taken, std::string* why) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *taken = GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS;
    *why = LastError();
    return false;
  }
  *taken = false;
  if (!StreamOnHandle(handle, stream, why)) {
    DeleteFileA(path.c_str());
    return false;
  }
  return true;
}

bool ReplaceWith(const std::string& from, const std::string& to, std::string* why) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  *why = LastError();
  return false;
}

bool MoveToFree(const std::string& from, const std::string& to, bool* appeared, std::string* why) {
  *appeared = false;
  if (MoveFileExA(from.c_str(), to.c_str(), 0)) return true;
  const DWORD error = GetLastError();
  *appeared = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
  *why = LastError();
  return false;
}

void RemoveName(const char* path) { DeleteFileA(path); }

bool SyncToDisk(std::FILE* stream) { return _commit(_fileno(stream)) == 0; }

// The folder's entries are the file system's to keep: Windows has no call that flushes them.
void SyncFolderOf(const std::string&) {}

bool TakeLock(const std::string& path, OutputLock* lock, std::string* why) {
  lock->path = path;
  // A lock made here goes with its handle; one that was there stays, held unshared.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  lock->made = handle != INVALID_HANDLE_VALUE;
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
    handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) {
    *why = GetLastError() == ERROR_SHARING_VIOLATION
               ? "another run is writing it (" + path + " is locked)"
               : "cannot lock " + path + ": " + LastError();
    return false;
  }
  lock->handle = reinterpret_cast<intptr_t>(handle);
  return true;
}

void DropLock(OutputLock* lock) {
  if (lock->handle == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(lock->handle));
  lock->handle = -1;
}

bool FileIdentity(const std::string& path, unsigned long long* device, unsigned long long* number,
                  bool* regular) {
  HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE |
                              FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  const DWORD type = GetFileType(handle);
  CloseHandle(handle);
  if (!known) {
    // A device (NUL, CON): nothing to compare.
    *device = *number = 0;
    *regular = false;
    return true;
  }
  *device = info.dwVolumeSerialNumber;
  *number = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  *regular = type == FILE_TYPE_DISK && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  return true;
}
