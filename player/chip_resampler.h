// ChipResampler: one chip rendered at its own rate and converted to the output rate by libsoxr
// (very high quality: passband to 0.913 of the output's Nyquist frequency, 20.1 kHz at 44.1 kHz,
// and a transition band as steep as libsoxr's 28-bit conversion).
//
// The chip's time follows the output's exactly: after n output frames have been asked for, the
// chip has rendered floor(n x in_rate / out_rate) frames, so a register write between two Mix
// calls lands at the same instant at the chip's rate. The chip's rate is a clock over a divider
// (the YM2151's clock / 64) and that count is kept in whole numbers, so that every build, with
// whatever floating point, renders the same chip frames between the same writes. The converted sound comes out a fixed
// delay later (the filter's latency, rounded up to whole output frames), which the constructor
// fills with silence.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "vyx/stereo_frame.h"

struct soxr;

class ChipResampler {
 public:
  // render(frames, count) adds count frames at in_rate into frames (zeroed beforehand).
  using Render = std::function<void(StereoFrame* frames, int32_t count)>;

  // The chip runs at in_clock / in_divider frames a second.
  ChipResampler(uint32_t in_clock, uint32_t in_divider, uint32_t out_rate, Render render);
  ~ChipResampler();
  ChipResampler(const ChipResampler&) = delete;
  ChipResampler& operator=(const ChipResampler&) = delete;

  // False when libsoxr refused the rates; the object is then unusable.
  bool ok() const { return soxr_ != nullptr; }
  // Output frames of silence ahead of the converted sound.
  size_t latency() const { return ready_.size() / 2; }  // two samples a frame
  // Adds count output frames into frames.
  void Mix(StereoFrame* frames, int32_t count);

 private:
  soxr* soxr_ = nullptr;
  Render render_;
  // An output frame is in_clock_ / out_ticks_ chip frames (both rates times the divider).
  uint64_t in_clock_;
  uint64_t out_ticks_;
  uint64_t in_target_ = 0;     // whole chip frames due for the output frames asked so far
  uint64_t in_fraction_ = 0;   // and the part of one still due, in 1/out_ticks_ of a frame
  uint64_t in_rendered_ = 0;   // chip frames rendered so far
  std::vector<StereoFrame> input_;  // one block of chip frames
  std::vector<int32_t> ready_;      // converted samples not yet handed out, interleaved
  size_t ready_start_ = 0;          // in samples
};
