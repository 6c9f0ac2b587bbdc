// The platform's side of the door for output files (output_file_posix.cpp, output_file_win32.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct OpenedOutput {
  std::FILE* stream = nullptr;
  std::string place;      // where the file goes: the target, or where its links lead
  std::string temporary;  // the name written; empty when the place is written directly
  bool seekable = false;
  bool existed = false;   // the place was a regular file when it was opened
  uint64_t origin = 0;    // a seekable stream's offset when it was opened: where the file starts
};

// Opens the target by the door's rules; false with the reason (without the target's name).
// file_only: a target that is no regular file, or is read-only, is refused.
bool OpenOutput(const std::string& target, bool file_only, OpenedOutput* out, std::string* why);
// Flushes what the stream wrote to the disk; false when it could not.
bool SyncToDisk(std::FILE* stream);
// Flushes the folder that holds `path` (its names) to the disk, as far as the platform can.
void SyncFolderOf(const std::string& path);
// Creates `path`, which must not exist and is not followed if it is a link; *taken when the name
// is someone else's.
bool CreateNewOutput(const std::string& path, std::FILE** stream, bool* taken, std::string* why);
// Moves the finished file over its place.
bool ReplaceWith(const std::string& from, const std::string& to, std::string* why);
// Moves the finished file to its place only while no file is there: false with *appeared when
// one is (it stays as it is), or with the reason.
bool MoveToFree(const std::string& from, const std::string& to, bool* appeared, std::string* why);
// Removes a file by name; safe inside a signal handler.
void RemoveName(const char* path);
// The device and file number of an existing file (following links); false when there is none.
bool FileIdentity(const std::string& path, unsigned long long* device, unsigned long long* number,
                  bool* regular);
// A random name beside `place` for its temporary file, its last part no longer than a name may
// be (a long name is cut, at a character's start, to make room for the random part).
std::string TemporaryNameFor(const std::string& place);
// `place` with `suffix` put after it, its last part cut (at a character's start) when the two
// would be longer than a name may be; `tag` then goes between them, to keep cut names apart.
std::string NameWithSuffix(const std::string& place, const std::string& tag,
                           const std::string& suffix);

// A lock beside a file that one process at a time may write ("NAME.lock"): the name is made
// when missing (and removed again by DropLock), never followed when it is a link.
struct OutputLock {
  intptr_t handle = -1;
  bool made = false;
  std::string path;
};
// False with the reason when the lock cannot be had (another process holds it).
bool TakeLock(const std::string& path, OutputLock* lock, std::string* why);
void DropLock(OutputLock* lock);
