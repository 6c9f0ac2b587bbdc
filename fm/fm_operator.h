// One FM operator: a sine oscillator with its own envelope generator.
//
// Everything here is integer work on the units of fm_tables.h. Parameters written by the
// register decoder are stored raw and marked dirty; Refresh() derives the cached values
// (phase step, envelope rates, total-level attenuation) before the next mixing batch.
#pragma once

#include <cstdint>

#include "fm/fm_chip_params.h"
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
  // Every envelope tick restarts the timer at 6141 internal samples, x128 like the ratio.
  static constexpr int32_t kEnvTimerPeriod = 786048;
  // Level parked at by an operator that is off (attenuation about 90 dB).
  static constexpr int32_t kOffLevel = 955;
  static constexpr int32_t kMaxLevel = 1023;

  FmOperator();

  void Reset();
  void Refresh();
  void KeyOn();
  void KeyOff();

  // Per-sample outputs. m is the modulating sample; it moves the sine index by m / 2.
  int32_t Compute(int32_t m) { return ComputeWith<false, false>(m); }
  int32_t ComputeLfo(int32_t m) { return ComputeWith<true, false>(m); }
  // Operator with self-feedback; the plain variant returns the sample of the previous call.
  int32_t ComputeFeedback(uint32_t shift) {
    return ComputeWith<false, true>(static_cast<int32_t>(shift));
  }
  int32_t ComputeFeedbackLfo(uint32_t shift) {
    return ComputeWith<true, true>(static_cast<int32_t>(shift));
  }
  // Noise in place of the sine; bit 0 of noise is the noise bit.
  void ComputeNoise(uint32_t noise);

  // Entering Attack, Decay or Release may pass straight on to the next state; values outside
  // Attack..Release mean Off.
  void EnterState(EnvState state);
  void StepEnvelope();
  void UpdateAtten();

  // Phase advance with the channel's pitch modulation: the product keeps its low 32 bits.
  uint32_t LfoPhaseInc() const {
    int32_t product = static_cast<int32_t>(static_cast<uint32_t>(chip->pm_value) *
                                           static_cast<uint32_t>(phase_inc_pm));
    return phase_inc + static_cast<uint32_t>(product >> 5);
  }

  FmChipParams* chip = nullptr;  // the chip's shared record, not owned
  int32_t output = 0;            // last sample
  int32_t prev_output = 0;       // the sample before that (feedback)
  uint32_t block_step = 0;       // phase step of the channel pitch, before detune and multiple
  int32_t dt1_row = 0;           // DT1 x 32: row offset into DetuneOffsets
  int32_t dt2 = 0;               // DT2, 0-3
  int32_t mul = 0;               // MUL, 0-15
  uint32_t phase = 0;            // 2^29 per sine period
  uint32_t phase_inc = 0;        // phase advance per output sample
  int32_t phase_inc_pm = 0;      // phase_inc >> 11: pitch-modulation scale
  uint32_t key_scale_code = 0;   // key code >> 2, 0-31
  int32_t env_level = 0;         // envelope units, 0 loudest
  int32_t env_target = 0;        // level that ends the current state
  int32_t env_timer = 0;         // counts down to the next envelope tick
  int32_t env_timer_dec = 0;     // taken from env_timer per sample
  uint32_t atten = 0;            // min(tl_level + env_level, 1023) x 8, attenuation units
  int32_t tl_level = 0;          // tl x 8, envelope units
  int32_t env_rate = 0;          // effective rate 0-63 of the current state
  int32_t env_tick = 0;          // envelope ticks so far; low three bits pick the table column
  int32_t ks_offset = 0;         // rate offset from key scaling
  EnvState env_state{};          // zero until the first reset
  const int32_t* am_row;         // row of AmpLfoTable used for amplitude modulation
  uint32_t lfo_sens = 0;         // PMS in bits 0-2, AMS in bits 4-5
  int32_t tl = 0;                // active total level, 0-127
  uint32_t tl_next = 0;          // latched total level, taken over at the next attack
  uint32_t attack_rate = 0;      // AR x 2
  int32_t decay_rate = 0;        // D1R x 2
  int32_t sustain_rate = 0;      // D2R x 2
  int32_t sustain_level = 0;     // SustainLevels[SL]
  int32_t release_rate = 0;      // RR x 4 + 2
  int32_t key_scale = 0;         // KS, 0-3
  bool keyed = false;            // key-on latch
  bool am_enable = false;
  bool dirty = false;            // parameters changed since the last Refresh

 private:
  // Sets env_rate for a state whose rate parameter is rate, with key scaling, and the timer
  // decrement that goes with it. A rate of 0 freezes the level unless zero_freezes is false
  // (Release, whose parameter the registers never leave at 0).
  void UseRate(int32_t rate, bool zero_freezes = true);
  // Timer decrement for an envelope rate; saturates for absurd ratios (any value of 786048
  // or more already ticks every sample).
  int32_t RateDecrement(int32_t rate) const;
  void TickEnvelope() {
    env_timer -= env_timer_dec;
    if (env_timer <= 0) StepEnvelope();
  }
  static uint32_t LogSine(int32_t index) {
    return static_cast<uint32_t>(FmTables::Get().LogSineTable[index & (kLogSineSize - 1)]);
  }
  // The four sine computations: input is the modulating sample, or with kFeedback the shift.
  template <bool kLfo, bool kFeedback>
  int32_t ComputeWith(int32_t input);
};

template <bool kLfo, bool kFeedback>
inline int32_t FmOperator::ComputeWith(int32_t input) {
  TickEnvelope();
  int32_t offset = 0;
  if constexpr (kFeedback) {
    const uint32_t shift = static_cast<uint32_t>(input);
    const int32_t s = output + prev_output;
    prev_output = output;
    // Real shifts are 1-7; the cap keeps other callers' values inside the shift range.
    if (shift < 31) offset = s >> (shift < 29 ? shift + 2 : 31);
  } else {
    offset = input >> 1;
  }
  const uint32_t p = phase;
  phase = p + (kLfo ? LfoPhaseInc() : phase_inc);
  const int32_t i = static_cast<int32_t>(p >> 19) + offset;
  const uint32_t am = kLfo ? static_cast<uint32_t>(am_row[chip->am_index]) : 0u;
  output = LinearLookup(LogSine(i) + am + atten);
  // Without LFO the feedback operator hands on its previous sample, with LFO its new one.
  return kFeedback && !kLfo ? prev_output : output;
}

inline void FmOperator::ComputeNoise(uint32_t noise) {
  TickEnvelope();
  // Linear in the envelope level, at most 2046 in magnitude; the phase stands still.
  int32_t v = kMaxLevel - tl_level - env_level;
  if (v < 0) v = 0;
  output = (noise & 1) ? 2 * v : -2 * v;
}
