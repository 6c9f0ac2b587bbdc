// One FM voice: four operators joined by one of eight algorithms, feedback on operator 0.
//
// Operators are numbered in the chip's order M1, C1, M2, C2 (0-3). The chip refreshes its
// channels after a register write or a silenced operator and then asks each active one for a
// sample per frame, or for a block. How the operators are joined comes from ConnectionTable
// (fm_tables.h) for every renderer: per sample, per span and with noise. Between frames a
// channel keeps the phase steps and attenuations its operators take from the LFO's values, and
// the count of frames before one of its envelope timers can tick.
#pragma once

#include <algorithm>
#include <cstdint>

#include "fm/fm_chip_params.h"
#include "fm/fm_operator.h"

// The LFO's values of one frame as one key: amplitude index (0-255) in bits 0-7, pitch index
// (0-255) in bits 8-15, and above them the chip's sample ratio, which the chip-true vibrato
// depends on. A channel keeps what it derived from the last key it was given.
inline uint64_t FmLfoKey(int32_t am_index, int32_t pm_index, uint32_t ratio) {
  return static_cast<uint64_t>(am_index) | (static_cast<uint64_t>(pm_index) << 8) |
         (static_cast<uint64_t>(ratio) << 16);
}

// The LFO values of a block of frames, as the chip's LFO step leaves them for each frame.
struct FmLfoBlock {
  const uint64_t* key;  // per frame, FmLfoKey
  const int32_t* run;   // per frame: frames from this one on with the same key
};

// Result bits of FmChannel::Refresh().
inline constexpr uint32_t kFmChannelActive = 1;   // some envelope is not off
inline constexpr uint32_t kFmChannelUsesLfo = 2;  // PMS non-zero, or AMS non-zero with AM on

class FmChannel {
 public:
  FmChannel();

  // Points the channel's operators at the chip's shared record.
  void BindChip(FmChipParams* params);

  void SetFeedback(uint32_t shift);
  void SelectAlgorithm(uint32_t a);
  void SetPitch(uint32_t kc, uint32_t kf);
  void SetLfoSensitivity(uint32_t v);
  // Key bits of register 0x08 (bit 0 M1, 1 C1, 2 M2, 3 C2): a set bit keys its operator on, a
  // clear one off. In CSM mode (csm) the bits can only key off: set bits leave theirs alone.
  void WriteKeys(uint32_t mask, bool csm);
  // Operator register group 2-7 of operator index (0-3, M1 C1 M2 C2): FmOperator::Write.
  void WriteOperator(int index, uint32_t group, uint32_t data, bool csm) {
    ops_[index].Write(group, data, csm);
    derived_ = false;
  }
  void Reset();
  // Derives what changed; returns kFmChannelActive and kFmChannelUsesLfo bits. Only whether an
  // envelope sounds is looked at anew when no parameter changed since the last time.
  uint32_t Refresh() {
    if (!derived_) return Derive();
    const bool on = ops_[0].env_state_ != EnvState::Off || ops_[1].env_state_ != EnvState::Off ||
                    ops_[2].env_state_ != EnvState::Off || ops_[3].env_state_ != EnvState::Off;
    return (on ? kFmChannelActive : 0) | lfo_bit_;
  }

  // count samples, each added into out[i]: without LFO (lfo null), or with the LFO values of
  // frame i taken from lfo. Renders in spans in which no envelope ticks and the LFO values stay
  // put, so that the span's loop has no tests; the sample of a tick is rendered on its own.
  template <bool kLfo>
  void RenderBlock(int32_t* out, int32_t count, const FmLfoBlock* lfo, const FmTables& t) {
    if constexpr (kLfo) {
      RenderSpansLfo(out, count, *lfo, t);
    } else {
      RenderSpans(out, count, t);
    }
  }
  // One frame: without LFO, or with kLfo at the LFO values of lfo_key (FmLfoKey).
  // The operators' envelope timers are counted down only at the frame on which one of them
  // ticks: the frames before it are counted in untimed_.
  template <bool kLfo>
  int32_t RenderFrame(uint64_t lfo_key, const FmTables& t) {
    if constexpr (kLfo) UseLfo(lfo_key);
    if (quiet_ > 0) {
      --quiet_;
      ++untimed_;
      return RenderOps<kLfo, false>(t);
    }
    return RenderTimed<kLfo>(t);
  }
  // One frame with operator C2 replaced by the chip's noise word (bit 0 the noise bit); with
  // kLfo at the LFO values of lfo_key.
  template <bool kLfo>
  int32_t RenderNoise(uint32_t noise, uint64_t lfo_key, const FmTables& t) {
    if constexpr (kLfo) UseLfo(lfo_key);
    Settle();
    return RenderOpsNoise<kLfo>(noise, t);
  }

  // The connection and the four operators; the LFO row follows on load.
  void Save(StateWriter& out) const;
  void Load(StateReader& in);

 private:
  // RenderFrame's frame on which a timer may tick: the timers counted down, the frame rendered
  // with them, the frames before the next tick counted. Out of line: it is the rare case.
  template <bool kLfo>
  int32_t RenderTimed(const FmTables& t);
  // At most this many frames are left untimed, whatever the timers allow.
  static constexpr int32_t kMaxQuiet = 1 << 20;

  // The envelope timers counted down for the untimed frames; the next frame is timed.
  void Settle() {
    if (untimed_ != 0) {
      for (FmOperator& op : ops_) op.Settle(untimed_);
      untimed_ = 0;
    }
    quiet_ = 0;
  }
  // A key no LFO values give: the operators' LFO steps are to be worked out again.
  static constexpr uint64_t kNoLfoKey = ~uint64_t{0};

  // Refresh's full work: every operator derives, the LFO row and bit follow.
  uint32_t Derive();
  // The operators' phase steps and amplitude offsets for the LFO values of key, unless they
  // are those of the last key.
  void UseLfo(uint64_t key) {
    if (key != lfo_key_) DeriveLfo(key);
  }
  void DeriveLfo(uint64_t key);
  template <bool kLfo, bool kTick = true>
  int32_t Op(int index, int32_t m, const FmTables& t) {
    return ops_[index].Compute<kLfo, kTick>(m, t);
  }
  template <bool kLfo, bool kTick = true>
  int32_t Feedback(const FmTables& t) {
    return ops_[0].ComputeFeedback<kLfo, kTick>(fb_bits_, fb_mask_, t);
  }
  // The sum of the outputs of the operators in mask (bit i: operator i), as they are now.
  template <uint8_t kMask>
  int32_t Heard() const {
    return (kMask & 1 ? ops_[0].output_ : 0) + (kMask & 2 ? ops_[1].output_ : 0) +
           (kMask & 4 ? ops_[2].output_ : 0) + (kMask & 8 ? ops_[3].output_ : 0);
  }
  // kTick false: no envelope timer is counted down (RenderFrame counts the frame in untimed_).
  template <int kAlgorithm, bool kLfo, bool kTick>
  int32_t RenderOpsOf(const FmTables& t);
  template <bool kLfo, bool kTick = true>
  int32_t RenderOps(const FmTables& t);
  template <bool kLfo>
  int32_t RenderOpsNoise(uint32_t noise, const FmTables& t);
  // RenderBlock in spans.
  void RenderSpans(int32_t* out, int32_t count, const FmTables& t);
  void RenderSpansLfo(int32_t* out, int32_t count, const FmLfoBlock& lfo, const FmTables& t);
  // The spans work out their phase steps and attenuations themselves, the variant's way
  // (kChipPitch: the chip-true vibrato); only a tick's sample goes through UseLfo.
  template <bool kChipPitch>
  void RenderSpansLfoOf(int32_t* out, int32_t count, const FmLfoBlock& lfo, const FmTables& t);

  // Samples before the next envelope tick of any operator (0: the next sample ticks).
  int32_t SamplesBeforeTick() const;
  // Runs n samples with fixed phase steps and attenuations and no envelope work, then takes
  // n samples' worth from the envelope timers. kLfo only changes which feedback sample
  // algorithm 7 adds (RenderOpsOf).
  template <bool kLfo>
  void RenderSpan(int32_t* out, int32_t n, const uint32_t* inc, const uint32_t* atten,
                  const FmTables& t);
  template <int kAlgorithm, bool kLfo>
  void RenderSpanOf(int32_t* out, int32_t n, const uint32_t* inc, const uint32_t* atten,
                    const FmTables& t);

  const FmChipParams* chip_ = nullptr;  // the chip's shared record, not owned
  uint32_t fb_shift_ = 0;       // FeedbackShifts entry, 31 = no feedback
  // The feedback sum of operator 0's last two samples moves its sine index by (sum >> fb_bits_)
  // AND fb_mask_: FB 1-7 shift by 9 down to 3 (fb_shift_ + 2), no feedback masks to 0.
  uint32_t fb_bits_ = 2;
  int32_t fb_mask_ = -1;
  const int32_t* pm_row_;       // PitchLfoTable (chip-true: PitchLfoStepTable) row of the PMS
  uint64_t lfo_key_ = kNoLfoKey;  // the key the operators' LFO steps were worked out for
  int32_t untimed_ = 0;  // frames rendered since the envelope timers were last counted down
  int32_t quiet_ = 0;    // frames more that RenderFrame may leave untimed (no tick in them)
  uint32_t algorithm_ = 0;
  uint32_t lfo_bit_ = 0;   // kFmChannelUsesLfo as last derived
  bool derived_ = false;   // no parameter changed since the last Derive
  FmOperator ops_[4];
};

// Each operator runs once per frame, in the order 2, 1, 3; a read of another operator's output
// sees whatever that operator holds at the moment, so some links hear the previous frame.
// Operator 0 (feedback) always runs last; in algorithm 7 its result joins the sum: without LFO
// that is its previous sample, with LFO its new one.
template <int kAlgorithm, bool kLfo, bool kTick>
inline int32_t FmChannel::RenderOpsOf(const FmTables& t) {
  constexpr FmConnection c = ConnectionTable[kAlgorithm];
  Op<kLfo, kTick>(2, Heard<c.into[2]>(), t);
  Op<kLfo, kTick>(1, Heard<c.into[1]>(), t);
  Op<kLfo, kTick>(3, Heard<c.into[3]>(), t);
  const int32_t fb = Feedback<kLfo, kTick>(t);
  return Heard<static_cast<uint8_t>(c.carriers & 0b1110)>() + (c.carriers & 1 ? fb : 0);
}

// Always inlined: the chip's frame loop calls it once a channel a frame, and a call costs about
// as much as the rest of a channel's work that does not touch the operators.
template <bool kLfo, bool kTick>
[[gnu::always_inline]] inline int32_t FmChannel::RenderOps(const FmTables& t) {
  switch (algorithm_) {
    case 0: return RenderOpsOf<0, kLfo, kTick>(t);
    case 1: return RenderOpsOf<1, kLfo, kTick>(t);
    case 2: return RenderOpsOf<2, kLfo, kTick>(t);
    case 3: return RenderOpsOf<3, kLfo, kTick>(t);
    case 4: return RenderOpsOf<4, kLfo, kTick>(t);
    case 5: return RenderOpsOf<5, kLfo, kTick>(t);
    case 6: return RenderOpsOf<6, kLfo, kTick>(t);
    default: return RenderOpsOf<7, kLfo, kTick>(t);
  }
}

// Operators 0, 1, 2 in that order, operator 3 replaced by noise. Each operator hears the
// others' samples of this frame, except operator 0's, which is always the previous frame's;
// the noise sample joins the sum a frame late.
template <bool kLfo>
inline int32_t FmChannel::RenderOpsNoise(uint32_t noise, const FmTables& t) {
  const FmConnection& c = ConnectionTable[algorithm_];
  const int32_t previous0 = ops_[0].output_;
  auto heard = [&](uint8_t mask) {
    return (mask & 1 ? previous0 : 0) + (mask & 2 ? ops_[1].output_ : 0) +
           (mask & 4 ? ops_[2].output_ : 0);
  };
  Feedback<kLfo>(t);
  Op<kLfo>(1, heard(c.into[1]), t);
  Op<kLfo>(2, heard(c.into[2]), t);
  const int32_t previous_noise = ops_[3].output_;
  ops_[3].ComputeNoise(noise);
  return heard(c.carriers) + previous_noise;
}
