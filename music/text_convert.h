// Text of the music tags: GD3 strings are UTF-16LE, S98 tags UTF-8 or Shift_JIS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// UTF-16LE code units (count of them at units) to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(const uint8_t* units, size_t count);

bool IsValidUtf8(std::string_view text);

// Shift_JIS (code page 932) to UTF-8; false when the bytes are not valid Shift_JIS.
bool ShiftJisToUtf8(std::string_view bytes, std::string* utf8);

// A tag's field is kept up to this many bytes of UTF-8, a tag's extra keys up to this many.
inline constexpr size_t kMaxTagBytes = 64 * 1024;
inline constexpr size_t kMaxTagEntries = 256;

// Cuts UTF-8 text to at most max_bytes, at a character; true when something was cut.
bool CutUtf8(std::string* text, size_t max_bytes);

// A tag's text of unknown encoding, kept to its first kMaxTagBytes (*cut tells whether there
// was more): UTF-8 when it is, Shift_JIS when it is (tried first with shift_jis_first),
// otherwise every byte outside ASCII becomes '?'. Only the kept part is converted.
std::string TagTextToUtf8(std::string_view bytes, bool shift_jis_first, bool* cut);
