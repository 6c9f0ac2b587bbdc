// INI text with the platform profile semantics, as pure functions over the file's bytes.
//
// Section and key names match case-insensitively (ASCII) after trimming blanks. A read returns the
// leading decimal integer of the value, or the default when the key is missing or its value
// empty. A write replaces the value in place and keeps every other byte (other sections,
// comments, order, line endings), and adds the key or the section when missing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The value text of `key` in `section`, or false when the key is absent.
bool IniFindValue(std::string_view text, std::string_view section, std::string_view key,
                  std::string* value);

// The leading decimal integer of the key's value (optional sign, then digits; 0 when there is
// none, saturated at the int32 range), or `default_value` when the key is absent or its value
// is empty.
int32_t IniGetInt(std::string_view text, std::string_view section, std::string_view key,
                  int32_t default_value);

// Sets `key` in `section` to `value` in place, adding what is missing.
void IniSetValue(std::string* text, std::string_view section, std::string_view key,
                 std::string_view value);
