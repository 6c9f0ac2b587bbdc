#include "script/board_script.h"

#include <cstddef>

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

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool Equal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// Decimal or 0x-hexadecimal, with an optional leading '-' for decimal. Rejects anything else
// and anything beyond +-2^40 (far outside every operand's range).
bool ParseNumber(std::string_view token, int64_t* value) {
  bool negative = false;
  if (!token.empty() && token[0] == '-') {
    negative = true;
    token.remove_prefix(1);
  }
  int base = 10;
  if (token.size() > 2 && token[0] == '0' && Lower(token[1]) == 'x') {
    if (negative) return false;
    base = 16;
    token.remove_prefix(2);
  }
  if (token.empty()) return false;
  int64_t result = 0;
  for (char c : token) {
    int digit;
    char l = Lower(c);
    if (l >= '0' && l <= '9') {
      digit = l - '0';
    } else if (base == 16 && l >= 'a' && l <= 'f') {
      digit = l - 'a' + 10;
    } else {
      return false;
    }
    result = result * base + digit;
    if (result > (int64_t{1} << 40)) return false;
  }
  *value = negative ? -result : result;
  return true;
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

}  // namespace

bool ParseBoardScript(std::string_view text, const std::string& name, BoardScript* script,
                      std::string* error) {
  script->commands.clear();
  int line_number = 0;
  size_t pos = 0;
  // Skip a UTF-8 byte-order mark.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? text.npos : nl - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);

    auto fail = [&](const std::string& message) {
      *error = name + ":" + std::to_string(line_number) + ": " + message;
      return false;
    };
    for (char c : line) {
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
        return fail("unexpected control character");
      }
    }
    std::vector<std::string_view> tokens = Tokens(line);
    if (tokens.empty()) continue;

    std::string_view verb = tokens[0];
    ScriptCommand command{};
    command.line = line_number;
    std::vector<Operand> operands;
    if (Equal(verb, "end")) {
      if (tokens.size() != 1) return fail("'end' takes no operand");
      break;
    } else if (Equal(verb, "rate")) {
      command.kind = ScriptCommand::kRate;
      operands = {{"rate", 8000, 192000}};
    } else if (Equal(verb, "out")) {
      command.kind = ScriptCommand::kOut;
      operands = {{"port", 0, 0xFFFF}, {"value", 0, 0xFF}};
    } else if (Equal(verb, "in")) {
      command.kind = ScriptCommand::kIn;
      operands = {{"port", 0, 0xFFFF}};
    } else if (Equal(verb, "wait")) {
      command.kind = ScriptCommand::kWait;
      operands = {{"frame count", 0, int64_t{1} << 40}};
    } else if (Equal(verb, "apply")) {
      command.kind = ScriptCommand::kApply;
      for (int i = 0; i < 8; ++i) operands.push_back({"volume", -40, 20});
      for (int i = 0; i < 8; ++i) operands.push_back({"output flag", 0, 1});
      operands.push_back({"USE_ROMEO flag", 0, 1});
    } else {
      return fail("unknown command '" + std::string(verb) + "'");
    }
    if (tokens.size() - 1 != operands.size()) {
      return fail("'" + std::string(verb) + "' takes " + std::to_string(operands.size()) +
                  " operand" + (operands.size() == 1 ? "" : "s") + ", got " +
                  std::to_string(tokens.size() - 1));
    }
    for (size_t i = 0; i < operands.size(); ++i) {
      int64_t value = 0;
      if (!ParseNumber(tokens[i + 1], &value)) {
        return fail("'" + std::string(tokens[i + 1]) + "' is not a number");
      }
      if (value < operands[i].min || value > operands[i].max) {
        return fail(RangeText(operands[i]) + ", got " + std::string(tokens[i + 1]));
      }
      command.args[i] = value;
    }
    script->commands.push_back(command);
  }
  return true;
}
