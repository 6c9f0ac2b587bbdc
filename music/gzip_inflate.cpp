#include "music/gzip_inflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>

#include "common/hex_text.h"

bool IsGzip(const std::vector<uint8_t>& bytes) {
  return bytes.size() >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B;
}

namespace {

// zlib counts in uInt; a file here is never near 4 GiB (kMaxMusicBytes), but it is fed in pieces
// all the same. Gives the next piece of input when the decoder has used the last; *consumed
// counts the bytes handed over.
void Feed(const std::vector<uint8_t>& in, z_stream* z, size_t* consumed) {
  constexpr size_t kPiece = 1u << 20;
  if (z->avail_in == 0 && *consumed < in.size()) {
    size_t n = std::min(kPiece, in.size() - *consumed);
    z->next_in = const_cast<Bytef*>(in.data() + *consumed);
    z->avail_in = static_cast<uInt>(n);
    *consumed += n;
  }
}

// Runs the started decoder over every member of the stream; false with a reason in *error.
bool InflateMembers(const std::vector<uint8_t>& in, size_t max_bytes, z_stream* z,
                    std::vector<uint8_t>* out, std::string* error, std::string* warning) {
  size_t consumed = 0;
  std::vector<uint8_t> chunk(64 * 1024);
  for (;;) {
    Feed(in, z, &consumed);
    z->next_out = chunk.data();
    z->avail_out = static_cast<uInt>(chunk.size());
    int rc = inflate(z, Z_NO_FLUSH);
    size_t produced = chunk.size() - z->avail_out;
    if (out->size() + produced > max_bytes) {
      *error = "the gzip stream inflates to more than " + std::to_string(max_bytes >> 20) +
               " MiB; refused";
      return false;
    }
    out->insert(out->end(), chunk.begin(), chunk.begin() + static_cast<long>(produced));
    const size_t position = consumed - z->avail_in;
    if (rc == Z_STREAM_END) {
      // Another member may follow; anything else after the stream is ignored.
      if (position + 2 <= in.size() && in[position] == 0x1F && in[position + 1] == 0x8B) {
        inflateReset(z);
        continue;
      }
      return true;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      *error = std::string("corrupt gzip stream near compressed byte ") + Hex(position) + ": " +
               (z->msg != nullptr ? z->msg : "inflate failed");
      return false;
    }
    // All input used and room left in the output: the decoder waits for bytes that never come.
    if (z->avail_in == 0 && consumed >= in.size() && z->avail_out != 0) {
      *warning = "the gzip stream ends early at compressed byte " + Hex(in.size()) +
                 " (truncated file): playing the " + std::to_string(out->size()) +
                 " bytes it holds";
      return true;
    }
  }
}

}  // namespace

bool Gunzip(const std::vector<uint8_t>& in, size_t max_bytes, std::vector<uint8_t>* out,
            std::string* error, std::string* warning) {
  out->clear();
  z_stream z{};
  // 16 + MAX_WBITS: a gzip wrapper, not zlib's own.
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
    *error = "cannot start the gzip decoder";
    return false;
  }
  const bool ok = InflateMembers(in, max_bytes, &z, out, error, warning);
  inflateEnd(&z);
  if (!ok) out->clear();
  return ok;
}
