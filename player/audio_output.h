// Where rendered frames go: a 16-bit stereo WAV file (clamped, clipped samples counted) and/or
// a raw file of the unclamped little-endian int32 left/right pairs exactly as the board added
// them to zeroed frames. Peaks are tracked for the summary.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "module/vyx.h"

class AudioOutput {
 public:
  AudioOutput() = default;
  ~AudioOutput();
  AudioOutput(const AudioOutput&) = delete;
  AudioOutput& operator=(const AudioOutput&) = delete;

  bool OpenWav(const std::string& path, uint32_t rate, std::string* error);
  bool OpenRaw(const std::string& path, std::string* error);
  void Write(const StereoFrame* frames, int32_t count);
  // Completes the files (the WAV header's sizes); false with a reason on a write error.
  bool Close(std::string* error);

  uint64_t frames() const { return frames_; }
  uint64_t clipped_samples() const { return clipped_; }
  int64_t peak_left() const { return peak_left_; }
  int64_t peak_right() const { return peak_right_; }

 private:
  FILE* wav_ = nullptr;
  FILE* raw_ = nullptr;
  std::string wav_path_;
  std::string raw_path_;
  bool failed_ = false;
  uint64_t frames_ = 0;
  uint64_t clipped_ = 0;
  int64_t peak_left_ = 0;
  int64_t peak_right_ = 0;
};
