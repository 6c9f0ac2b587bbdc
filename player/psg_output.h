// The PSG's output stage in chips mode: takes a Psg's three channels (Psg::Render) and makes
// the frames the player hears from them. It places the channels (all three summed onto both
// sides, or each by its left and right shares), passes each output through a DC blocker when
// asked (the chips' output is one-sided) and draws the channels either as the board does, four
// sub-samples a frame averaged, or band-limited: each change of a channel's level at its exact
// time as a StepKernel step, so that nothing of the square waves folds back below half the
// rate; the sound then comes out StepKernel::kDelay frames late.
// One PsgOutput serves one Psg, from its first Mix on.
#pragma once

#include <cstdint>

#include "psg/dc_blocker.h"
#include "psg/psg.h"
#include "psg/psg_sink.h"
#include "psg/step_kernel.h"
#include "vyx/stereo_frame.h"

class PsgOutput : public PsgSink {
 public:
  // Each channel's share of the left and the right side, kPanUnit = the whole of it.
  struct Pan {
    int32_t left[kChannels];
    int32_t right[kChannels];
  };
  static constexpr int32_t kPanBits = 14;
  static constexpr int32_t kPanUnit = 1 << kPanBits;

  // rate: the output rate in frames per second.
  PsgOutput(uint32_t rate, bool band_limited, bool dc_blocked);
  // Places each channel apart by its shares, through a DC blocker of its own. Set it before the
  // first Mix.
  void SetPan(const Pan& pan);
  // Renders count frames of psg and adds them into frames.
  void Mix(Psg& psg, StereoFrame* frames, int32_t count);

 private:
  static constexpr uint32_t kTaps = StepKernel::kTaps;

  void Block(int32_t frames) override;
  void BlockSampled(int32_t frames);
  void BlockBandLimited(int32_t frames);
  // Adds the block's values_ into its frames: through the DC blockers when asked, then to both
  // sides, or each channel by its shares.
  void PlaceBlock(int32_t frames);
  // A silent Psg: what is still on its way out, with every channel at 0.
  void MixSilence(int32_t count);
  bool DcAtRest() const;

  uint32_t outs_ = 1;  // 1: the channels summed; kChannels: each apart, by pan_
  Pan pan_ = {};
  bool dc_blocked_;
  StereoFrame* out_ = nullptr;  // the frames of the present block
  // Band-limited: each channel's level as the last block ended, each output's sum of every
  // change so far (StepKernel::kUnity a level), and its changes of the present block and the
  // kTaps - 1 frames past it, which go on to the next block in tail_.
  int32_t last_level_[kChannels] = {};
  int64_t level_[kChannels] = {};
  int64_t tail_[kChannels][kTaps] = {};
  int64_t ahead_[kChannels][kBlockFrames + kTaps] = {};
  bool settled_ = true;  // every level 0, nothing ahead and the DC blockers at rest
  int32_t values_[kChannels][kBlockFrames] = {};  // each output's frames of the present block
  // Each output's DC blocker: y[n] = x[n] - x[n-1] + (1 - leak) y[n-1]; its last input, its
  // last output in 1 / 2^16 units, and leak (1 - its pole) in 1 / 2^24.
  int32_t dc_in_[kChannels] = {};
  int64_t dc_out_[kChannels] = {};
  int64_t dc_leak_ = 0;
};
