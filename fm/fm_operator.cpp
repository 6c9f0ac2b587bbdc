#include "fm/fm_operator.h"

#include <algorithm>

#include "fm/fm_convert.h"

FmOperator::FmOperator() : am_row_(FmTables::Get().AmpLfoTable[0]) {}

int32_t FmOperator::RateDecrement(int32_t rate) const {
  int64_t dec = static_cast<int64_t>(RateStepTable[(rate >> 2) & 15]) * chip_->ratio;
  return SaturateToInt32(dec);
}

void FmOperator::UseRate(int32_t rate, bool zero_freezes) {
  env_rate_ = rate == 0 && zero_freezes ? 0 : std::min(ks_offset_ + rate, 63);
  env_timer_dec_ = RateDecrement(env_rate_);
}

void FmOperator::UpdateAtten() {
  int32_t level = std::min(tl_level_ + env_level_, kMaxLevel);
  atten_ = static_cast<uint32_t>(level) * 8;
  lfo_atten_ = atten_ + lfo_am_;
}

void FmOperator::Write(uint32_t group, uint32_t data, bool csm) {
  switch (group) {
    case 2:
      dt1_row_ = static_cast<int32_t>((data >> 4) & 7) * 32;
      mul_ = static_cast<int32_t>(data & 15);
      break;
    case 3:
      tl_next_ = data & 0x7F;
      if (csm) return;  // the active level changes at the next attack; nothing to derive
      tl_ = static_cast<int32_t>(tl_next_);
      break;
    case 4:
      key_scale_ = static_cast<int32_t>((data >> 6) & 3);
      attack_rate_ = (data & 31) * 2;
      break;
    case 5:
      decay_rate_ = static_cast<int32_t>(data & 31) * 2;
      am_enable_ = (data & 0x80) != 0;
      break;
    case 6:
      sustain_rate_ = static_cast<int32_t>(data & 31) * 2;
      dt2_ = static_cast<int32_t>((data >> 6) & 3);
      break;
    case 7:
      sustain_level_ = SustainLevels[(data >> 4) & 15];
      release_rate_ = static_cast<int32_t>(data & 15) * 4 + 2;
      break;
    default: return;  // not an operator register
  }
  dirty_ = true;
}

void FmOperator::SetBlockStep(uint32_t step, uint32_t key_scale_code, int32_t key_position) {
  block_step_ = step;
  key_scale_code_ = key_scale_code;
  key_position_ = key_position;
  dirty_ = true;
}

void FmOperator::SetLfoSensitivity(uint32_t sens) {
  lfo_sens_ = sens;
  dirty_ = true;
}

uint32_t FmOperator::ChipPhaseInc(int32_t shift) const {
  uint32_t detuned = OpmPhaseStep(key_position_ + Dt2Positions[dt2_ & 3] + shift) +
                     static_cast<uint32_t>(static_cast<int32_t>(
                         DetuneOffsets[(dt1_row_ >> 5) & 7][key_scale_code_ & 31]));
  // MUL 0 halves the chip's step, whose lowest bit is lost.
  if (mul_ == 0) detuned &= ~3u;
  return detuned * static_cast<uint32_t>(chip_->RatioMulTable[0][mul_ & 15]);
}

void FmOperator::Derive() {
  dirty_ = false;
  if (chip_->chip_true) {
    phase_inc_ = ChipPhaseInc(0);
  } else {
    // Detune and multiple apply to the channel's step; the product wraps at 32 bits.
    uint32_t detuned = block_step_ + static_cast<uint32_t>(static_cast<int32_t>(
                                         DetuneOffsets[(dt1_row_ >> 5) & 7][key_scale_code_ & 31]));
    phase_inc_ = detuned * static_cast<uint32_t>(chip_->RatioMulTable[dt2_ & 3][mul_ & 15]);
  }
  phase_inc_pm_ = static_cast<int32_t>(phase_inc_ >> 11);
  ks_offset_ = static_cast<int32_t>(key_scale_code_ >> (3 - (key_scale_ & 3)));
  tl_level_ = tl_ * 8;
  switch (env_state_) {
    case EnvState::Attack:
      // Rates follow the present key code at every step; a pending key-on at 62 or more is the
      // instant attack, one under way stands still there (ChipAttackShifts).
      UseRate(static_cast<int32_t>(attack_rate_));
      if (attack_pending_ && env_rate_ >= 62) EnterState(EnvState::Decay);
      break;
    case EnvState::Decay:
      UseRate(decay_rate_);
      env_target_ = sustain_level_ * 8;
      break;
    case EnvState::Sustain: UseRate(sustain_rate_); break;
    case EnvState::Release: UseRate(release_rate_, false); break;
    default: break;  // Off, or not reset yet
  }
  am_row_ = FmTables::Get().AmpLfoTable[am_enable_ ? (lfo_sens_ >> 4) & 3 : 0];
  UpdateAtten();
}

void FmOperator::EnterState(EnvState state) {
  // Each case falls through to the next state when its entry condition fails.
  switch (state) {
    case EnvState::Attack:
      tl_ = static_cast<int32_t>(tl_next_);  // tl_level follows at the next Refresh
      if (ks_offset_ + static_cast<int32_t>(attack_rate_) < 62) {
        UseRate(static_cast<int32_t>(attack_rate_));
        env_state_ = EnvState::Attack;
        return;
      }
      [[fallthrough]];  // instant attack
    case EnvState::Decay:
      if (sustain_level_ != 0) {
        env_level_ = 0;
        env_target_ = sustain_level_ * 8;
        UseRate(decay_rate_);
        env_state_ = EnvState::Decay;
        return;
      }
      [[fallthrough]];  // no first decay
    case EnvState::Sustain:
      env_level_ = sustain_level_ * 8;
      env_target_ = 1024;
      UseRate(sustain_rate_);
      env_state_ = EnvState::Sustain;
      return;
    case EnvState::Release:
      if (env_state_ == EnvState::Attack || env_level_ < kOffLevel) {
        env_target_ = 1024;
        UseRate(release_rate_, false);
        env_state_ = EnvState::Release;
        return;
      }
      [[fallthrough]];  // already inaudible
    default:
      chip_->regather = true;
      env_level_ = kOffLevel;
      env_target_ = kOffLevel;
      UpdateAtten();
      UseRate(0);
      env_state_ = EnvState::Off;
      return;
  }
}

void FmOperator::StepEnvelope() {
  env_timer_ = kEnvTimerPeriod;  // the overshoot is dropped, not carried
  attack_pending_ = false;
  int column = env_tick_ & 7;
  const bool chip = chip_->chip_true;
  if (env_state_ == EnvState::Attack) {
    int shift = (chip ? ChipAttackShifts : AttackShifts)[env_rate_][column];
    if (shift >= 0) {
      env_level_ -= (env_level_ >> shift) + 1;
      if (env_level_ <= 0) EnterState(EnvState::Decay);
    }
  } else {
    env_level_ += (chip ? ChipDecayIncrements : DecayIncrements)[env_rate_][column];
    if (env_level_ >= env_target_) {
      EnterState(static_cast<EnvState>(static_cast<int32_t>(env_state_) + 1));
    }
  }
  UpdateAtten();
  // The count runs for as long as the operator sounds; only its low bits matter, so let it
  // wrap instead of overflowing.
  env_tick_ = static_cast<int32_t>(static_cast<uint32_t>(env_tick_) + 1u);
}

int32_t FmOperator::SamplesBeforeTick() const {
  // The tick comes on the first sample after which the timer is at or below 0.
  if (env_timer_ <= 0) return 0;
  return env_timer_dec_ > 0 ? (env_timer_ - 1) / env_timer_dec_ : INT32_MAX;
}

void FmOperator::KeyOn() {
  if (keyed_) return;
  keyed_ = true;
  if (env_state_ == EnvState::Off || env_state_ == EnvState::Release) {
    if (chip_->chip_true) {
      // The rate is settled at the next Refresh (attack_pending_).
      tl_ = static_cast<int32_t>(tl_next_);
      env_state_ = EnvState::Attack;
      attack_pending_ = true;
      dirty_ = true;
    } else {
      EnterState(EnvState::Attack);
    }
    UpdateAtten();
    output_ = 0;
    prev_output_ = 0;
    phase_ = 0;
  }
}

void FmOperator::KeyOff() {
  if (!keyed_) return;
  keyed_ = false;
  EnterState(EnvState::Release);
}

void FmOperator::Reset() {
  tl_ = 127;
  tl_next_ = 127;
  env_level_ = kOffLevel;
  env_target_ = kOffLevel;
  UpdateAtten();
  env_rate_ = 0;
  env_timer_ = 0;
  env_tick_ = 0;
  phase_ = 0;
  output_ = 0;
  prev_output_ = 0;
  env_timer_dec_ = RateDecrement(0);
  env_state_ = EnvState::Off;
  attack_pending_ = false;
  dirty_ = true;
}

// Phase step, envelope timer decrement, TL level and key-scale offset are kept as of the last
// Refresh (a new rate reaches them only after a register write), so they are saved as they
// are; the attenuation, the pitch-modulation scale and the AM row follow from the rest.
void FmOperator::Save(StateWriter& out, int32_t untimed) const {
  out.I32(output_);
  out.I32(prev_output_);
  out.U32(block_step_);
  out.U8(static_cast<uint32_t>(dt1_row_ >> 5));
  out.U8(static_cast<uint32_t>(dt2_));
  out.U8(static_cast<uint32_t>(mul_));
  out.U32(phase_);
  out.U32(phase_inc_);
  out.U8(key_scale_code_);
  out.I32(key_position_);
  out.I32(env_level_);
  out.I32(env_target_);
  out.I32(env_timer_ - untimed * env_timer_dec_);
  out.I32(env_timer_dec_);
  out.I32(tl_level_);
  out.U8(static_cast<uint32_t>(env_rate_));
  out.I32(env_tick_);
  out.U8(static_cast<uint32_t>(ks_offset_));
  out.U8(static_cast<uint32_t>(env_state_));
  out.U8(lfo_sens_);
  out.U8(static_cast<uint32_t>(tl_));
  out.U8(tl_next_);
  out.U8(attack_rate_);
  out.U8(static_cast<uint32_t>(decay_rate_));
  out.U8(static_cast<uint32_t>(sustain_rate_));
  out.U8(static_cast<uint32_t>(sustain_level_));
  out.U8(static_cast<uint32_t>(release_rate_));
  out.U8(static_cast<uint32_t>(key_scale_));
  out.Bool(keyed_);
  out.Bool(am_enable_);
  out.Bool(dirty_);
  out.Bool(attack_pending_);
}

namespace {

// A rate parameter: twice a 5-bit rate.
uint32_t EvenRate(StateReader& in) {
  const uint32_t rate = in.U8(0, 62);
  if (rate & 1) in.Require(false);
  return rate;
}

}  // namespace

void FmOperator::Load(StateReader& in) {
  constexpr int32_t kMaxSample = 8192;  // LogToLinearTable's largest magnitude
  output_ = in.I32(-kMaxSample, kMaxSample);
  prev_output_ = in.I32(-kMaxSample, kMaxSample);
  block_step_ = in.U32(0, 1u << 20);
  dt1_row_ = static_cast<int32_t>(in.U8(0, 7)) * 32;
  dt2_ = static_cast<int32_t>(in.U8(0, 3));
  mul_ = static_cast<int32_t>(in.U8(0, 15));
  phase_ = in.U32();
  phase_inc_ = in.U32();
  key_scale_code_ = in.U8(0, 31);
  key_position_ = in.I32(0, 8 * kOpmPhaseSteps + 63);  // block 7, note 12, KF 63
  env_level_ = in.I32(0, 2 * kMaxLevel);
  env_target_ = in.I32(0, 1024);
  env_timer_ = in.I32(0, kEnvTimerPeriod);
  env_timer_dec_ = in.I32(0, INT32_MAX);
  tl_level_ = in.I32(0, 127 * 8);
  env_rate_ = static_cast<int32_t>(in.U8(0, 63));
  env_tick_ = in.I32(INT32_MIN, INT32_MAX);
  ks_offset_ = static_cast<int32_t>(in.U8(0, 31));
  env_state_ = static_cast<EnvState>(in.U8(0, static_cast<uint32_t>(EnvState::Off)));
  lfo_sens_ = in.U8();
  tl_ = static_cast<int32_t>(in.U8(0, 127));
  tl_next_ = in.U8(0, 127);
  attack_rate_ = EvenRate(in);
  decay_rate_ = static_cast<int32_t>(EvenRate(in));
  sustain_rate_ = static_cast<int32_t>(EvenRate(in));
  sustain_level_ = static_cast<int32_t>(in.OneOf(in.U8(), SustainLevels, 16));
  release_rate_ = static_cast<int32_t>(in.U8(0, 62));
  if (release_rate_ != 0 && release_rate_ % 4 != 2) in.Require(false);  // RR x 4 + 2, or never set
  key_scale_ = static_cast<int32_t>(in.U8(0, 3));
  keyed_ = in.Bool();
  am_enable_ = in.Bool();
  dirty_ = in.Bool();
  attack_pending_ = in.Bool();
  if (attack_pending_ && env_state_ != EnvState::Attack) in.Require(false);
  if ((tl_level_ & 7) != 0) in.Require(false);
  phase_inc_pm_ = static_cast<int32_t>(phase_inc_ >> 11);
  am_row_ = FmTables::Get().AmpLfoTable[am_enable_ ? (lfo_sens_ >> 4) & 3 : 0];
  UpdateAtten();
}
