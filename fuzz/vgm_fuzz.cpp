// Fuzz target: VGM and gzip-compressed VGZ files through the reader and a short playback.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/check_log.h"
#include "music/gzip_inflate.h"
#include "music/vgm_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  MusicLog log;
  std::string error;
  // Gzip is inflated first, as for a .vgz; a small cap keeps an inflating input quick.
  if (IsGzip(bytes)) {
    std::vector<uint8_t> inflated;
    std::string warning;
    if (!Gunzip(bytes, 1u << 22, &inflated, &error, &warning)) return 0;
    if (ReadVgm(inflated, "fuzz.vgz", &log, &error)) CheckLog(log);
    return 0;
  }
  if (ReadVgm(bytes, "fuzz.vgm", &log, &error)) CheckLog(log);
  return 0;
}
