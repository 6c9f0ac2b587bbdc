#include "fm/fm_channel.h"

#include <algorithm>
#include <cstdint>

#include "fm/fm_tables.h"

FmChannel::FmChannel() : pm_row(FmTables::Get().PitchLfoTable[0]) { SelectAlgorithm(0); }

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
  uint32_t fraction = static_cast<uint32_t>(FmTables::Get().KeyFractionTable[kf & 63]);
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
  pm_row = FmTables::Get().PitchLfoTable[sens & 7];
  uint32_t mask = any_am ? 0x37 : 0x07;
  uint32_t result = 0;
  if (any_on) result |= kActive;
  if (sens & mask) result |= kUsesLfo;
  return result;
}

// ---- Block rendering -------------------------------------------------------------------------

namespace {

// One sine operator of the span loops: phase bits 19-28 plus offset (sine-index units) pick the
// sine entry; the attenuation is added in the log domain.
inline int32_t SineOp(const FmTables& tables, uint32_t phase, int32_t offset, uint32_t atten) {
  const uint32_t i = ((phase >> 19) + static_cast<uint32_t>(offset)) & (kLogSineSize - 1);
  return LinearLookupPadded(tables, static_cast<uint32_t>(tables.LogSineTable[i]) + atten);
}

}  // namespace

int32_t FmChannel::SamplesBeforeTick() const {
  // The tick comes on the first sample after which the timer is at or below 0.
  int32_t samples = INT32_MAX;
  for (const FmOperator& op : ops) {
    if (op.env_timer <= 0) return 0;
    if (op.env_timer_dec > 0) samples = std::min(samples, (op.env_timer - 1) / op.env_timer_dec);
  }
  return samples;
}

// The loop of RenderOps for one algorithm, operators held in locals. Specialised for a span in
// which every operator's phase step and attenuation stay fixed and no envelope ticks.
template <int kAlgorithm, bool kLfo>
void FmChannel::RenderSpanOf(int32_t* out, int32_t n, const uint32_t* inc,
                             const uint32_t* atten) {
  const FmTables& tables = FmTables::Get();
  uint32_t p0 = ops[0].phase, p1 = ops[1].phase, p2 = ops[2].phase, p3 = ops[3].phase;
  int32_t o0 = ops[0].output, o1 = ops[1].output, o2 = ops[2].output, o3 = ops[3].output;
  int32_t prev0 = ops[0].prev_output;
  const uint32_t i0 = inc[0], i1 = inc[1], i2 = inc[2], i3 = inc[3];
  const uint32_t a0 = atten[0], a1 = atten[1], a2 = atten[2], a3 = atten[3];
  // Feedback: the sum of the last two samples shifted by FB + 2 (31 at most), or nothing.
  const uint32_t fb_shift_bits = fb_shift < 29 ? fb_shift + 2 : 31;
  const int32_t fb_mask = fb_shift < 31 ? -1 : 0;

  for (int32_t k = 0; k < n; ++k) {
    auto op = [&](uint32_t& p, uint32_t step, uint32_t a, int32_t m) {
      const int32_t v = SineOp(tables, p, m >> 1, a);
      p += step;
      return v;
    };
    int32_t sample;
    int32_t old0 = o0;
    if constexpr (kAlgorithm == 0) {
      o2 = op(p2, i2, a2, o1);
      o1 = op(p1, i1, a1, o0);
      o3 = op(p3, i3, a3, o2);
    } else if constexpr (kAlgorithm == 1) {
      o2 = op(p2, i2, a2, o0 + o1);
      o1 = op(p1, i1, a1, 0);
      o3 = op(p3, i3, a3, o2);
    } else if constexpr (kAlgorithm == 2) {
      o2 = op(p2, i2, a2, o1);
      o1 = op(p1, i1, a1, 0);
      o3 = op(p3, i3, a3, o0 + o2);
    } else if constexpr (kAlgorithm == 3) {
      o2 = op(p2, i2, a2, 0);
      o1 = op(p1, i1, a1, o0);
      o3 = op(p3, i3, a3, o1 + o2);
    } else if constexpr (kAlgorithm == 4) {
      o2 = op(p2, i2, a2, 0);
      o1 = op(p1, i1, a1, o0);
      o3 = op(p3, i3, a3, o2);
    } else if constexpr (kAlgorithm == 5) {
      o2 = op(p2, i2, a2, o0);
      o1 = op(p1, i1, a1, o0);
      o3 = op(p3, i3, a3, o0);
    } else if constexpr (kAlgorithm == 6) {
      o2 = op(p2, i2, a2, 0);
      o1 = op(p1, i1, a1, o0);
      o3 = op(p3, i3, a3, 0);
    } else {
      o2 = op(p2, i2, a2, 0);
      o1 = op(p1, i1, a1, 0);
      o3 = op(p3, i3, a3, 0);
    }
    // Operator 0 with its feedback, last.
    const int32_t s = o0 + prev0;
    prev0 = o0;
    o0 = SineOp(tables, p0, (s >> fb_shift_bits) & fb_mask, a0);
    p0 += i0;
    if constexpr (kAlgorithm <= 3) {
      sample = o3;
    } else if constexpr (kAlgorithm == 4) {
      sample = o1 + o3;
    } else if constexpr (kAlgorithm <= 6) {
      sample = o1 + o2 + o3;
    } else {
      // Without LFO operator 0's previous sample, with LFO its new one (RenderOps).
      sample = o1 + o2 + o3 + (kLfo ? o0 : old0);
    }
    out[k] += sample;
  }

  ops[0].phase = p0, ops[1].phase = p1, ops[2].phase = p2, ops[3].phase = p3;
  ops[0].output = o0, ops[1].output = o1, ops[2].output = o2, ops[3].output = o3;
  ops[0].prev_output = prev0;
}

template <bool kLfo>
void FmChannel::RenderSpan(int32_t* out, int32_t n, const uint32_t* inc, const uint32_t* atten) {
  switch (algorithm) {
    case 0: RenderSpanOf<0, kLfo>(out, n, inc, atten); break;
    case 1: RenderSpanOf<1, kLfo>(out, n, inc, atten); break;
    case 2: RenderSpanOf<2, kLfo>(out, n, inc, atten); break;
    case 3: RenderSpanOf<3, kLfo>(out, n, inc, atten); break;
    case 4: RenderSpanOf<4, kLfo>(out, n, inc, atten); break;
    case 5: RenderSpanOf<5, kLfo>(out, n, inc, atten); break;
    case 6: RenderSpanOf<6, kLfo>(out, n, inc, atten); break;
    default: RenderSpanOf<7, kLfo>(out, n, inc, atten); break;
  }
  // No timer reaches 0 within the span (SamplesBeforeTick), so n * dec stays below the timer.
  for (FmOperator& op : ops) op.env_timer -= n * op.env_timer_dec;
}

// The count of samples before the next tick drops by exactly n over a span of n samples, so it
// is only worked out again after a tick.
void FmChannel::RenderBlock(int32_t* out, int32_t count) {
  int32_t pos = 0;
  int32_t free = SamplesBeforeTick();
  while (pos < count) {
    if (free == 0) {
      out[pos++] += Render();
      free = SamplesBeforeTick();
      continue;
    }
    const int32_t n = std::min(free, count - pos);
    free -= n;
    uint32_t inc[4];
    uint32_t atten[4];
    for (int i = 0; i < 4; ++i) {
      inc[i] = ops[i].phase_inc;
      atten[i] = std::min(ops[i].atten, kSpanAttenLimit);  // see kSpanAttenLimit
    }
    RenderSpan<false>(out + pos, n, inc, atten);
    pos += n;
  }
}

void FmChannel::RenderBlockLfo(int32_t* out, int32_t count, const FmLfoBlock& lfo) {
  int32_t pos = 0;
  int32_t free = SamplesBeforeTick();
  while (pos < count) {
    chip->am_index = lfo.am_index[pos];
    chip->pm_index = lfo.pm_index[pos];
    if (free == 0) {
      out[pos++] += RenderLfo();
      free = SamplesBeforeTick();
      continue;
    }
    const int32_t n = std::min({free, count - pos, lfo.run[pos]});
    free -= n;
    // Within the run the pitch factor and the amplitude offset are those of its first frame.
    chip->pm_value = pm_row[chip->pm_index];
    uint32_t inc[4];
    uint32_t atten[4];
    for (int i = 0; i < 4; ++i) {
      inc[i] = ops[i].LfoPhaseInc();
      atten[i] = std::min(static_cast<uint32_t>(ops[i].am_row[chip->am_index]) + ops[i].atten,
                          kSpanAttenLimit);
    }
    RenderSpan<true>(out + pos, n, inc, atten);
    pos += n;
  }
  if (count > 0) {
    chip->am_index = lfo.am_index[count - 1];
    chip->pm_index = lfo.pm_index[count - 1];
    chip->pm_value = pm_row[chip->pm_index];
  }
}
