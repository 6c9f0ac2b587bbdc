#include "fm/fm_operator.h"

#include <algorithm>

#include "fm/fm_convert.h"

FmOperator::FmOperator() : am_row(FmTables::Get().AmpLfoTable[0]) {}

int32_t FmOperator::RateDecrement(int32_t rate) const {
  int64_t dec = static_cast<int64_t>(RateStepTable[(rate >> 2) & 15]) * chip->ratio;
  return SaturateToInt32(dec);
}

void FmOperator::UseRate(int32_t rate, bool zero_freezes) {
  env_rate = rate == 0 && zero_freezes ? 0 : std::min(ks_offset + rate, 63);
  env_timer_dec = RateDecrement(env_rate);
}

void FmOperator::UpdateAtten() {
  int32_t level = std::min(tl_level + env_level, kMaxLevel);
  atten = static_cast<uint32_t>(level) * 8;
}

void FmOperator::Refresh() {
  if (!dirty) return;
  dirty = false;
  // Detune and multiple apply to the channel's step; the product wraps at 32 bits.
  uint32_t detuned = block_step + static_cast<uint32_t>(static_cast<int32_t>(
                                      DetuneOffsets[(dt1_row >> 5) & 7][key_scale_code & 31]));
  phase_inc = detuned * static_cast<uint32_t>(chip->RatioMulTable[dt2 & 3][mul & 15]);
  phase_inc_pm = static_cast<int32_t>(phase_inc >> 11);
  ks_offset = static_cast<int32_t>(key_scale_code >> (3 - (key_scale & 3)));
  tl_level = tl * 8;
  switch (env_state) {
    case EnvState::Attack: UseRate(static_cast<int32_t>(attack_rate)); break;
    case EnvState::Decay:
      UseRate(decay_rate);
      env_target = sustain_level * 8;
      break;
    case EnvState::Sustain: UseRate(sustain_rate); break;
    case EnvState::Release: UseRate(release_rate, false); break;
    default: break;  // Off, or not reset yet
  }
  am_row = FmTables::Get().AmpLfoTable[am_enable ? (lfo_sens >> 4) & 3 : 0];
  UpdateAtten();
}

void FmOperator::EnterState(EnvState state) {
  // Each case falls through to the next state when its entry condition fails.
  switch (state) {
    case EnvState::Attack:
      tl = static_cast<int32_t>(tl_next);  // tl_level follows at the next Refresh
      if (ks_offset + static_cast<int32_t>(attack_rate) < 62) {
        UseRate(static_cast<int32_t>(attack_rate));
        env_state = EnvState::Attack;
        return;
      }
      [[fallthrough]];  // instant attack
    case EnvState::Decay:
      if (sustain_level != 0) {
        env_level = 0;
        env_target = sustain_level * 8;
        UseRate(decay_rate);
        env_state = EnvState::Decay;
        return;
      }
      [[fallthrough]];  // no first decay
    case EnvState::Sustain:
      env_level = sustain_level * 8;
      env_target = 1024;
      UseRate(sustain_rate);
      env_state = EnvState::Sustain;
      return;
    case EnvState::Release:
      if (env_state == EnvState::Attack || env_level < kOffLevel) {
        env_target = 1024;
        UseRate(release_rate, false);
        env_state = EnvState::Release;
        return;
      }
      [[fallthrough]];  // already inaudible
    default:
      env_level = kOffLevel;
      env_target = kOffLevel;
      UpdateAtten();
      UseRate(0);
      env_state = EnvState::Off;
      return;
  }
}

void FmOperator::StepEnvelope() {
  env_timer = kEnvTimerPeriod;  // the overshoot is dropped, not carried
  int column = env_tick & 7;
  if (env_state == EnvState::Attack) {
    int shift = AttackShifts[env_rate][column];
    if (shift >= 0) {
      env_level -= (env_level >> shift) + 1;
      if (env_level <= 0) EnterState(EnvState::Decay);
    }
  } else {
    env_level += DecayIncrements[env_rate][column];
    if (env_level >= env_target) {
      EnterState(static_cast<EnvState>(static_cast<int32_t>(env_state) + 1));
    }
  }
  UpdateAtten();
  // The count runs for as long as the operator sounds; only its low bits matter, so let it
  // wrap instead of overflowing.
  env_tick = static_cast<int32_t>(static_cast<uint32_t>(env_tick) + 1u);
}

void FmOperator::KeyOn() {
  if (keyed) return;
  keyed = true;
  if (env_state == EnvState::Off || env_state == EnvState::Release) {
    EnterState(EnvState::Attack);
    UpdateAtten();
    output = 0;
    prev_output = 0;
    phase = 0;
  }
}

void FmOperator::KeyOff() {
  if (!keyed) return;
  keyed = false;
  EnterState(EnvState::Release);
}

void FmOperator::Reset() {
  tl = 127;
  tl_next = 127;
  env_level = kOffLevel;
  env_target = kOffLevel;
  UpdateAtten();
  env_rate = 0;
  env_timer = 0;
  env_tick = 0;
  phase = 0;
  output = 0;
  prev_output = 0;
  env_timer_dec = RateDecrement(0);
  env_state = EnvState::Off;
  dirty = true;
}
