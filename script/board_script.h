// Board scripts: a timed log of what an emulated program does to the board, one command a line.
//
//   rate R            the mixer's output rate changes (8000..192000)
//   out PORT VALUE    a port write (PORT 0..0xFFFF, VALUE 0..0xFF)
//   in PORT           a port read, reported as "in 0xPP = 0xVV"
//   wait N            N output frames pass and are rendered
//   apply V0..V7 O0..O7 R   the user sets the configuration page and applies (-40..20, 0..1)
//   end               stops reading
//
// Numbers are decimal or 0x-hexadecimal, case-insensitive; '#' starts a comment.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ScriptCommand {
  enum Kind { kRate, kOut, kIn, kWait, kApply };
  Kind kind;
  int line;
  int64_t args[17];
};

struct BoardScript {
  std::vector<ScriptCommand> commands;
};

// Parses the whole text; on the first malformed line returns false with
// "NAME:LINE: message" in *error.
bool ParseBoardScript(std::string_view text, const std::string& name, BoardScript* script,
                      std::string* error);
