// Test helpers for the music readers: where the shared test files are, and builders for small
// VGM and S98 files made byte by byte.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "music/music_reader.h"

// The shared test files: $VORLA_SHARED_DIR/testdata, else the build's VORLA_SHARED_DIR (by
// default ../shared beside the repository).
#ifndef VORLA_SHARED_DEFAULT
#define VORLA_SHARED_DEFAULT VORLA_SOURCE_DIR "/../shared"
#endif
inline std::string TestDataDir() {
  const char* env = std::getenv("VORLA_SHARED_DIR");
  const std::string shared = env != nullptr && *env != 0 ? env : VORLA_SHARED_DEFAULT;
  return shared + "/testdata";
}

// The path of a shared test file, or "" when it is not there.
inline std::string TestFile(const std::string& relative) {
  const std::string path = TestDataDir() + "/" + relative;
  return std::filesystem::exists(path) ? path : std::string();
}

// CI runs beside the shared files: there a missing file is a fault of the set-up and fails the
// test; elsewhere the test skips, saying so.
inline bool RunningInCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && *ci != 0;
}

#define SKIP_WITHOUT_TEST_DATA(message)                                        \
  do {                                                                         \
    if (RunningInCi()) FAIL() << message << " (CI is set: they must be there)"; \
    GTEST_SKIP() << message;                                                   \
  } while (0)

#define REQUIRE_TEST_FILE(var, relative)                                               \
  const std::string var = TestFile(relative);                                          \
  if (var.empty()) {                                                                   \
    SKIP_WITHOUT_TEST_DATA("shared test file " << relative << " not found under "      \
                                               << TestDataDir() << " (set VORLA_SHARED_DIR)"); \
  }

inline std::vector<uint8_t> LoadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void SaveBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void PutU32(std::vector<uint8_t>* b, size_t offset, uint32_t v) {
  if (b->size() < offset + 4) b->resize(offset + 4);
  for (int i = 0; i < 4; ++i) (*b)[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A VGM file: header of header_size bytes, the data right after it.
class VgmFile {
 public:
  explicit VgmFile(uint32_t version = 0x171, size_t header_size = 0x100) : bytes_(header_size) {
    bytes_[0] = 'V';
    bytes_[1] = 'g';
    bytes_[2] = 'm';
    bytes_[3] = ' ';
    PutU32(&bytes_, 0x08, version);
    if (version >= 0x150) PutU32(&bytes_, 0x34, static_cast<uint32_t>(header_size - 0x34));
  }
  VgmFile& Set(size_t offset, uint32_t value) {
    PutU32(&bytes_, offset, value);
    return *this;
  }
  VgmFile& Byte(size_t offset, uint8_t value) {
    bytes_[offset] = value;
    return *this;
  }
  VgmFile& Cmd(std::initializer_list<uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes);
    return *this;
  }
  size_t size() const { return bytes_.size(); }
  // Marks the loop point at the next command (relative to 0x1C).
  VgmFile& LoopHere() { return Set(0x1C, static_cast<uint32_t>(bytes_.size() - 0x1C)); }
  // The file with its EOF offset filled in.
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> b = bytes_;
    PutU32(&b, 0x04, static_cast<uint32_t>(b.size() - 4));
    return b;
  }

 private:
  std::vector<uint8_t> bytes_;
};

// An S98 version 3 file: header, device records, then the dump data.
class S98File {
 public:
  S98File(std::initializer_list<std::pair<uint32_t, uint32_t>> devices, char version = '3')
      : bytes_(0x20) {
    bytes_[0] = 'S';
    bytes_[1] = '9';
    bytes_[2] = '8';
    bytes_[3] = static_cast<uint8_t>(version);
    size_t record = 0x20;
    for (const auto& [type, clock] : devices) {
      PutU32(&bytes_, record, type);
      PutU32(&bytes_, record + 4, clock);
      PutU32(&bytes_, record + 8, 0);
      PutU32(&bytes_, record + 12, 0);
      record += 16;
    }
    if (version == '3') PutU32(&bytes_, 0x1C, static_cast<uint32_t>(devices.size()));
    if (version == '2') PutU32(&bytes_, record, 0);  // end of the device list
    bytes_.resize(version == '2' ? record + 16 : record);
    PutU32(&bytes_, 0x14, static_cast<uint32_t>(bytes_.size()));
  }
  S98File& Set(size_t offset, uint32_t value) {
    PutU32(&bytes_, offset, value);
    return *this;
  }
  S98File& Cmd(std::initializer_list<uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes);
    return *this;
  }
  S98File& Text(const std::string& text) {
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
  }
  size_t size() const { return bytes_.size(); }
  S98File& LoopHere() { return Set(0x18, static_cast<uint32_t>(bytes_.size())); }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// A second of a PSG's 440 Hz tone, channel A at level 15: an S98 song made here, for tests that
// need a song that sounds and nothing more.
inline std::vector<uint8_t> PsgToneSong() {
  constexpr uint32_t kPsg = 1;  // S98 device type: YM2149-compatible PSG
  S98File song({{kPsg, 2000000}});
  song.Cmd({0x00, 0x00, 0x8E, 0x00, 0x01, 0x00, 0x00, 0x07, 0x3E, 0x00, 0x08, 0x0F});
  song.Cmd({0xFE, 0x62, 0xFD});  // 100 syncs of 10 ms, then the end
  return song.Bytes();
}

// The bytes gzip-compressed, as a .vgz holds them.
inline std::vector<uint8_t> GzipBytes(const std::vector<uint8_t>& in) {
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(in.size())) + 64);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Whether any of the lines (warnings, notes) holds the text.
inline bool Contains(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

// The log of a file that must read; `name` is what messages call it.
inline MusicLog ReadLog(const std::vector<uint8_t>& bytes, const std::string& name) {
  MusicLog log;
  std::string error;
  EXPECT_TRUE(ReadMusic(bytes, name, &log, &error)) << error;
  return log;
}

// The error of a file that must not read.
inline std::string ReadLogError(const std::vector<uint8_t>& bytes, const std::string& name) {
  MusicLog log;
  std::string error;
  EXPECT_FALSE(ReadMusic(bytes, name, &log, &error));
  return error;
}

// How many writes of a kind of chip the reader skipped.
inline uint64_t Skipped(const MusicLog& log, const std::string& kind) {
  auto it = log.skipped.find(kind);
  return it == log.skipped.end() ? 0 : it->second;
}
