// Board scripts: a timed log of what an emulated program does to the board, one command a line.
//
//   rate R            the mixer's output rate changes (8000..192000)
//   out PORT VALUE    a port write (PORT 0..0xFFFF, VALUE 0..0xFF)
//   in PORT           a port read, reported as "in 0xPP = 0xVV"
//   wait N            N output frames pass and are rendered
//   apply V0..V7 O0..O7 R   the user sets the configuration page and applies (-40..20, 0..1)
//   save SLOT         the host saves the board's state into slot SLOT (0..9), kept in memory
//   load SLOT         the host loads the state that slot SLOT holds into the board
//   end               stops reading
//
// Numbers are decimal or 0x-hexadecimal, case-insensitive; '#' starts a comment.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

struct ScriptCommand {
  enum Kind { kRate, kOut, kIn, kWait, kApply, kSave, kLoad };
  Kind kind;
  int64_t line;
  int64_t args[17];
};

// Reads a script one command at a time, from text in memory or from a file, so that a script
// of any length costs one line of memory. A line may hold at most kMaxLine bytes.
class BoardScriptReader {
 public:
  static constexpr size_t kMaxLine = 4096;
  static constexpr int kSlots = 10;

  BoardScriptReader(std::string_view text, std::string name);
  // The file is read from its start; the reader does not close it.
  BoardScriptReader(std::FILE* file, std::string name);

  // The next command: true with *command; false at the end of the script ('end' or the end of
  // the input) or on an error, which error() then gives as "NAME:LINE: message". A 'load' of a
  // slot that no earlier line saved is an error.
  bool Next(ScriptCommand* command);
  const std::string& error() const { return error_; }
  // Back to the first line; false with error() set when the input cannot be read again.
  bool Rewind();

 private:
  // The next line without its end; false at the end of the input or on an error.
  bool ReadLine(std::string_view* line);
  bool Fail(const std::string& message);
  int ReadByte();

  std::string_view text_;
  std::FILE* file_ = nullptr;
  std::string name_;
  size_t pos_ = 0;           // in text_
  char buffer_[65536];       // file input
  size_t buffer_pos_ = 0;
  size_t buffer_len_ = 0;
  std::string line_;
  int64_t line_number_ = 0;
  bool ended_ = false;
  uint32_t saved_slots_ = 0;  // bit n: a 'save n' was read
  std::string error_;
};

struct BoardScript {
  std::vector<ScriptCommand> commands;
};

// Parses the whole text; on the first malformed line returns false with
// "NAME:LINE: message" in *error.
bool ParseBoardScript(std::string_view text, const std::string& name, BoardScript* script,
                      std::string* error);
