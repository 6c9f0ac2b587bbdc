// FmChipSound: the board's FM chip heard as the chip sounds: rendered at its own rate (clock /
// 64) in the chip's own variant and converted to the output rate (RateConverter), with no delay.
//
// The converter reads RateConverter::kHalf chip frames past each output frame's time, frames
// the program has not written yet. So the chip runs ahead: a copy of it (ahead_) renders those
// frames as they would sound if nothing were written, and a write (Settle first) drops them; the
// frames after the write are rendered again from the chip as written. An output frame is thus
// always made from the chip as written up to its own time, and a key-on sounds from the frame
// of its write on. Every output frame comes from the same chip frames whatever the sizes of the
// Mix calls, so that the sound does not depend on them.
//
// The chip itself (the board's, holding the registers the program wrote, its timers and status)
// may lag behind the present while the copy ahead renders for it: Settle and CatchUp bring it
// to the present. In long Mix calls it renders what plays and the copy only the window ahead;
// in short ones the copy goes on in runs and marks where each run starts (a copy of itself),
// and the chip catches up from the last mark the present has passed, so that few frames are
// rendered twice.
#pragma once

#include <cstdint>
#include <vector>

#include "chip_sound/rate_converter.h"
#include "fm/opm_chip.h"
#include "vyx/stereo_frame.h"

class FmChipSound {
 public:
  static constexpr uint32_t kDivider = 64;

  // chip: the board's FM chip; it is set to its own rate and the chip's variant here. Its
  // volume must stay at unity (0): SetVolume sets the volume heard.
  FmChipSound(OpmChip* chip, uint32_t clock, uint32_t rate);
  FmChipSound(const FmChipSound&) = delete;
  FmChipSound& operator=(const FmChipSound&) = delete;

  // Half-decibel steps, 0 = unity, at most +20 (10 dB); -192 and below are silent, as the
  // chip's own volume. Applied after the conversion, to the chip's 16-bit sound, from the next
  // output frame on.
  void SetVolume(int32_t setting);
  // The output rate changes: what is due is rendered at the old one first.
  void SetRate(uint32_t rate);
  // Before anything changes the chip (a write, a reset, the volume, a restored state): the
  // chip is brought to the present and what ran ahead of it dropped.
  void Settle();
  // The chip at the present (its timers, for a status read), what runs ahead kept.
  void CatchUp();
  // Adds count output frames into frames.
  void Mix(StereoFrame* frames, int32_t count);
  // count output frames without sound (the real chip plays the FM part): the chip's timers
  // move on, and the sound after it starts from silence.
  void Skip(int32_t count);
  // After Settle, the chip was given a state (which keeps the rate and variant it was made
  // with): it is set to its own again, and its sound goes on from the state.
  void Restart();

 private:
  void SetUpChip();
  // What ran ahead no longer counts: the copy and its marks.
  void DropAhead();
  // Output frames at most a step of Mix: keeps the chip frames a step needs within bounds.
  int32_t StepFrames(int32_t count) const;
  // The chip frame that output frame j of this rate falls in.
  uint64_t ChipAt(uint64_t j) const { return base_ + converter_.ChipFrames(j); }
  void Step(StereoFrame* frames, int32_t count);
  // The chip's frames up to `end`, into the ring.
  void RenderChip(uint64_t end);
  void RenderAhead(uint64_t end);
  // Renders chip frames [from, end) of chip into the ring.
  void RenderInto(OpmChip& chip, uint64_t from, uint64_t end);
  // Makes room in the ring for chip frames up to `end`, keeping what is still to be read from
  // `frame` on.
  void Reserve(uint64_t frame, uint64_t end);
  // The ring from `frame` on, silent, with the chip and the copy at `frame`.
  void Silence(uint64_t frame);

  OpmChip* chip_;
  OpmChip ahead_;
  bool ahead_valid_ = false;
  uint32_t clock_;
  uint32_t rate_;
  RateConverter converter_;
  uint64_t base_ = RateConverter::kTaps;  // the chip frame of output frame 0 at this rate
  uint64_t frames_ = 0;                   // output frames mixed at this rate
  uint64_t chip_at_ = 0;                  // chip frames the chip has rendered
  uint64_t ahead_at_ = 0;                 // and the copy, ahead of it (when valid)
  // The copy as it was at mark_at_: usable_ (-1: none) at or before the present, where the chip
  // may catch up from instead of rendering; pending_ past it, usable once the present is there.
  OpmChip marks_[2];
  uint64_t mark_at_[2] = {};
  int usable_ = -1;
  int pending_ = -1;
  int32_t gain_ = 16384;  // the volume, 16384 = unity
  // Each side's chip frames from ring_start_ on, as rendered; what lies below ring_start_ is no
  // longer read.
  std::vector<int16_t> left_;
  std::vector<int16_t> right_;
  uint64_t ring_start_ = 0;
  uint64_t last_sound_ = 0;  // the last chip frame in the ring that was not silent
  std::vector<StereoFrame> scratch_;  // a piece of the chip's frames as it renders them
};
