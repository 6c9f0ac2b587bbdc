#include "fm/fm_channel.h"

#include <algorithm>
#include <cstdint>

#include "fm/fm_tables.h"

FmChannel::FmChannel() : pm_row_(FmTables::Get().PitchLfoTable[0]) { SelectAlgorithm(0); }

void FmChannel::BindChip(FmChipParams* params) {
  chip_ = params;
  derived_ = false;
  for (FmOperator& op : ops_) op.BindChip(params);
}

void FmChannel::SetFeedback(uint32_t shift) {
  fb_shift_ = shift;
  // Real shifts are 1-7 (31: none); the cap keeps other values inside the shift range.
  fb_bits_ = shift < 29 ? shift + 2 : 31;
  fb_mask_ = shift < 31 ? -1 : 0;
}

void FmChannel::SelectAlgorithm(uint32_t a) {
  ops_[0].ClearHistory();
  algorithm_ = a & 7;
}

void FmChannel::SetPitch(uint32_t kc, uint32_t kf) {
  uint32_t n = static_cast<uint32_t>(NoteStepTable[kc & 15]);
  uint32_t octave = (kc >> 4) & 7;
  uint32_t fraction = static_cast<uint32_t>(FmTables::Get().KeyFractionTable[kf & 63]);
  // The product stays below 2^31; the low 19 bits are dropped before the octave shift.
  uint32_t step = ((((n + 2) >> 2) * fraction) << 2) & ~0x7FFFFu;
  step >>= 19 - octave;
  // The chip-true note position: the twelve notes of the octave (codes 3, 7, 11 and 15 play the
  // next note up), 64 fractions each.
  const uint32_t code = kc & 15;
  const int32_t position =
      static_cast<int32_t>(octave * 768 + (code - (code >> 2)) * 64 + (kf & 63));
  for (FmOperator& op : ops_) op.SetBlockStep(step, (kc >> 2) & 31, position);
  derived_ = false;
}

void FmChannel::SetLfoSensitivity(uint32_t v) {
  for (FmOperator& op : ops_) op.SetLfoSensitivity(v);
  derived_ = false;
}

void FmChannel::WriteKeys(uint32_t mask, bool csm) {
  Settle();  // a key on or off sets new rates
  for (int i = 0; i < 4; ++i) {
    if (!(mask & (1u << i))) {
      ops_[i].KeyOff();
    } else if (!csm) {
      ops_[i].KeyOn();
    }
  }
  // A chip-true key-on settles its attack at the next Refresh.
  if (chip_ != nullptr && chip_->chip_true) derived_ = false;
}

void FmChannel::Reset() {
  untimed_ = 0;
  quiet_ = 0;
  for (FmOperator& op : ops_) op.Reset();
  derived_ = false;
}

uint32_t FmChannel::Derive() {
  Settle();  // the rates may change
  bool any_am = false;
  bool any_on = false;
  for (FmOperator& op : ops_) {
    op.Refresh();
    any_am = any_am || op.am_enable_;
    any_on = any_on || op.env_state_ != EnvState::Off;
  }
  uint32_t sens = ops_[0].lfo_sens_;
  const FmTables& tables = FmTables::Get();
  pm_row_ = (chip_ != nullptr && chip_->chip_true ? tables.PitchLfoStepTable
                                                   : tables.PitchLfoTable)[sens & 7];
  uint32_t mask = any_am ? 0x37 : 0x07;
  lfo_bit_ = (sens & mask) ? kFmChannelUsesLfo : 0;
  lfo_key_ = kNoLfoKey;
  derived_ = true;
  return (any_on ? kFmChannelActive : 0) | lfo_bit_;
}

void FmChannel::Save(StateWriter& out) const {
  out.U8(fb_shift_);
  out.U8(algorithm_);
  for (const FmOperator& op : ops_) op.Save(out, untimed_);
}

void FmChannel::Load(StateReader& in) {
  // A feedback shift from FeedbackShifts, or 0 in a channel never reset.
  constexpr uint8_t kShifts[9] = {0, 31, 7, 6, 5, 4, 3, 2, 1};
  SetFeedback(in.OneOf(in.U8(), kShifts, 9));
  algorithm_ = in.U8(0, 7);
  for (FmOperator& op : ops_) op.Load(in);
  untimed_ = 0;
  quiet_ = 0;
  derived_ = false;
  lfo_key_ = kNoLfoKey;
  const FmTables& tables = FmTables::Get();
  pm_row_ = (chip_ != nullptr && chip_->chip_true ? tables.PitchLfoStepTable
                                                   : tables.PitchLfoTable)[ops_[0].lfo_sens_ & 7];
}

void FmChannel::DeriveLfo(uint64_t key) {
  lfo_key_ = key;
  const int32_t pm_value = pm_row_[(key >> 8) & 0xFF];
  const auto am_index = static_cast<int32_t>(key & 0xFF);
  if (chip_->chip_true) {
    for (FmOperator& op : ops_) op.UseLfo<true>(pm_value, am_index);
  } else {
    for (FmOperator& op : ops_) op.UseLfo<false>(pm_value, am_index);
  }
}

template <bool kLfo>
int32_t FmChannel::RenderTimed(const FmTables& t) {
  Settle();
  const int32_t sample = RenderOps<kLfo>(t);
  quiet_ = std::min(SamplesBeforeTick(), kMaxQuiet);
  return sample;
}

template int32_t FmChannel::RenderTimed<false>(const FmTables&);
template int32_t FmChannel::RenderTimed<true>(const FmTables&);

// ---- Block rendering -------------------------------------------------------------------------

namespace {

// One sine operator of the span loops: phase bits 19-28 plus offset (sine-index units) pick the
// sine entry; the attenuation is added in the log domain.
inline int32_t SineOp(const FmTables& tables, uint32_t phase, int32_t offset, uint32_t atten) {
  const uint32_t i = ((phase >> 19) + static_cast<uint32_t>(offset)) & (kLogSineSize - 1);
  return LinearLookupPadded(tables, static_cast<uint32_t>(tables.LogSineTable[i]) + atten);
}

// The sum of the samples named by mask (bit i: operator i).
template <uint8_t kMask>
inline int32_t Sum(int32_t o0, int32_t o1, int32_t o2, int32_t o3) {
  return (kMask & 1 ? o0 : 0) + (kMask & 2 ? o1 : 0) + (kMask & 4 ? o2 : 0) + (kMask & 8 ? o3 : 0);
}

}  // namespace

int32_t FmChannel::SamplesBeforeTick() const {
  int32_t samples = INT32_MAX;
  for (const FmOperator& op : ops_) samples = std::min(samples, op.SamplesBeforeTick());
  return samples;
}

// The loop of RenderOpsOf, operators held in locals. Specialised for a span in which every
// operator's phase step and attenuation stay fixed and no envelope ticks.
template <int kAlgorithm, bool kLfo>
void FmChannel::RenderSpanOf(int32_t* out, int32_t n, const uint32_t* inc,
                             const uint32_t* atten, const FmTables& tables) {
  constexpr FmConnection c = ConnectionTable[kAlgorithm];
  uint32_t p0 = ops_[0].phase_, p1 = ops_[1].phase_, p2 = ops_[2].phase_, p3 = ops_[3].phase_;
  int32_t o0 = ops_[0].output_, o1 = ops_[1].output_, o2 = ops_[2].output_;
  int32_t o3 = ops_[3].output_;
  int32_t prev0 = ops_[0].prev_output_;
  const uint32_t i0 = inc[0], i1 = inc[1], i2 = inc[2], i3 = inc[3];
  const uint32_t a0 = atten[0], a1 = atten[1], a2 = atten[2], a3 = atten[3];
  // Feedback: the sum of the last two samples shifted by FB + 2 (31 at most), or nothing.
  const uint32_t fb_shift_bits = fb_bits_;
  const int32_t fb_mask = fb_mask_;

  for (int32_t k = 0; k < n; ++k) {
    auto op = [&](uint32_t& p, uint32_t step, uint32_t a, int32_t m) {
      const int32_t v = SineOp(tables, p, m >> 1, a);
      p += step;
      return v;
    };
    const int32_t old0 = o0;
    o2 = op(p2, i2, a2, Sum<c.into[2]>(o0, o1, o2, o3));
    o1 = op(p1, i1, a1, Sum<c.into[1]>(o0, o1, o2, o3));
    o3 = op(p3, i3, a3, Sum<c.into[3]>(o0, o1, o2, o3));
    // Operator 0 with its feedback, last.
    const int32_t s = o0 + prev0;
    prev0 = o0;
    o0 = SineOp(tables, p0, (s >> fb_shift_bits) & fb_mask, a0);
    p0 += i0;
    // Operator 0 as a carrier: without LFO its previous sample, with LFO its new one.
    out[k] += Sum<static_cast<uint8_t>(c.carriers & 0b1110)>(o0, o1, o2, o3) +
              (c.carriers & 1 ? (kLfo ? o0 : old0) : 0);
  }

  ops_[0].EndSpan(n, p0, o0, prev0);
  ops_[1].EndSpan(n, p1, o1, ops_[1].prev_output_);
  ops_[2].EndSpan(n, p2, o2, ops_[2].prev_output_);
  ops_[3].EndSpan(n, p3, o3, ops_[3].prev_output_);
}

template <bool kLfo>
void FmChannel::RenderSpan(int32_t* out, int32_t n, const uint32_t* inc, const uint32_t* atten,
                           const FmTables& t) {
  // No timer reaches 0 within the span (SamplesBeforeTick), so n * dec stays below the timer.
  switch (algorithm_) {
    case 0: RenderSpanOf<0, kLfo>(out, n, inc, atten, t); break;
    case 1: RenderSpanOf<1, kLfo>(out, n, inc, atten, t); break;
    case 2: RenderSpanOf<2, kLfo>(out, n, inc, atten, t); break;
    case 3: RenderSpanOf<3, kLfo>(out, n, inc, atten, t); break;
    case 4: RenderSpanOf<4, kLfo>(out, n, inc, atten, t); break;
    case 5: RenderSpanOf<5, kLfo>(out, n, inc, atten, t); break;
    case 6: RenderSpanOf<6, kLfo>(out, n, inc, atten, t); break;
    default: RenderSpanOf<7, kLfo>(out, n, inc, atten, t); break;
  }
}

// The count of samples before the next tick drops by exactly n over a span of n samples, so it
// is only worked out again after a tick.
void FmChannel::RenderSpans(int32_t* out, int32_t count, const FmTables& t) {
  Settle();
  int32_t pos = 0;
  int32_t free = SamplesBeforeTick();
  while (pos < count) {
    if (free == 0) {
      out[pos++] += RenderOps<false>(t);
      free = SamplesBeforeTick();
      continue;
    }
    const int32_t n = std::min(free, count - pos);
    free -= n;
    uint32_t inc[4];
    uint32_t atten[4];
    for (int i = 0; i < 4; ++i) {
      inc[i] = ops_[i].phase_inc_;
      atten[i] = ops_[i].SpanAtten();
    }
    RenderSpan<false>(out + pos, n, inc, atten, t);
    pos += n;
  }
}

void FmChannel::RenderSpansLfo(int32_t* out, int32_t count, const FmLfoBlock& lfo,
                               const FmTables& t) {
  Settle();
  if (chip_->chip_true) {
    RenderSpansLfoOf<true>(out, count, lfo, t);
  } else {
    RenderSpansLfoOf<false>(out, count, lfo, t);
  }
}

template <bool kChipPitch>
void FmChannel::RenderSpansLfoOf(int32_t* out, int32_t count, const FmLfoBlock& lfo,
                                 const FmTables& t) {
  int32_t pos = 0;
  int32_t free = SamplesBeforeTick();
  while (pos < count) {
    const uint64_t key = lfo.key[pos];
    if (free == 0) {
      UseLfo(key);
      out[pos++] += RenderOps<true>(t);
      free = SamplesBeforeTick();
      continue;
    }
    // Within the run the phase steps and amplitude offsets are those of its first frame.
    const int32_t n = std::min({free, count - pos, lfo.run[pos]});
    free -= n;
    const int32_t pm_value = pm_row_[(key >> 8) & 0xFF];
    const auto am_index = static_cast<int32_t>(key & 0xFF);
    uint32_t inc[4];
    uint32_t atten[4];
    for (int i = 0; i < 4; ++i) {
      inc[i] = ops_[i].LfoPhaseIncOf<kChipPitch>(pm_value);
      atten[i] = ops_[i].SpanAttenLfo(am_index);
    }
    RenderSpan<true>(out + pos, n, inc, atten, t);
    pos += n;
  }
}
