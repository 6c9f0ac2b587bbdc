#include "music/gzip_inflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>

#include "common/hex_text.h"

bool IsGzip(const std::vector<uint8_t>& bytes) {
  return bytes.size() >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B;
}

bool Gunzip(const std::vector<uint8_t>& in, size_t max_bytes, std::vector<uint8_t>* out,
            std::string* error, std::string* warning) {
  out->clear();
  z_stream z{};
  // 16 + MAX_WBITS: a gzip wrapper, not zlib's own.
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
    *error = "cannot start the gzip decoder";
    return false;
  }
  // zlib counts in uInt; a file here is never near 4 GiB (kMaxMusicBytes), but feed it in
  // pieces all the same.
  constexpr size_t kPiece = 1u << 20;
  size_t consumed = 0;
  std::vector<uint8_t> chunk(64 * 1024);
  bool ok = true;
  for (;;) {
    if (z.avail_in == 0 && consumed < in.size()) {
      size_t n = std::min(kPiece, in.size() - consumed);
      z.next_in = const_cast<Bytef*>(in.data() + consumed);
      z.avail_in = static_cast<uInt>(n);
      consumed += n;
    }
    z.next_out = chunk.data();
    z.avail_out = static_cast<uInt>(chunk.size());
    int rc = inflate(&z, Z_NO_FLUSH);
    size_t produced = chunk.size() - z.avail_out;
    if (out->size() + produced > max_bytes) {
      *error = "the gzip stream inflates to more than " + std::to_string(max_bytes >> 20) +
               " MiB; refused";
      ok = false;
      break;
    }
    out->insert(out->end(), chunk.begin(), chunk.begin() + static_cast<long>(produced));
    const size_t position = consumed - z.avail_in;
    if (rc == Z_STREAM_END) {
      // Another member may follow; anything else after the stream is ignored.
      if (position + 2 <= in.size() && in[position] == 0x1F && in[position + 1] == 0x8B) {
        inflateReset(&z);
        continue;
      }
      break;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      *error = std::string("corrupt gzip stream near compressed byte ") + Hex(position) + ": " +
               (z.msg != nullptr ? z.msg : "inflate failed");
      ok = false;
      break;
    }
    // All input used and room left in the output: the decoder waits for bytes that never come.
    if (z.avail_in == 0 && consumed >= in.size() && z.avail_out != 0) {
      *warning = "the gzip stream ends early at compressed byte " + Hex(in.size()) +
                 " (truncated file): playing the " + std::to_string(out->size()) +
                 " bytes it holds";
      break;
    }
  }
  inflateEnd(&z);
  if (!ok) out->clear();
  return ok;
}
