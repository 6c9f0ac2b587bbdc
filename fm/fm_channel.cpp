#include "fm/fm_channel.h"

#include "fm/fm_tables.h"

FmChannel::FmChannel() : pm_row(nullptr) {
  // The operators only take the address of AmpLfoTable row 0; the contents are filled here,
  // before anything reads them.
  BuildLevelTables();
  BuildKeyFractionTable();
  SelectAlgorithm(0);
  pm_row = FmTables().PitchLfoTable[0];
}

void FmChannel::BindChip(FmChipParams* params) {
  chip = params;
  for (FmOperator& op : ops) op.chip = params;
}

void FmChannel::SetFeedback(uint32_t shift) { fb_shift = shift; }

void FmChannel::SelectAlgorithm(uint32_t a) {
  a &= 7;
  const uint8_t* row = ConnectionTable[a];
  for (int op = 0; op < 3; ++op) {
    route_in[op] = row[2 * op];
    route_out[op] = row[2 * op + 1];
  }
  ops[0].output = 0;  // the feedback history starts again
  ops[0].prev_output = 0;
  algorithm = a;
}

void FmChannel::SetPitch(uint32_t kc, uint32_t kf) {
  uint32_t n = static_cast<uint32_t>(NoteStepTable[kc & 15]);
  uint32_t octave = (kc >> 4) & 7;
  uint32_t fraction = static_cast<uint32_t>(FmTables().KeyFractionTable[kf & 63]);
  // The product stays below 2^31; the low 19 bits are dropped before the octave shift.
  uint32_t step = ((((n + 2) >> 2) * fraction) << 2) & ~0x7FFFFu;
  step >>= 19 - octave;
  for (FmOperator& op : ops) {
    op.block_step = step;
    op.key_scale_code = (kc >> 2) & 31;
    op.dirty = true;
  }
}

void FmChannel::SetLfoSensitivity(uint32_t v) {
  for (FmOperator& op : ops) {
    op.lfo_sens = v;
    op.dirty = true;
  }
}

void FmChannel::SetKeyMask(uint32_t mask) {
  for (int i = 0; i < 4; ++i) {
    if (mask & (1u << i)) {
      ops[i].KeyOn();
    } else {
      ops[i].KeyOff();
    }
  }
}

void FmChannel::Reset() {
  for (FmOperator& op : ops) op.Reset();
}

uint32_t FmChannel::Refresh() {
  bool any_am = false;
  bool any_on = false;
  for (FmOperator& op : ops) {
    op.Refresh();
    any_am = any_am || op.am_enable;
    any_on = any_on || op.env_state != EnvState::Off;
  }
  uint32_t sens = ops[0].lfo_sens;
  pm_row = FmTables().PitchLfoTable[sens & 7];
  uint32_t mask = any_am ? 0x37 : 0x07;
  uint32_t result = 0;
  if (any_on) result |= kActive;
  if (sens & mask) result |= kUsesLfo;
  return result;
}
