#include "output/audio_output.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/le_bytes.h"
#include "output/clock_text.h"

namespace {

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

}  // namespace

std::string TooLongForWav(const std::string& path, uint64_t frames, double seconds,
                          uint32_t rate) {
  return "cannot write " + path + ": the render is " + FormatClock(seconds) + " long (" +
         std::to_string(frames) + " frames), more than a 16-bit stereo WAV file holds (" +
         std::to_string(AudioOutput::kMaxWavFrames) + " frames, " +
         FormatClock(static_cast<double>(AudioOutput::kMaxWavFrames) / rate) + " at " +
         std::to_string(rate) + " Hz); write it with --raw, or render a part with --length SECONDS";
}

AudioOutput::~AudioOutput() { Discard(); }

bool AudioOutput::Open(File* file, const std::string& path, std::string* error) {
  file->target = path;
  file->out = set_->Open(path, error);
  return file->out != nullptr;
}

bool AudioOutput::OpenWav(const std::string& path, uint32_t rate, uint64_t frames,
                          std::string* error) {
  if (!Open(&wav_, path, error)) return false;
  wav_frames_ = frames <= kMaxWavFrames ? frames : 0;
  uint8_t header[44];
  WavHeader(header, rate, static_cast<uint32_t>(wav_frames_ * 4));
  Put(&wav_, header, sizeof header);
  return true;
}

bool AudioOutput::OpenRaw(const std::string& path, std::string* error) {
  return Open(&raw_, path, error);
}

void AudioOutput::Fail(const File& file, int error_number) {
  if (failed_) return;
  failed_ = true;
  error_ = "cannot write " + file.target + ": " +
           (error_number != 0 ? std::strerror(error_number) : "write error");
}

bool AudioOutput::Put(File* file, const void* bytes, size_t size) {
  if (failed_) return false;
  errno = 0;
  if (std::fwrite(bytes, 1, size, file->out->stream()) != size) Fail(*file, errno);
  return !failed_;
}

bool AudioOutput::Write(const StereoFrame* frames, int32_t count) {
  if (failed_) return false;
  if (count <= 0) return true;
  const auto n = static_cast<size_t>(count);
  TrackPeaks(frames, n);
  if (raw_.out != nullptr) PutRaw(frames, n);
  if (wav_.out != nullptr && !PutWav(frames, n)) return false;
  frames_ += n;
  return !failed_;
}

void AudioOutput::TrackPeaks(const StereoFrame* frames, size_t n) {
  // Peaks from the smallest and largest value of each side, widened once (|INT32_MIN| needs 64
  // bits): a plain min/max loop that the compiler vectorises.
  int32_t min_left = 0, max_left = 0, min_right = 0, max_right = 0;
  for (size_t i = 0; i < n; ++i) {
    min_left = std::min(min_left, frames[i].left);
    max_left = std::max(max_left, frames[i].left);
    min_right = std::min(min_right, frames[i].right);
    max_right = std::max(max_right, frames[i].right);
  }
  peak_left_ = std::max({peak_left_, int64_t{max_left}, -int64_t{min_left}});
  peak_right_ = std::max({peak_right_, int64_t{max_right}, -int64_t{min_right}});
}

void AudioOutput::PutRaw(const StereoFrame* frames, size_t n) {
  if constexpr (std::endian::native == std::endian::little && sizeof(StereoFrame) == 8) {
    // The frames already are the file's little-endian int32 pairs.
    Put(&raw_, frames, n * sizeof(StereoFrame));
  } else {
    std::vector<uint8_t> bytes(n * 8);
    for (size_t i = 0; i < n; ++i) {
      PutLe32(&bytes[i * 8], static_cast<uint32_t>(frames[i].left));
      PutLe32(&bytes[i * 8 + 4], static_cast<uint32_t>(frames[i].right));
    }
    Put(&raw_, bytes.data(), bytes.size());
  }
}

bool AudioOutput::PutWav(const StereoFrame* frames, size_t n) {
  if (frames_ + n > kMaxWavFrames) {
    failed_ = true;
    error_ = "cannot write " + wav_.target + ": more than a WAV file holds (4 GiB)";
    return false;
  }
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
  Put(&wav_, bytes.data(), bytes.size());
  return true;
}

void AudioOutput::Drop(File* file) {
  if (file->out != nullptr) set_->Discard(file->out);
  file->out = nullptr;
}

void AudioOutput::Discard() {
  Drop(&wav_);
  Drop(&raw_);
}

bool AudioOutput::Close(std::string* error) {
  if (wav_.out != nullptr && !failed_ && frames_ != wav_frames_) {
    const auto data = static_cast<uint32_t>(frames_ * 4);
    uint8_t sizes[4];
    std::FILE* stream = wav_.out->stream();
    std::fflush(stream);
    PutLe32(sizes, 36 + data);
    if (std::fseek(stream, 4, SEEK_SET) != 0) Fail(wav_, errno);
    Put(&wav_, sizes, 4);
    PutLe32(sizes, data);
    if (!failed_ && std::fseek(stream, 40, SEEK_SET) != 0) Fail(wav_, errno);
    Put(&wav_, sizes, 4);
  }
  for (File* file : {&wav_, &raw_}) {
    if (file->out == nullptr || failed_) continue;
    std::string why;
    if (!file->out->Close(&why)) {
      failed_ = true;
      error_ = why;
    }
  }
  if (!failed_ && set_ == &own_ && !own_.Commit(&error_)) failed_ = true;
  if (failed_) {
    Discard();
    *error = error_;
    return false;
  }
  wav_.out = raw_.out = nullptr;  // the set holds them from here
  return true;
}
