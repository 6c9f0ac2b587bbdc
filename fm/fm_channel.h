// One FM voice: four operators joined by one of eight algorithms, feedback on operator 0.
//
// Operators are numbered in the chip's order M1, C1, M2, C2 (0-3). The chip refreshes every
// channel once per mixing call and then asks each active one for a sample per frame.
#pragma once

#include <cstdint>

#include "fm/fm_chip_params.h"
#include "fm/fm_operator.h"

// The LFO values of a block of frames, as the chip's LFO step leaves them for each frame.
struct FmLfoBlock {
  const int32_t* am_index;  // per frame, 0-255
  const int32_t* pm_index;  // per frame, 0-255
  const int32_t* run;       // per frame: frames from this one on with the same two values
};

class FmChannel {
 public:
  // Result bits of Refresh().
  static constexpr uint32_t kActive = 1;   // some envelope is not off
  static constexpr uint32_t kUsesLfo = 2;  // PMS non-zero, or AMS non-zero with AM enabled

  FmChannel();

  // Points the channel and its operators at the chip's shared record.
  void BindChip(FmChipParams* params);

  void SetFeedback(uint32_t shift);
  void SelectAlgorithm(uint32_t a);
  void SetPitch(uint32_t kc, uint32_t kf);
  void SetLfoSensitivity(uint32_t v);
  void SetKeyMask(uint32_t mask);
  void Reset();
  uint32_t Refresh();

  int32_t Render() { return RenderOps<false>(); }
  int32_t RenderLfo() {
    chip->pm_value = pm_row[chip->pm_index];
    return RenderOps<true>();
  }
  int32_t RenderNoise(uint32_t noise) { return RenderOpsNoise<false>(noise); }
  int32_t RenderLfoNoise(uint32_t noise) {
    chip->pm_value = pm_row[chip->pm_index];
    return RenderOpsNoise<true>(noise);
  }

  // count samples, each added into out[i]: the same samples as count calls of Render (or of
  // RenderLfo, with the chip's LFO values of frame i taken from lfo). Renders in spans in which
  // no envelope ticks and the LFO values stay put, so that the span's loop has no tests; the
  // sample of a tick goes through Render / RenderLfo. RenderBlockLfo leaves the chip's am_index,
  // pm_index and pm_value as its last sample set them.
  void RenderBlock(int32_t* out, int32_t count);
  void RenderBlockLfo(int32_t* out, int32_t count, const FmLfoBlock& lfo);

  uint32_t fb_shift = 0;        // FeedbackShifts entry, 31 = no feedback
  int32_t buffers[4] = {};      // connection buffers of the noise renderings
  uint8_t route_in[3] = {};     // buffer index each of operators 1-3 reads
  uint8_t route_out[3] = {};    // buffer index each of operators 1-3 adds into
  const int32_t* pm_row;        // PitchLfoTable row of the channel's PMS
  uint32_t algorithm = 0;
  FmChipParams* chip = nullptr;  // not owned
  FmOperator ops[4];

 private:
  template <bool kLfo>
  int32_t Op(int index, int32_t m) {
    return kLfo ? ops[index].ComputeLfo(m) : ops[index].Compute(m);
  }
  template <bool kLfo>
  int32_t Feedback() {
    return kLfo ? ops[0].ComputeFeedbackLfo(fb_shift) : ops[0].ComputeFeedback(fb_shift);
  }
  template <bool kLfo>
  int32_t RenderOps();
  template <bool kLfo>
  int32_t RenderOpsNoise(uint32_t noise);

  // Samples before the next envelope tick of any operator (0: the next sample ticks).
  int32_t SamplesBeforeTick() const;
  // Runs n samples with fixed phase steps and attenuations and no envelope work, then takes
  // n samples' worth from the envelope timers. kLfo only changes which feedback sample
  // algorithm 7 adds (RenderOps).
  template <bool kLfo>
  void RenderSpan(int32_t* out, int32_t n, const uint32_t* inc, const uint32_t* atten);
  template <int kAlgorithm, bool kLfo>
  void RenderSpanOf(int32_t* out, int32_t n, const uint32_t* inc, const uint32_t* atten);
};

// Each operator runs once per frame in the order listed; a read of another operator's output
// sees whatever that operator holds at the moment, so some links hear the previous frame.
// Operator 0 (feedback) always runs last.
template <bool kLfo>
inline int32_t FmChannel::RenderOps() {
  FmOperator& op0 = ops[0];
  FmOperator& op1 = ops[1];
  FmOperator& op2 = ops[2];
  FmOperator& op3 = ops[3];
  switch (algorithm) {
    case 0:  // 0 -> 1 -> 2 -> 3
      Op<kLfo>(2, op1.output);
      Op<kLfo>(1, op0.output);
      Op<kLfo>(3, op2.output);
      Feedback<kLfo>();
      return op3.output;
    case 1:  // (0 + 1) -> 2 -> 3
      Op<kLfo>(2, op0.output + op1.output);
      Op<kLfo>(1, 0);
      Op<kLfo>(3, op2.output);
      Feedback<kLfo>();
      return op3.output;
    case 2:  // (0 + (1 -> 2)) -> 3
      Op<kLfo>(2, op1.output);
      Op<kLfo>(1, 0);
      Op<kLfo>(3, op0.output + op2.output);
      Feedback<kLfo>();
      return op3.output;
    case 3:  // ((0 -> 1) + 2) -> 3
      Op<kLfo>(2, 0);
      Op<kLfo>(1, op0.output);
      Op<kLfo>(3, op1.output + op2.output);
      Feedback<kLfo>();
      return op3.output;
    case 4:  // (0 -> 1) + (2 -> 3)
      Op<kLfo>(2, 0);
      Op<kLfo>(1, op0.output);
      Op<kLfo>(3, op2.output);
      Feedback<kLfo>();
      return op1.output + op3.output;
    case 5:  // 0 -> each of 1, 2, 3
      Op<kLfo>(2, op0.output);
      Op<kLfo>(1, op0.output);
      Op<kLfo>(3, op0.output);
      Feedback<kLfo>();
      return op1.output + op2.output + op3.output;
    case 6:  // (0 -> 1) + 2 + 3
      Op<kLfo>(2, 0);
      Op<kLfo>(1, op0.output);
      Op<kLfo>(3, 0);
      Feedback<kLfo>();
      return op1.output + op2.output + op3.output;
    default: {  // 7: 0 + 1 + 2 + 3
      Op<kLfo>(2, 0);
      Op<kLfo>(1, 0);
      Op<kLfo>(3, 0);
      // Without LFO this is operator 0's previous sample, with LFO its new one.
      int32_t fb = Feedback<kLfo>();
      return op1.output + op2.output + op3.output + fb;
    }
  }
}

// Operators 0, 1, 2 in that order through the connection buffers, operator 3 replaced by noise.
template <bool kLfo>
inline int32_t FmChannel::RenderOpsNoise(uint32_t noise) {
  buffers[3] = 0;
  buffers[2] = 0;
  buffers[1] = 0;
  buffers[0] = ops[0].output;  // previous frame
  Feedback<kLfo>();
  buffers[route_out[0]] += Op<kLfo>(1, buffers[route_in[0]]);
  buffers[route_out[1]] += Op<kLfo>(2, buffers[route_in[1]]);
  int32_t previous_noise = ops[3].output;
  ops[3].ComputeNoise(noise);
  return buffers[route_out[2]] + previous_noise;
}
