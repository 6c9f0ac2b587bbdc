#include "script/board_script.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>

#include "common/ascii.h"
#include "text/shown_text.h"

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::vector<std::string_view> Tokens(std::string_view line) {
  std::vector<std::string_view> tokens;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsSpace(line[i])) ++i;
    size_t start = i;
    while (i < line.size() && !IsSpace(line[i])) ++i;
    if (i > start) tokens.push_back(line.substr(start, i - start));
  }
  return tokens;
}

// Verbs are read without regard to case.
bool Equal(std::string_view a, std::string_view b) { return AsciiEqualNoCase(a, b); }

// A token as messages quote it: whole when short, its start and its length when long; shown as
// text from a file is, so that a control byte in it reaches no terminal.
std::string Quote(std::string_view token) {
  constexpr size_t kShown = 24;
  if (token.size() <= 2 * kShown) return "'" + ShownText(token) + "'";
  return "'" + ShownText(token.substr(0, kShown)) + "...' (" + std::to_string(token.size()) +
         " characters)";
}

enum class Number { kOk, kNotANumber, kTooLarge };

// Decimal or 0x-hexadecimal, with an optional leading '-' for decimal. Anything beyond +-2^40
// (far outside every operand's range) is too large.
Number ParseNumber(std::string_view token, int64_t* value) {
  constexpr int64_t kLimit = int64_t{1} << 40;
  bool negative = false;
  if (!token.empty() && token[0] == '-') {
    negative = true;
    token.remove_prefix(1);
  }
  int base = 10;
  if (token.size() > 2 && token[0] == '0' && AsciiLower(token[1]) == 'x') {
    if (negative) return Number::kNotANumber;
    base = 16;
    token.remove_prefix(2);
  }
  if (token.empty()) return Number::kNotANumber;
  int64_t result = 0;
  bool too_large = false;
  for (char c : token) {
    int digit;
    char l = AsciiLower(c);
    if (l >= '0' && l <= '9') {
      digit = l - '0';
    } else if (base == 16 && l >= 'a' && l <= 'f') {
      digit = l - 'a' + 10;
    } else {
      return Number::kNotANumber;
    }
    if (!too_large) result = result * base + digit;
    if (result > kLimit) too_large = true;
  }
  if (too_large) return Number::kTooLarge;
  *value = negative ? -result : result;
  return Number::kOk;
}

struct Operand {
  const char* what;
  int64_t min;
  int64_t max;
};

std::string RangeText(const Operand& op) {
  return std::string(op.what) + " must be " + std::to_string(op.min) + ".." +
         std::to_string(op.max);
}

// A line made ready for its tokens: a first line's UTF-8 byte-order mark, a carriage return at
// the end and a comment taken off. "" or what is wrong with the line.
std::string CleanLine(std::string_view* line_io, bool first) {
  std::string_view line = *line_io;
  if (first) {
    // A UTF-8 byte-order mark is skipped; UTF-16 text is named as such.
    if (line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    if (line.substr(0, 2) == "\xFF\xFE" || line.substr(0, 2) == "\xFE\xFF") {
      return "the file is UTF-16 text (it begins with a byte-order mark); save it as "
             "UTF-8 or ASCII";
    }
  }
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  size_t hash = line.find('#');
  if (hash != std::string_view::npos) line = line.substr(0, hash);

  for (size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<unsigned char>(line[i]);
    if (byte < 0x20 && byte != '\t') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", byte);
      std::string message = "control character " + std::string(hex) + " at column " +
                            std::to_string(i + 1);
      if (byte == 0 && (i == 1 || (i + 1 < line.size() && line[i + 1] != 0))) {
        message += " (UTF-16 text? save it as UTF-8 or ASCII)";
      }
      return message;
    }
  }
  *line_io = line;
  return "";
}

// The command a verb names and the operands it takes; false for a verb that names none.
bool CommandOf(std::string_view verb, ScriptCommand::Kind* kind, std::vector<Operand>* operands) {
  if (Equal(verb, "rate")) {
    *kind = ScriptCommand::kRate;
    *operands = {{"rate", 8000, 192000}};
  } else if (Equal(verb, "out")) {
    *kind = ScriptCommand::kOut;
    *operands = {{"port", 0, 0xFFFF}, {"value", 0, 0xFF}};
  } else if (Equal(verb, "in")) {
    *kind = ScriptCommand::kIn;
    *operands = {{"port", 0, 0xFFFF}};
  } else if (Equal(verb, "wait")) {
    *kind = ScriptCommand::kWait;
    *operands = {{"frame count", 0, int64_t{1} << 40}};
  } else if (Equal(verb, "apply")) {
    *kind = ScriptCommand::kApply;
    for (int i = 0; i < 8; ++i) operands->push_back({"volume", -40, 20});
    for (int i = 0; i < 8; ++i) operands->push_back({"output flag", 0, 1});
    operands->push_back({"USE_ROMEO flag", 0, 1});
  } else if (Equal(verb, "save") || Equal(verb, "load")) {
    *kind = Equal(verb, "save") ? ScriptCommand::kSave : ScriptCommand::kLoad;
    *operands = {{"slot", 0, BoardScriptReader::kSlots - 1}};
  } else {
    return false;
  }
  return true;
}

// The operands after the verb into command->args, each in its range; "" or what is wrong.
std::string ReadOperands(const std::vector<std::string_view>& tokens,
                         const std::vector<Operand>& operands, ScriptCommand* command) {
  const std::string_view verb = tokens[0];
  if (tokens.size() - 1 != operands.size()) {
    return "'" + std::string(verb) + "' takes " + std::to_string(operands.size()) +
           " operand" + (operands.size() == 1 ? "" : "s") + ", got " +
           std::to_string(tokens.size() - 1);
  }
  for (size_t i = 0; i < operands.size(); ++i) {
    int64_t value = 0;
    switch (ParseNumber(tokens[i + 1], &value)) {
      case Number::kNotANumber:
        return Quote(tokens[i + 1]) + " is not a number";
      case Number::kTooLarge:
        return RangeText(operands[i]) + ", got " + Quote(tokens[i + 1]) +
               ", which is out of range";
      case Number::kOk:
        break;
    }
    if (value < operands[i].min || value > operands[i].max) {
      return RangeText(operands[i]) + ", got " + std::string(tokens[i + 1]);
    }
    command->args[i] = value;
  }
  return "";
}

}  // namespace

BoardScriptReader::BoardScriptReader(std::string_view text, std::string name)
    : text_(text), name_(std::move(name)) {}

BoardScriptReader::BoardScriptReader(std::FILE* file, std::string name)
    : file_(file), name_(std::move(name)) {}

bool BoardScriptReader::Fail(const std::string& message) {
  error_ = name_ + ":" + std::to_string(line_number_) + ": " + message;
  return false;
}

bool BoardScriptReader::Rewind() {
  pos_ = 0;
  buffer_pos_ = buffer_len_ = 0;
  line_number_ = 0;
  ended_ = false;
  saved_slots_ = 0;
  error_.clear();
  if (file_ != nullptr && std::fseek(file_, 0, SEEK_SET) != 0) {
    error_ = name_ + ": cannot read the script a second time (" + std::strerror(errno) +
             "); give a file, not a pipe";
    return false;
  }
  if (file_ != nullptr) std::clearerr(file_);
  return true;
}

int BoardScriptReader::ReadByte() {
  if (file_ == nullptr) {
    return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_++]) : EOF;
  }
  if (buffer_pos_ == buffer_len_) {
    buffer_len_ = std::fread(buffer_, 1, sizeof buffer_, file_);
    buffer_pos_ = 0;
    if (buffer_len_ == 0) return EOF;
  }
  return static_cast<unsigned char>(buffer_[buffer_pos_++]);
}

bool BoardScriptReader::ReadLine(std::string_view* line) {
  line_.clear();
  int c = ReadByte();
  if (c == EOF) {
    if (file_ != nullptr && std::ferror(file_)) {
      error_ = name_ + ": read error: " + std::strerror(errno);
    }
    return false;
  }
  ++line_number_;
  while (c != EOF && c != '\n') {
    if (line_.size() == kMaxLine) {
      return Fail("line longer than " + std::to_string(kMaxLine) + " characters");
    }
    line_.push_back(static_cast<char>(c));
    c = ReadByte();
  }
  if (c == EOF && file_ != nullptr && std::ferror(file_)) {
    error_ = name_ + ": read error: " + std::strerror(errno);
    return false;
  }
  *line = line_;
  return true;
}

bool BoardScriptReader::Next(ScriptCommand* command) {
  if (ended_ || !error_.empty()) return false;
  std::string_view line;
  while (ReadLine(&line)) {
    if (const std::string fault = CleanLine(&line, line_number_ == 1); !fault.empty()) {
      return Fail(fault);
    }
    std::vector<std::string_view> tokens = Tokens(line);
    if (tokens.empty()) continue;

    std::string_view verb = tokens[0];
    *command = ScriptCommand{};
    command->line = line_number_;
    std::vector<Operand> operands;
    if (Equal(verb, "end")) {
      if (tokens.size() != 1) return Fail("'end' takes no operand");
      ended_ = true;
      return false;
    }
    if (!CommandOf(verb, &command->kind, &operands)) {
      return Fail("unknown command " + Quote(verb));
    }
    if (const std::string fault = ReadOperands(tokens, operands, command); !fault.empty()) {
      return Fail(fault);
    }
    const uint32_t slot_bit = 1u << (command->args[0] & 15);
    if (command->kind == ScriptCommand::kSave) saved_slots_ |= slot_bit;
    if (command->kind == ScriptCommand::kLoad && (saved_slots_ & slot_bit) == 0) {
      return Fail("slot " + std::to_string(command->args[0]) + " holds no state: no 'save " +
                  std::to_string(command->args[0]) + "' comes before this line");
    }
    return true;
  }
  return false;
}

bool ParseBoardScript(std::string_view text, const std::string& name, BoardScript* script,
                      std::string* error) {
  script->commands.clear();
  BoardScriptReader reader(text, name);
  ScriptCommand command;
  while (reader.Next(&command)) script->commands.push_back(command);
  *error = reader.error();
  return error->empty();
}
