// The host's settings file, read and written through the platform's profile functions.
//
// The Windows side calls GetPrivateProfileIntA / WritePrivateProfileStringA. The portable side
// keeps the same semantics over the INI text and replaces the file atomically on Commit,
// through the program's one door for the files it writes (a temporary file beside it, flushed,
// renamed into place, the folder flushed), so that a process or machine that dies mid-save
// leaves either the old or the new complete file, never a torn one. A symbolic link is written
// through (the file it leads to is replaced and the link stays), a read-only file is not
// written, and a file that is not a regular file or is larger than a megabyte counts as
// unreadable: defaults are read and it is never replaced.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

class ProfileFile {
 public:
  // The points of the portable side's save between which a process may die: the temporary
  // file created and empty, half of it written, all of it written, flushed and closed, renamed
  // into place and the folder flushed.
  enum class SaveStage { kCreated, kHalfWritten, kWritten, kRenamed };
  using SaveStageHook = void (*)(SaveStage stage, void* context);

  explicit ProfileFile(std::string path) : path_(std::move(path)) {}

  int32_t GetInt(const char* section, const char* key, int32_t default_value);
  // The key's text as it stands; empty when the key is missing.
  std::string GetString(const char* section, const char* key);
  void WriteString(const char* section, const char* key, const char* value);
  // Makes the writes so far durable; returns false when the file could not be written (the
  // old file, if any, is then left as it was).
  bool Commit();

  const std::string& path() const { return path_; }
  // Called at each stage of the portable side's save (tests kill the process there).
  void set_save_stage_hook(SaveStageHook hook, void* context) {
    stage_hook_ = hook;
    stage_context_ = context;
  }

 private:
  void Load();  // portable side: reads the file once
  void Stage(SaveStage stage) {
    if (stage_hook_ != nullptr) stage_hook_(stage, stage_context_);
  }

  std::string path_;
  std::string text_;    // portable side: the file's bytes as last read, plus pending writes
  bool loaded_ = false;
  bool dirty_ = false;
  bool failed_ = false;  // the file could not be read, or the platform refused a write
  SaveStageHook stage_hook_ = nullptr;
  void* stage_context_ = nullptr;
};
