// The FM tests' access to an operator's internals: envelope state, phase and raw parameters,
// for setting up a case directly and for checking the register decoding.
#pragma once

#include "fm/fm_operator.h"

struct FmOperatorProbe {
#define FM_OPERATOR_PROBE_FIELD(name)                                          \
  static auto& name(FmOperator& op) { return op.name##_; }                     \
  static const auto& name(const FmOperator& op) { return op.name##_; }
  FM_OPERATOR_PROBE_FIELD(phase)
  FM_OPERATOR_PROBE_FIELD(phase_inc)
  FM_OPERATOR_PROBE_FIELD(block_step)
  FM_OPERATOR_PROBE_FIELD(key_scale_code)
  FM_OPERATOR_PROBE_FIELD(dt1_row)
  FM_OPERATOR_PROBE_FIELD(dt2)
  FM_OPERATOR_PROBE_FIELD(mul)
  FM_OPERATOR_PROBE_FIELD(env_level)
  FM_OPERATOR_PROBE_FIELD(env_state)
  FM_OPERATOR_PROBE_FIELD(env_tick)
  FM_OPERATOR_PROBE_FIELD(tl)
  FM_OPERATOR_PROBE_FIELD(tl_level)
  FM_OPERATOR_PROBE_FIELD(key_scale)
  FM_OPERATOR_PROBE_FIELD(attack_rate)
  FM_OPERATOR_PROBE_FIELD(decay_rate)
  FM_OPERATOR_PROBE_FIELD(sustain_rate)
  FM_OPERATOR_PROBE_FIELD(sustain_level)
  FM_OPERATOR_PROBE_FIELD(release_rate)
  FM_OPERATOR_PROBE_FIELD(keyed)
#undef FM_OPERATOR_PROBE_FIELD

  static void UpdateAtten(FmOperator& op) { op.UpdateAtten(); }
  static void StepEnvelope(FmOperator& op) { op.StepEnvelope(); }
};
