#include "player/audio_output.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void PutLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void WavHeader(uint8_t* h, uint32_t rate, uint32_t data_bytes) {
  std::memcpy(h, "RIFF", 4);
  PutLe32(h + 4, 36 + data_bytes);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  PutLe32(h + 16, 16);
  PutLe16(h + 20, 1);  // PCM
  PutLe16(h + 22, 2);  // stereo
  PutLe32(h + 24, rate);
  PutLe32(h + 28, rate * 4);
  PutLe16(h + 32, 4);
  PutLe16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  PutLe32(h + 40, data_bytes);
}

constexpr uint64_t kMaxWavData = 0xFFFFFFFFull - 36;

}  // namespace

AudioOutput::~AudioOutput() {
  if (wav_ != nullptr) std::fclose(wav_);
  if (raw_ != nullptr) std::fclose(raw_);
}

bool AudioOutput::OpenWav(const std::string& path, uint32_t rate, std::string* error) {
  wav_ = std::fopen(path.c_str(), "wb");
  if (wav_ == nullptr) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  wav_path_ = path;
  uint8_t header[44];
  WavHeader(header, rate, 0);
  if (std::fwrite(header, 1, sizeof header, wav_) != sizeof header) failed_ = true;
  return true;
}

bool AudioOutput::OpenRaw(const std::string& path, std::string* error) {
  raw_ = std::fopen(path.c_str(), "wb");
  if (raw_ == nullptr) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  raw_path_ = path;
  return true;
}

void AudioOutput::Write(const StereoFrame* frames, int32_t count) {
  if (count <= 0) return;
  const auto n = static_cast<size_t>(count);
  for (size_t i = 0; i < n; ++i) {
    peak_left_ = std::max<int64_t>(peak_left_, std::llabs(frames[i].left));
    peak_right_ = std::max<int64_t>(peak_right_, std::llabs(frames[i].right));
  }
  if (raw_ != nullptr) {
    std::vector<uint8_t> bytes(n * 8);
    for (size_t i = 0; i < n; ++i) {
      PutLe32(&bytes[i * 8], static_cast<uint32_t>(frames[i].left));
      PutLe32(&bytes[i * 8 + 4], static_cast<uint32_t>(frames[i].right));
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), raw_) != bytes.size()) failed_ = true;
  }
  if (wav_ != nullptr) {
    std::vector<uint8_t> bytes(n * 4);
    auto clamp = [this](int32_t v) -> uint16_t {
      if (v > 32767) {
        ++clipped_;
        v = 32767;
      } else if (v < -32768) {
        ++clipped_;
        v = -32768;
      }
      return static_cast<uint16_t>(static_cast<int16_t>(v));
    };
    for (size_t i = 0; i < n; ++i) {
      PutLe16(&bytes[i * 4], clamp(frames[i].left));
      PutLe16(&bytes[i * 4 + 2], clamp(frames[i].right));
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), wav_) != bytes.size()) failed_ = true;
  }
  frames_ += n;
}

bool AudioOutput::Close(std::string* error) {
  bool ok = !failed_;
  if (wav_ != nullptr) {
    uint64_t data = frames_ * 4;
    if (data > kMaxWavData) {
      *error = wav_path_ + ": the render is too long for a WAV file (over 4 GiB of samples)";
      ok = false;
    }
    std::fflush(wav_);
    uint8_t sizes[4];
    PutLe32(sizes, static_cast<uint32_t>(std::min<uint64_t>(36 + data, 0xFFFFFFFFull)));
    if (std::fseek(wav_, 4, SEEK_SET) != 0 || std::fwrite(sizes, 1, 4, wav_) != 4) ok = false;
    PutLe32(sizes, static_cast<uint32_t>(std::min<uint64_t>(data, kMaxWavData)));
    if (std::fseek(wav_, 40, SEEK_SET) != 0 || std::fwrite(sizes, 1, 4, wav_) != 4) ok = false;
    if (std::fclose(wav_) != 0) ok = false;
    wav_ = nullptr;
    if (!ok && error->empty()) *error = "cannot write " + wav_path_;
  }
  if (raw_ != nullptr) {
    if (std::fclose(raw_) != 0) ok = false;
    raw_ = nullptr;
    if (!ok && error->empty()) *error = "cannot write " + raw_path_;
  }
  return ok;
}
