// RateConverter: a chip's frames at its own rate made into frames at the output rate by a
// polyphase FIR filter that reads a window of the chip's frames around each output frame's
// time, in whole numbers, so that every build computes the same frames.
//
// The chip runs at clock / divider frames a second. Output frame j falls at chip time
// j x clock / (divider x rate): chip frame ip plus a fraction. Its value is the sum over the
// kTaps chip frames ip - kHalf + 1 .. ip + kHalf, each times the filter's tap for its distance
// from that time. The filter is a Kaiser-windowed sinc cut at 0.97 of the lower half rate
// (21.4 kHz at 44.1 kHz out of 62.4 kHz): -0.35 dB at 20 kHz, and what folds back into the
// audible band 62 dB down from 23.5 kHz (to 20.6 kHz), 76 dB from 25 kHz, 84 dB from 28 kHz
// (`chips_measure chipsound`). Its phases are exact where the rates repeat
// within kMaxPhases output frames (44.1 kHz: 147, 48 kHz: 10) and otherwise rounded down to
// 1 / kMaxPhases of a chip frame. Each phase's taps sum to exactly 1 (kUnity): a constant
// passes unchanged.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vyx/stereo_frame.h"

class RateConverter {
 public:
  static constexpr int32_t kTaps = 64;
  static constexpr int32_t kHalf = kTaps / 2;  // chip frames the window reaches ahead
  static constexpr int32_t kUnityBits = 14;  // each phase's taps sum to 2^14
  static constexpr uint32_t kMaxPhases = 1024;

  RateConverter(uint32_t clock, uint32_t divider, uint32_t rate);

  // Chip frames between output frame 0 and output frame `frames`, rounded down.
  uint64_t ChipFrames(uint64_t frames) const { return frames * num_ / den_; }
  // Adds count output frames from `first` on into out, each side times gain / 2^14. left and
  // right hold the chip's two sides (16-bit, as its DAC gives them) from chip frame
  // ChipFrames(first) - kHalf + 1 on, from which the window of each output frame is read: the
  // last frame read is ChipFrames(first + count - 1) + kHalf.
  void Convert(const int16_t* left, const int16_t* right, uint64_t first, int32_t gain,
               StereoFrame* out, int32_t count) const;

 private:
  uint64_t num_;  // clock
  uint64_t den_;  // divider x rate
  uint64_t phase_unit_ = 1;  // exact phases: den_ / phases_; otherwise 0
  uint32_t phases_ = 1;
  std::shared_ptr<const std::vector<int16_t>> taps_;  // phases_ rows of kTaps
};
