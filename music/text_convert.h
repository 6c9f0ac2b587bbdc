// Text of the music tags: GD3 strings are UTF-16LE, S98 tags UTF-8 or Shift_JIS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// UTF-16LE code units (count of them at units) to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(const uint8_t* units, size_t count);

bool IsValidUtf8(const std::string& text);

// Shift_JIS (code page 932) to UTF-8; false when the bytes are not valid Shift_JIS.
bool ShiftJisToUtf8(const std::string& bytes, std::string* utf8);

// Text of unknown encoding: kept when it is UTF-8, converted when it is Shift_JIS, otherwise
// every byte outside ASCII becomes '?'.
std::string GuessTextToUtf8(const std::string& bytes);
