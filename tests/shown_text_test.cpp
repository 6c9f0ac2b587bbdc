// Text from files as terminals and messages show it.
#include <gtest/gtest.h>

#include <string>

#include "text/shown_text.h"

TEST(ShownText, EscapesControlsAndBrokenUtf8KeepsTheRest) {
  // ESC [2J, an OSC window title ended by BEL, CR, DEL, a raw C1 CSI byte, the same as UTF-8.
  EXPECT_EQ(ShownText("a\x1b[2Jb"), "a\\x1b[2Jb");
  EXPECT_EQ(ShownText("\x1b]0;pwned\x07"), "\\x1b]0;pwned\\x07");
  EXPECT_EQ(ShownText("x\ry\x7f"), "x\\x0dy\\x7f");
  EXPECT_EQ(ShownText("\x9b" "31m"), "\\x9b31m");
  EXPECT_EQ(ShownText("\xc2\x9b"), "\\u009b");
  // Overlong, surrogate and cut-off sequences are not UTF-8; real text is kept as it is.
  EXPECT_EQ(ShownText("\xc0\xaf\xed\xa0\x80\xe3\x81"), "\\xc0\\xaf\\xed\\xa0\\x80\\xe3\\x81");
  EXPECT_EQ(ShownText("D\xc3\xa9j\xc3\xa0 \xe6\x9b\xb2 \xf0\x9f\x8e\xb5"),
            "D\xc3\xa9j\xc3\xa0 \xe6\x9b\xb2 \xf0\x9f\x8e\xb5");
  // Line breaks: escaped on one line, kept and indented in notes (CR LF as one).
  EXPECT_EQ(ShownText("a\nb"), "a\\x0ab");
  EXPECT_EQ(ShownText("a\nb\r\nc", 2), "a\n  b\n  c");
}

TEST(ShownText, CutsLongTextAtACharacterAndSaysSo) {
  EXPECT_EQ(ShownText("abcdef", -1, 4), "abcd [cut: 2 more bytes]");
  // Never inside a character: the cut falls after the whole of the last one begun.
  EXPECT_EQ(ShownText("ab\xe6\x9b\xb2z", -1, 3), "ab\xe6\x9b\xb2 [cut: 1 more bytes]");
  // Eight million line breaks are indented in one pass.
  const std::string notes(8'000'000, '\n');
  EXPECT_EQ(ShownText(notes, 1, notes.size()).size(), 16'000'000u);
}
