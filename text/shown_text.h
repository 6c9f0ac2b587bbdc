// Text that came from a file (tags, names, script tokens, paths) as a terminal or a message may
// show it: every control character and every byte that is not UTF-8 written out as \xNN, so
// that nothing in a file can move the cursor, retitle the window or ring the bell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Shown text is at most this long; the rest is cut, and the text says so.
inline constexpr size_t kShownTextMax = 64 * 1024;

// text with C0 controls, DEL, C1 controls (U+0080-U+009F) and bytes that are not UTF-8 shown
// as \xNN (a C1 control as \u0080-\u009F), valid UTF-8 kept. With line_indent >= 0 a line break
// (LF or CR LF) is kept and the next line starts with that many spaces; otherwise it is escaped
// too. Longer text than max_bytes is cut at a character and ends "[cut: N more bytes]".
std::string ShownText(std::string_view text, int line_indent = -1,
                      size_t max_bytes = kShownTextMax);
