// PsgChipSound: one of the board's PSGs heard as the chip sounds: its channels in the chip's own
// behaviour (Psg::SetChipTrue), each change of a level drawn band-limited at its exact time as a
// StepKernel step, the sum passed through a DC blocker (the chip's output is one-sided), with no
// delay, onto the sides that the board's routing selects.
//
// A step rises around StepKernel::kDelay frames after its change, so an output frame needs the
// changes of the kDelay frames after it. As the FM does (FmChipSound), the PSG runs ahead: a
// copy of it (ahead_) renders those frames as they would sound if nothing were written, and a
// write (Changed) drops them. The PSG itself is always at the present: its steps go into
// increments_ and level_, the copy's into ahead_steps_, which count only until the PSG has
// rendered the same frames itself.
#pragma once

#include <cstdint>
#include <vector>

#include "psg/psg.h"
#include "psg/psg_sink.h"
#include "psg/step_kernel.h"
#include "vyx/stereo_frame.h"

class PsgChipSound {
 public:
  // psg: the board's PSG, in the chips' behaviour; rate: the output's.
  PsgChipSound(Psg* psg, uint32_t rate);
  PsgChipSound(const PsgChipSound&) = delete;
  PsgChipSound& operator=(const PsgChipSound&) = delete;

  // The output rate changed (the PSG's clock is set again by its owner).
  void SetRate(uint32_t rate);
  // Something changed the PSG (a write, a reset, its volume, a restored state): what ran ahead
  // is dropped.
  void Changed() { ahead_valid_ = false; }
  // Adds count frames into frames: onto the left side if routing has bit 0, the right if bit 1.
  void Mix(StereoFrame* frames, int32_t count, uint32_t routing);

 private:
  static constexpr uint32_t kChannels = PsgSink::kChannels;
  static constexpr uint32_t kTaps = StepKernel::kTaps;
  static constexpr uint32_t kDelay = StepKernel::kDelay;
  static constexpr uint64_t kRing = 4096;  // more than a block and the taps past it
  static constexpr uint64_t kAheadSlack = 32;  // frames the copy goes on past what is needed

  struct AheadStep {
    uint64_t frame;
    uint32_t phase;
    uint32_t channel;
    int64_t change;
  };
  // Takes the blocks that Psg::Render makes, for the PSG or for its copy ahead.
  class Steps final : public PsgSink {
   public:
    explicit Steps(PsgChipSound* owner) : PsgSink(true), owner_(owner) {}
    void Block(int32_t frames) override { owner_->TakeBlock(frames); }

   private:
    PsgChipSound* owner_;
  };

  void TakeBlock(int32_t frames);
  // A change of channel c to level at frame (phase: 1 / StepKernel::kPhases of a frame).
  void Change(uint32_t c, int32_t level, uint64_t frame, uint32_t phase);
  // Renders count frames of the PSG, or of the copy ahead, into its steps.
  void Render(bool ahead, int32_t count);
  // The output frames [at_ - count, at_), after the PSG rendered them.
  void Output(StereoFrame* frames, int32_t count, uint32_t routing);

  Psg* psg_;
  Psg ahead_;
  bool ahead_valid_ = false;
  bool rendering_ahead_ = false;  // which of the two Steps is taking
  uint64_t block_at_ = 0;         // the frame the block being taken starts at
  uint64_t render_end_ = 0;       // and the frame the render ends at
  // Bit c: the PSG's last render ended on a change of channel c at its very end, which the copy
  // ahead has as the first change of its next frame.
  uint32_t carried_ = 0;
  Steps steps_;
  uint64_t at_ = 0;        // frames the PSG has rendered (and output frames mixed)
  uint64_t ahead_at_ = 0;  // frames the copy has rendered
  int32_t last_[kChannels] = {};        // each channel's level as the PSG left it
  int32_t ahead_last_[kChannels] = {};  // and as the copy left it
  // The step sum, StepKernel::kUnity a level: level_ up to frame at_ + kDelay - 1 (where the
  // outputs have read it), increments_ the PSG's steps after it, by frame modulo kRing.
  int64_t level_ = 0;
  std::vector<int64_t> increments_ = std::vector<int64_t>(kRing);
  uint64_t pending_until_ = 0;  // the frame from which increments_ holds nothing more
  std::vector<AheadStep> ahead_steps_;  // the copy's changes not yet rendered by the PSG
  // The DC blocker: its last input, its last output in 1 / 2^16 units, its leak in 1 / 2^24.
  int32_t dc_in_ = 0;
  int64_t dc_out_ = 0;
  int64_t dc_leak_ = 0;
};
