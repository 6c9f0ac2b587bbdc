// Shift_JIS through the C library's iconv.
#include <iconv.h>

#include <cerrno>

#include "music/text_convert.h"

bool ShiftJisToUtf8(std::string_view bytes, std::string* utf8) {
  // CP932 is Shift_JIS as Japanese Windows writes it (what these files come from).
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) cd = iconv_open("UTF-8", "SHIFT_JIS");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  // Straight from the caller's bytes (iconv only reads them) into the result, which a byte of
  // Shift_JIS can grow by three at most (a half-width kana).
  utf8->assign(bytes.size() * 3, '\0');
  char* in_ptr = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  char* out_ptr = utf8->data();
  size_t out_left = utf8->size();
  const size_t rc = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(cd);
  utf8->resize(utf8->size() - out_left);
  return rc != static_cast<size_t>(-1) && in_left == 0;
}
