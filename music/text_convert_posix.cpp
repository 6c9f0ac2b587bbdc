// Shift_JIS through the C library's iconv.
#include <iconv.h>

#include <cerrno>
#include <vector>

#include "music/text_convert.h"

bool ShiftJisToUtf8(const std::string& bytes, std::string* utf8) {
  // CP932 is Shift_JIS as Japanese Windows writes it (what these files come from).
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) cd = iconv_open("UTF-8", "SHIFT_JIS");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::vector<char> in(bytes.begin(), bytes.end());
  std::vector<char> out(bytes.size() * 4 + 4);
  char* in_ptr = in.data();
  size_t in_left = in.size();
  char* out_ptr = out.data();
  size_t out_left = out.size();
  const size_t rc = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1) || in_left != 0) return false;
  utf8->assign(out.data(), out.size() - out_left);
  return true;
}
