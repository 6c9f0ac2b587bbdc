// PsgChipSound: one of the board's PSGs heard as the chip sounds: its channels in the chip's own
// behaviour (Psg::SetChipTrue), each change of a level drawn band-limited at its exact time as a
// StepKernel step, the sum passed through a DC blocker (the chip's output is one-sided), with no
// delay, onto the sides that the board's routing selects.
//
// A step rises around StepKernel::kDelay frames after its change, so an output frame needs the
// changes of the kDelay frames after it. As the FM does (FmChipSound), the PSG runs ahead: a
// copy of it (ahead_) renders those frames as they would sound if nothing were written, and a
// change of the PSG (Changed, before it) takes back the steps the copy made from the present on.
// Every frame's steps go into the step sum once, from whichever of the two rendered the frame
// first: in short Mix calls the copy goes on ahead and the PSG lags, catching up (without
// adding its steps again) before a change and now and then; in long ones the PSG renders what
// plays and the copy only the frames ahead. The sound is the same whatever the sizes of the
// calls.
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

  // The output rate changes, before the PSG's clock is set for it.
  void SetRate(uint32_t rate);
  // Before something changes the PSG (a write, a reset, its volume, a state given to it): the
  // PSG is brought to the present and what ran ahead of it is taken back.
  void Changed();
  // Adds count frames into frames: onto the left side if routing has bit 0, the right if bit 1.
  void Mix(StereoFrame* frames, int32_t count, uint32_t routing);

 private:
  static constexpr uint32_t kChannels = PsgSink::kChannels;
  static constexpr uint32_t kTaps = StepKernel::kTaps;
  static constexpr uint32_t kDelay = StepKernel::kDelay;
  static constexpr uint64_t kRing = 4096;       // more than a block and the taps past it
  static constexpr uint64_t kAheadSlack = 32;   // frames the copy goes on past what is needed
  static constexpr uint64_t kMaxLag = 2048;     // frames the PSG may lag behind the present

  // A step the copy ahead added at or after the present, to take back if the PSG changes.
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
  // Channel c takes level at frame (phase: 1 / StepKernel::kPhases of a frame).
  void Change(uint32_t c, int32_t level, uint64_t frame, uint32_t phase);
  // Renders count frames of the PSG (at_ on) or of its copy (ahead_at_ on).
  void Render(bool ahead, uint64_t count);
  // The PSG rendered up to frame `to`.
  void CatchUp(uint64_t to);
  // Adds a step of change at frame and phase into the step sum.
  void Scatter(uint64_t frame, uint32_t phase, int64_t change);
  // The next count output frames from the step sum.
  void Output(StereoFrame* frames, int32_t count, uint32_t routing);

  Psg* psg_;
  Psg ahead_;
  bool ahead_valid_ = false;
  bool rendering_ahead_ = false;  // which of the two Steps is taking
  uint64_t block_at_ = 0;         // the frame the block being taken starts at
  Steps steps_;
  uint64_t out_ = 0;       // output frames mixed: the present
  uint64_t at_ = 0;        // frames the PSG has rendered
  uint64_t ahead_at_ = 0;  // frames the copy has rendered
  uint64_t summed_ = 0;    // frames whose steps are in the step sum
  int32_t last_[kChannels] = {};  // each channel's level as of frame summed_
  // The step sum, StepKernel::kUnity a level: level_ up to frame out_ + kDelay - 1 (where the
  // outputs have read it), increments_ the steps after it, by frame modulo kRing, none from
  // pending_until_ on.
  int64_t level_ = 0;
  std::vector<int64_t> increments_ = std::vector<int64_t>(kRing);
  uint64_t pending_until_ = 0;
  std::vector<AheadStep> ahead_steps_;  // the copy's steps from the present on
  // The DC blocker: its last input, its last output in 1 / 2^16 units, its leak in 1 / 2^24.
  int32_t dc_in_ = 0;
  int64_t dc_out_ = 0;
  int64_t dc_leak_ = 0;
};
