// Fuzz target: S98 files through the reader and a short playback.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/check_log.h"
#include "music/s98_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  MusicLog log;
  std::string error;
  if (ReadS98(bytes, "fuzz.s98", &log, &error)) CheckLog(log);
  return 0;
}
