// Picks the reader by content: gzip is inflated first, then "Vgm " or "S98" decides.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/ascii.h"
#include "music/gzip_inflate.h"
#include "music/music_reader.h"
#include "music/s98_reader.h"
#include "music/vgm_reader.h"

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error,
                   size_t limit) {
  if (limit == 0) limit = kMaxMusicBytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *error = path + ": cannot open the file: " + std::strerror(errno);
    return false;
  }
  bytes->clear();
  uint8_t buffer[64 * 1024];
  size_t n;
  bool ok = true;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    if (bytes->size() + n > limit) {
      *error = path + ": larger than " + std::to_string(limit >> 20) + " MiB; refused";
      ok = false;
      break;
    }
    bytes->insert(bytes->end(), buffer, buffer + n);
  }
  if (ok && std::ferror(f)) {
    *error = path + ": read error: " + std::strerror(errno);
    ok = false;
  }
  std::fclose(f);
  return ok;
}

namespace {

bool StartsWith(const std::vector<uint8_t>& bytes, const char* magic, size_t size) {
  return bytes.size() >= size && std::memcmp(bytes.data(), magic, size) == 0;
}

// The clocks a chip can run at, in Hz. A clock far outside them is no real chip, and would make
// the converters of chips mode grow without bound.
constexpr uint32_t kOpmClockMin = 1'000'000;
constexpr uint32_t kOpmClockMax = 10'000'000;
constexpr uint32_t kPsgClockMin = 500'000;
constexpr uint32_t kPsgClockMax = 5'000'000;

bool ClockInRange(const std::string& name, const std::string& chip, uint32_t clock, uint32_t min,
                  uint32_t max, std::string* error) {
  if (clock >= min && clock <= max) return true;
  char range[64];
  std::snprintf(range, sizeof range, "%g MHz to %g MHz", min / 1e6, max / 1e6);
  *error = name + ": refused: a " + chip + " runs at " + range + ", the file gives it " +
           std::to_string(clock) + " Hz";
  return false;
}

// Picks the reader by the bytes' start ("S98", else VGM, which names a file that is neither);
// a log whose chips cannot be is refused.
bool ReadPlain(const std::vector<uint8_t>& bytes, const std::string& name, MusicLog* log,
               std::string* error) {
  const bool ok = StartsWith(bytes, "S98", 3) ? ReadS98(bytes, name, log, error)
                                              : ReadVgm(bytes, name, log, error);
  if (!ok) return false;
  if (log->opm_clock != 0 &&
      !ClockInRange(name, "YM2151", log->opm_clock, kOpmClockMin, kOpmClockMax, error)) {
    return false;
  }
  for (int i = 0; i < kMusicPsgCount; ++i) {
    const std::string chip = log->psg_type[i] + " (PSG " + std::to_string(i + 1) + ")";
    if (log->has_psg(i) &&
        !ClockInRange(name, chip, log->psg_clock[i], kPsgClockMin, kPsgClockMax, error)) {
      return false;
    }
  }
  return true;
}

// Inflates a gzip file (dropping the compressed bytes once inflated, so that both are never
// held beside the log) and reads it; a cut-off stream plays what it holds, with a warning.
bool ReadGzip(std::vector<uint8_t>* compressed, const std::string& name, MusicLog* log,
              std::string* error) {
  std::vector<uint8_t> inflated;
  std::string why;
  std::string warning;
  const bool ok = Gunzip(*compressed, kMaxMusicBytes, &inflated, &why, &warning);
  std::vector<uint8_t>().swap(*compressed);
  if (!ok) {
    *error = name + ": " + why;
    return false;
  }
  if (!ReadPlain(inflated, name, log, error)) {
    if (!warning.empty()) *error += " (" + warning + ")";
    return false;
  }
  if (!warning.empty()) log->warnings.insert(log->warnings.begin(), warning);
  return true;
}

}  // namespace

bool ReadMusic(const std::vector<uint8_t>& bytes, const std::string& name, MusicLog* log,
               std::string* error) {
  if (IsGzip(bytes)) {
    std::vector<uint8_t> copy(bytes);
    return ReadGzip(&copy, name, log, error);
  }
  if (StartsWith(bytes, "S98", 3) || StartsWith(bytes, "Vgm ", 4)) {
    return ReadPlain(bytes, name, log, error);
  }
  *error = name + ": neither a VGM (\"Vgm \"), a gzip-compressed VGZ nor an S98 file";
  return false;
}

bool ReadMusicBytes(std::vector<uint8_t>* bytes, const std::string& name, MusicLog* log,
                    std::string* error) {
  if (IsGzip(*bytes)) return ReadGzip(bytes, name, log, error);
  return ReadMusic(*bytes, name, log, error);
}

bool ReadMusicFile(const std::string& path, MusicLog* log, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(path, &bytes, error)) return false;
  return ReadMusicBytes(&bytes, path, log, error);
}

bool IsMusicStart(const std::vector<uint8_t>& bytes) {
  return IsGzip(bytes) || StartsWith(bytes, "Vgm ", 4) || StartsWith(bytes, "S98", 3);
}

bool IsMusicFile(const std::string& path) {
  // By content first: gzip, "Vgm " or "S98" at the start.
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t start[4] = {};
    const size_t n = std::fread(start, 1, sizeof start, f);
    std::fclose(f);
    if (IsMusicStart(std::vector<uint8_t>(start, start + n))) return true;
  }
  const size_t dot = path.rfind('.');
  const size_t slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot + 1);
  ext = AsciiLower(ext);
  return ext == "vgm" || ext == "vgz" || ext == "s98";
}
