// Picks the reader by content: gzip is inflated first, then "Vgm " or "S98" decides.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "music/gzip_inflate.h"
#include "music/music_reader.h"
#include "music/s98_reader.h"
#include "music/vgm_reader.h"

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
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
    if (bytes->size() + n > kMaxMusicBytes) {
      *error = path + ": larger than " + std::to_string(kMaxMusicBytes >> 20) + " MiB; refused";
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

bool ReadMusic(const std::vector<uint8_t>& bytes, const std::string& name, MusicLog* log,
               std::string* error) {
  if (IsGzip(bytes)) {
    std::vector<uint8_t> inflated;
    std::string why;
    if (!Gunzip(bytes, kMaxMusicBytes, &inflated, &why)) {
      *error = name + ": " + why;
      return false;
    }
    if (inflated.size() >= 3 && std::memcmp(inflated.data(), "S98", 3) == 0) {
      return ReadS98(inflated, name, log, error);
    }
    return ReadVgm(inflated, name, log, error);
  }
  if (bytes.size() >= 3 && std::memcmp(bytes.data(), "S98", 3) == 0) {
    return ReadS98(bytes, name, log, error);
  }
  if (bytes.size() >= 4 && std::memcmp(bytes.data(), "Vgm ", 4) == 0) {
    return ReadVgm(bytes, name, log, error);
  }
  *error = name + ": neither a VGM (\"Vgm \"), a gzip-compressed VGZ nor an S98 file";
  return false;
}

bool ReadMusicFile(const std::string& path, MusicLog* log, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(path, &bytes, error)) return false;
  return ReadMusic(bytes, path, log, error);
}

bool IsMusicPath(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext == "vgm" || ext == "vgz" || ext == "s98";
}
