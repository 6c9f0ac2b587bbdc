// The board-script parser: any text either parses into commands whose operands lie in their
// ranges (a load only of a slot saved before it), or fails with "NAME:LINE: message".
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "script/board_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  BoardScript script;
  std::string error;
  if (!ParseBoardScript(text, "fuzz.board", &script, &error)) {
    if (error.rfind("fuzz.board:", 0) != 0) __builtin_trap();
    return 0;
  }
  uint32_t saved = 0;  // slots that a save line has filled so far
  for (const ScriptCommand& c : script.commands) {
    switch (c.kind) {
      case ScriptCommand::kRate:
        if (c.args[0] < 8000 || c.args[0] > 192000) __builtin_trap();
        break;
      case ScriptCommand::kOut:
        if (c.args[0] < 0 || c.args[0] > 0xFFFF || c.args[1] < 0 || c.args[1] > 0xFF) {
          __builtin_trap();
        }
        break;
      case ScriptCommand::kIn:
        if (c.args[0] < 0 || c.args[0] > 0xFFFF) __builtin_trap();
        break;
      case ScriptCommand::kWait:
        if (c.args[0] < 0) __builtin_trap();
        break;
      case ScriptCommand::kApply:
        for (int i = 0; i < 8; ++i) {
          if (c.args[i] < -40 || c.args[i] > 20) __builtin_trap();
        }
        for (int i = 8; i < 17; ++i) {
          if (c.args[i] < 0 || c.args[i] > 1) __builtin_trap();
        }
        break;
      case ScriptCommand::kSave:
      case ScriptCommand::kLoad:
        if (c.args[0] < 0 || c.args[0] >= BoardScriptReader::kSlots) __builtin_trap();
        if (c.kind == ScriptCommand::kSave) saved |= 1u << c.args[0];
        // A load only of a slot saved before it.
        if (c.kind == ScriptCommand::kLoad && (saved & (1u << c.args[0])) == 0) __builtin_trap();
        break;
    }
  }
  return 0;
}
