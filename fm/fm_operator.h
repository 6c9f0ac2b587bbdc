// One FM operator: a sine oscillator with its own envelope generator.
//
// Everything here is integer work on the units of fm_tables.h. Parameters written by the
// register decoder are stored raw and marked dirty; Refresh() derives the cached values
// (phase step, envelope rates, total-level attenuation) before the next mixing batch.
#pragma once

#include <algorithm>
#include <cstdint>

#include "fm/fm_chip_params.h"
#include "common/state_bytes.h"
#include "fm/fm_tables.h"

enum class EnvState : int32_t {
  Attack = 1,
  Decay = 2,    // first decay, towards the sustain level
  Sustain = 3,  // second decay, below the sustain level
  Release = 4,
  Off = 5,
};

class FmOperator {
 public:
  FmOperator();

  void BindChip(FmChipParams* params) { chip_ = params; }
  void Reset();
  // Derives the cached values when a parameter changed since the last time.
  void Refresh() {
    if (dirty_) Derive();
  }
  void KeyOn();
  void KeyOff();

  // Operator register group 2-7 (addresses 0x40-0xFF >> 5) with its data byte:
  //   2  -xxx---- DT1, ----xxxx MUL         5  x------- AM enable, ---xxxxx D1R
  //   3  -xxxxxxx TL                        6  xx------ DT2, ---xxxxx D2R
  //   4  xx------ KS, ---xxxxx AR           7  xxxx---- D1L (SL), ----xxxx RR
  // In CSM mode (csm) a TL write is only latched: the level changes at the next attack.
  void Write(uint32_t group, uint32_t data, bool csm);
  // The channel's pitch (phase step before detune and multiple, key code >> 2, and the note
  // position of OpmPhaseStep that the chip-true variant looks up) and its LFO sensitivity (PMS in
  // bits 0-2, AMS in bits 4-5).
  void SetBlockStep(uint32_t step, uint32_t key_scale_code, int32_t key_position = 0);
  void SetLfoSensitivity(uint32_t sens);

  // Every field that carries history; Load checks each one's range and derives the rest.
  // untimed: samples the channel rendered since it last settled the envelope timer (Settle).
  void Save(StateWriter& out, int32_t untimed = 0) const;
  void Load(StateReader& in);

 private:
  // The channel runs its operators sample by sample and in spans (fm_channel.h): it reaches the
  // per-sample computations and the phase and output registers below.
  friend class FmChannel;

  // Every envelope tick restarts the timer at 6141 internal samples, x128 like the ratio.
  static constexpr int32_t kEnvTimerPeriod = 786048;
  // Level parked at by an operator that is off (attenuation about 90 dB).
  static constexpr int32_t kOffLevel = 955;
  static constexpr int32_t kMaxLevel = 1023;

  void Derive();
  // The feedback history starts again.
  void ClearHistory() { output_ = prev_output_ = 0; }

  // Per-sample outputs. m is the modulating sample; it moves the sine index by m / 2. kLfo
  // takes the phase step and amplitude offset that UseLfo left.
  // t: the process-wide tables, fetched once by the caller for all four operators.
  // kTick false: the envelope timer is left to the channel (Settle), no tick being due.
  template <bool kLfo, bool kTick = true>
  int32_t Compute(int32_t m, const FmTables& t) {
    return ComputeWith<kLfo, false, kTick>(m, 0, t);
  }
  // Operator with self-feedback: the sum of its last two samples, shifted right by bits and
  // masked (FmChannel::SetFeedback), moves its sine index. Without LFO it returns the sample of
  // the previous call, with LFO its new one.
  template <bool kLfo, bool kTick = true>
  int32_t ComputeFeedback(uint32_t bits, int32_t mask, const FmTables& t) {
    return ComputeWith<kLfo, true, kTick>(static_cast<int32_t>(bits), mask, t);
  }
  // Noise in place of the sine; bit 0 of noise is the noise bit.
  void ComputeNoise(uint32_t noise);

  // The phase step and amplitude offset of the LFO values pm_value (the channel's pitch factor,
  // or in the chip-true variant its PitchLfoStepTable entry) and am_index, kept for the samples
  // to come until the LFO or a derived value changes.
  // kChipPitch: the chip-true variant, whose chip_->chip_true the channel looked up.
  template <bool kChipPitch>
  void UseLfo(int32_t pm_value, int32_t am_index) {
    lfo_inc_ = LfoPhaseIncOf<kChipPitch>(pm_value);
    lfo_am_ = static_cast<uint32_t>(am_row_[am_index]);
    lfo_atten_ = atten_ + lfo_am_;
  }
  template <bool kChipPitch>
  uint32_t LfoPhaseIncOf(int32_t pm_value) const {
    return kChipPitch ? ChipLfoPhaseInc(pm_value) : LfoPhaseInc(pm_value);
  }
  // The chip-true variant's phase advance with the LFO: shift steps of 1/64 semitone added to
  // the note position.
  uint32_t ChipLfoPhaseInc(int32_t shift) const {
    return shift == 0 ? phase_inc_ : ChipPhaseInc(shift);
  }
  // Phase advance with the channel's pitch factor: the product keeps its low 32 bits.
  uint32_t LfoPhaseInc(int32_t pm_value) const {
    int32_t product = static_cast<int32_t>(static_cast<uint32_t>(pm_value) *
                                           static_cast<uint32_t>(phase_inc_pm_));
    return phase_inc_ + static_cast<uint32_t>(product >> 5);
  }
  // Attenuation with the LFO's amplitude index added, for the block renderer (see
  // kSpanAttenLimit).
  uint32_t SpanAtten() const { return std::min(atten_, kSpanAttenLimit); }
  uint32_t SpanAttenLfo(int32_t am_index) const {
    return std::min(static_cast<uint32_t>(am_row_[am_index]) + atten_, kSpanAttenLimit);
  }
  // Samples before the next envelope tick (0: the next sample ticks; INT32_MAX: never).
  int32_t SamplesBeforeTick() const;
  // The envelope timer after n samples, none of which ticked, that it was not counted down for.
  void Settle(int32_t n) { env_timer_ -= n * env_timer_dec_; }
  // The end of a span of n samples rendered outside the operator, none of which ticked.
  void EndSpan(int32_t n, uint32_t phase, int32_t output, int32_t prev_output) {
    env_timer_ -= n * env_timer_dec_;
    phase_ = phase;
    output_ = output;
    prev_output_ = prev_output;
  }


  // Entering Attack, Decay or Release may pass straight on to the next state; values outside
  // Attack..Release mean Off.
  void EnterState(EnvState state);
  void StepEnvelope();
  void UpdateAtten();
  // The chip-true variant's phase advance, the note position moved by shift steps of 1/64
  // semitone: looked up after DT2, then detuned and multiplied.
  uint32_t ChipPhaseInc(int32_t shift) const;
  // Sets env_rate for a state whose rate parameter is rate, with key scaling, and the timer
  // decrement that goes with it. A rate of 0 freezes the level unless zero_freezes is false
  // (Release, whose parameter the registers never leave at 0).
  void UseRate(int32_t rate, bool zero_freezes = true);
  // Timer decrement for an envelope rate; saturates for absurd ratios (any value of 786048
  // or more already ticks every sample).
  int32_t RateDecrement(int32_t rate) const;
  void TickEnvelope() {
    env_timer_ -= env_timer_dec_;
    if (env_timer_ <= 0) StepEnvelope();
  }
  // The four sine computations: input is the modulating sample, or with kFeedback the shift of
  // the feedback sum and fb_mask its mask.
  template <bool kLfo, bool kFeedback, bool kTick>
  int32_t ComputeWith(int32_t input, int32_t fb_mask, const FmTables& t);

  FmChipParams* chip_ = nullptr;  // the chip's shared record, not owned
  int32_t output_ = 0;            // last sample
  int32_t prev_output_ = 0;       // the sample before that (feedback)
  uint32_t block_step_ = 0;       // phase step of the channel pitch, before detune and multiple
  int32_t dt1_row_ = 0;           // DT1 x 32: row offset into DetuneOffsets
  int32_t dt2_ = 0;               // DT2, 0-3
  int32_t mul_ = 0;               // MUL, 0-15
  uint32_t phase_ = 0;            // 2^29 per sine period
  uint32_t phase_inc_ = 0;        // phase advance per output sample
  uint32_t lfo_inc_ = 0;          // the same with the LFO, as of the last UseLfo
  uint32_t lfo_am_ = 0;           // the LFO's attenuation offset, as of the last UseLfo
  uint32_t lfo_atten_ = 0;        // atten_ + lfo_am_
  int32_t phase_inc_pm_ = 0;      // phase_inc >> 11: pitch-modulation scale
  uint32_t key_scale_code_ = 0;   // key code >> 2, 0-31
  int32_t key_position_ = 0;      // block x 768 + note x 64 + key fraction (chip-true pitch)
  int32_t env_level_ = 0;         // envelope units, 0 loudest
  int32_t env_target_ = 0;        // level that ends the current state
  int32_t env_timer_ = 0;         // counts down to the next envelope tick
  int32_t env_timer_dec_ = 0;     // taken from env_timer per sample
  uint32_t atten_ = 0;            // min(tl_level + env_level, 1023) x 8, attenuation units
  int32_t tl_level_ = 0;          // tl x 8, envelope units
  int32_t env_rate_ = 0;          // effective rate 0-63 of the current state
  int32_t env_tick_ = 0;          // envelope ticks so far; low three bits pick the table column
  int32_t ks_offset_ = 0;         // rate offset from key scaling
  EnvState env_state_{};          // zero until the first reset
  const int32_t* am_row_;         // row of AmpLfoTable used for amplitude modulation
  uint32_t lfo_sens_ = 0;         // PMS in bits 0-2, AMS in bits 4-5
  int32_t tl_ = 0;                // active total level, 0-127
  uint32_t tl_next_ = 0;          // latched total level, taken over at the next attack
  uint32_t attack_rate_ = 0;      // AR x 2
  int32_t decay_rate_ = 0;        // D1R x 2
  int32_t sustain_rate_ = 0;      // D2R x 2
  int32_t sustain_level_ = 0;     // SustainLevels[SL]
  int32_t release_rate_ = 0;      // RR x 4 + 2
  int32_t key_scale_ = 0;         // KS, 0-3
  bool keyed_ = false;            // key-on latch
  // Chip-true: keyed on and no envelope step taken since. The attack's rate, and whether it is
  // instant (62 and up), are settled by the registers as they are at the next Refresh, so that
  // a key code written at the key-on instant counts whichever comes first.
  bool attack_pending_ = false;
  bool am_enable_ = false;
  bool dirty_ = false;            // parameters changed since the last Refresh
};

template <bool kLfo, bool kFeedback, bool kTick>
inline int32_t FmOperator::ComputeWith(int32_t input, int32_t fb_mask, const FmTables& t) {
  if constexpr (kTick) TickEnvelope();
  int32_t offset = 0;
  if constexpr (kFeedback) {
    const int32_t sum = output_ + prev_output_;
    prev_output_ = output_;
    offset = (sum >> input) & fb_mask;
  } else {
    offset = input >> 1;
  }
  const uint32_t p = phase_;
  phase_ = p + (kLfo ? lfo_inc_ : phase_inc_);
  const int32_t i = static_cast<int32_t>(p >> 19) + offset;
  // Sine (below 4300) + AM (8160 at most) + attenuation (8184 at most) stays inside the padded
  // table, whose entries from 8192 on are silent: the look-up needs no test.
  const auto sine = static_cast<uint32_t>(t.LogSineTable[i & (kLogSineSize - 1)]);
  output_ = t.LogToLinearTable[sine + (kLfo ? lfo_atten_ : atten_)];
  // Without LFO the feedback operator hands on its previous sample, with LFO its new one.
  return kFeedback && !kLfo ? prev_output_ : output_;
}

inline void FmOperator::ComputeNoise(uint32_t noise) {
  TickEnvelope();
  // Linear in the envelope level, at most 2046 in magnitude; the phase stands still.
  int32_t v = kMaxLevel - tl_level_ - env_level_;
  if (v < 0) v = 0;
  output_ = (noise & 1) ? 2 * v : -2 * v;
}
