#include "psg/psg.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iterator>

#include "psg/noise_table.h"
#include "psg/step_kernel.h"

// One channel through one block: what it reads (tone, noise, envelope) and its counters, which
// it advances as it goes. Noise and envelope positions are the channel's own copies; every
// channel starts from the chip's, and the chip advances its own after the block.
struct Psg::ChannelRun {
  uint32_t phase;
  uint32_t step;
  uint32_t tone_on;  // 0 or 1
  uint32_t noise_pos;
  uint32_t noise_step;
  uint32_t noise_on;  // 0 or 1
  uint32_t envelope_pos;
  uint32_t envelope_step;
  uint32_t hold_bit;
  uint32_t level_shift;  // with the chip's output: the level is amp << level_shift
  bool envelope;       // the amplitude comes from the envelope row
  const int32_t* row;  // envelope amplitudes, 64 entries
  int32_t amp;         // fixed amplitude otherwise
  const uint32_t* noise;
};

namespace {

constexpr int32_t kBlock = 1024;  // frames rendered at a time
constexpr uint32_t kToneStepLimit = 0x1000000;  // above this a half-period is under one frame
constexpr uint32_t kEnvelopeEnd = 0x40000000;   // 64 entries of 2^24
constexpr uint32_t kEnvelopeSecondHalf = 0x20000000;
constexpr uint32_t kEnvelopeCallEnd = kEnvelopeEnd >> 8;  // the same, at the per-call grain
constexpr uint32_t kEnvelopeCallSecondHalf = kEnvelopeSecondHalf >> 8;

constexpr double kFullScale = 5461.333333333333;   // 16384 / 3: three channels sum to 16384
constexpr double kLevelStep = 0.8408964152556385;  // 2^(-1/4), 1.5 dB
// The AY-3-8910's output for levels 0-15 relative to level 15, as measured on the chip: the
// measurements published with the ayumi emulator (MIT licence).
constexpr double kAyLevels[16] = {0.0,     0.00999, 0.01445, 0.02106, 0.03070, 0.04555,
                                  0.06450, 0.10736, 0.12659, 0.20499, 0.29221, 0.37284,
                                  0.49253, 0.63532, 0.80558, 1.0};
// The YM2149's 32 envelope levels relative to level 31, measured on the chip (published with
// the same emulator).
constexpr double kYmLevels[32] = {
    0.0,     0.0,     0.00465, 0.00772, 0.01096, 0.01396, 0.01700, 0.02002,
    0.02437, 0.02969, 0.03507, 0.04039, 0.04854, 0.05834, 0.06806, 0.07778,
    0.09252, 0.11109, 0.12975, 0.14849, 0.17667, 0.21155, 0.24639, 0.28110,
    0.33373, 0.40043, 0.46738, 0.53443, 0.63517, 0.75801, 0.87993, 1.0};

// An envelope half is one of four ramps over the levels 0-31; levels count in 8 bits.
struct Ramp {
  uint8_t start;
  uint8_t step;
};
constexpr Ramp kRamps[4] = {
    {0, 0},      // silent
    {0, 1},      // rise
    {31, 0xFF},  // fall
    {31, 0},     // high
};
// Ramp of the first and the second half of each shape, shape 0 first.
constexpr uint8_t kShapeRamps[Psg::kShapes * 2] = {
    2, 0, 2, 0, 2, 0, 2, 0, 1, 0, 1, 0, 1, 0, 1, 0,
    2, 2, 2, 0, 2, 1, 2, 3, 1, 1, 1, 3, 1, 2, 1, 0,
};

constexpr bool RampsStayInTable() {
  for (const Ramp& ramp : kRamps) {
    uint8_t level = ramp.start;
    for (uint32_t i = 0; i < Psg::kEnvelopeEntries / 2; ++i) {
      if (level >= Psg::kLevels) return false;
      level = static_cast<uint8_t>(level + ramp.step);
    }
  }
  for (uint8_t ramp : kShapeRamps) {
    if (ramp >= 4) return false;
  }
  return true;
}
static_assert(RampsStayInTable(), "every envelope entry must index volume_table");

// Shapes 10 and 14 (continue and alternate set, hold clear) run the whole row again after its
// end; every other shape repeats its second half.
bool LoopsWholeRow(uint8_t shape) { return (shape & 0x0B) == 0x0A; }

// clock * scale / rate in double precision, truncated toward zero, saturated to 32 bits.
// rate is never 0 here.
uint32_t Base(uint32_t clock, double scale, uint32_t rate) {
  const double base = static_cast<double>(clock) * scale / static_cast<double>(rate);
  if (!(base < 4294967296.0)) return UINT32_MAX;
  return static_cast<uint32_t>(base);
}

// A volume_table entry: x truncated toward zero, held to 0 .. kMaxAmplitude.
int32_t Amplitude(double x) {
  if (!(x < static_cast<double>(Psg::kMaxAmplitude))) return Psg::kMaxAmplitude;
  if (!(x > 0.0)) return 0;
  return static_cast<int32_t>(x);
}

// Adds into the host's buffer; a sum past the int32 range wraps around instead of overflowing.
int32_t AddWrapping(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// +amp when the wave is high (x = 1), -amp when it is low (x = 0), no branch.
inline int32_t Signed(int32_t amp, uint32_t x) {
  const int32_t m = static_cast<int32_t>(x) - 1;
  return (amp + m) ^ m;
}

// A channel's value for its gate x (0 or 1). The board's: +-amp. The chip's: its level
// (amp << shift) when the gate is open, 0 when it is closed.
template <bool kChip>
inline int32_t Value(int32_t amp, uint32_t x, uint32_t shift) {
  if constexpr (kChip) {
    return (amp << shift) & -static_cast<int32_t>(x);
  } else {
    return Signed(amp, x);
  }
}

// The gate from the tone's and the noise's bits. The board's: either high. The chip's: both
// high, a source that is off holding its bit at 1 (its Off()).
template <bool kChip>
inline uint32_t Gate(uint32_t tone, uint32_t noise) {
  return kChip ? tone & noise : tone | noise;
}
template <bool kChip>
constexpr uint32_t Off() {
  return kChip ? 1 : 0;
}

// Bit 0: the noise bit at a noise position.
inline uint32_t NoiseBits(const uint32_t* noise, uint32_t pos) {
  return noise[pos >> 22] >> ((pos >> 17) & 31);
}

// One sub-sample's advance of the envelope position. Past entry 63 the excess carries over
// into entry 0, or into entry 32 when hold_bit is set (every shape but the whole-row loops).
inline uint32_t EnvelopeStep(uint32_t pos, uint32_t step, uint32_t hold_bit) {
  pos += step;
  const uint32_t past_end = 0u - static_cast<uint32_t>(pos >= kEnvelopeEnd);
  return (pos | (past_end & hold_bit)) & (kEnvelopeEnd - 1);
}

constexpr uint32_t kNever = UINT32_MAX;
constexpr uint32_t kToneHalfPeriod = 1u << 26;  // the tone bit flips at each multiple
constexpr uint32_t kNoiseBitLength = 1u << 17;  // a new noise bit at each multiple
constexpr uint32_t kEnvelopeEntryLength = 1u << 24;

// Sub-samples until a counter at pos, advancing by step, first reaches a multiple of size (a
// power of two): the first sub-sample that sees the next value. kNever for a counter that stands.
inline uint32_t StepsToNext(uint32_t pos, uint32_t step, uint32_t size) {
  if (step == 0) return kNever;
  const uint32_t left = size - (pos & (size - 1));
  return (left - 1) / step + 1;
}

// Envelope position after n sub-samples, jumping from one end of the row to the next.
uint32_t AdvanceEnvelope(uint32_t pos, uint32_t step, uint32_t hold_bit, uint32_t n) {
  while (n > 0) {
    if (step == 0) return pos;
    const uint32_t to_end = (kEnvelopeEnd - pos - 1) / step + 1;  // pos is below the end
    if (n < to_end) return pos + n * step;
    pos = EnvelopeStep(pos + (to_end - 1) * step, step, hold_bit);
    n -= to_end;
  }
  return pos;
}

// Where a channel's sound goes. BoxSums: frames that sum four sub-samples each, the sub-samples
// as they are. Edges (below): each change of level at its exact time, as a band-limited step.
// Both write into kOuts buffers: one for the channels summed, or one a channel.
// Channel(c): what follows is channel c's.
// Run(s, n, value, back): sub-samples [s, s + n) sound value, which the wave reached back / 256
// of a sub-sample before s. One(s, value): sub-sample s alone. End(subs, value, back): the
// level the block ends on, for the next to carry on from.
template <uint32_t kOuts>
struct BoxSums {
  static constexpr bool kTimesChanges = false;
  int32_t (*buffers)[kBlock];
  int32_t* sums = buffers[0];  // the present channel's

  void Channel(uint32_t c) {
    if constexpr (kOuts > 1) sums = buffers[c];
  }
  // Adds value to each of the sub-samples [first, first + n).
  void Run(uint32_t first, uint32_t n, int32_t value, uint32_t /*back*/) const {
    const uint32_t end = first + n;
    uint32_t frame = first >> 2;
    const uint32_t end_frame = end >> 2;
    if (frame == end_frame) {
      sums[frame] += value * static_cast<int32_t>(n);
      return;
    }
    if (first & 3) {
      sums[frame] += value * static_cast<int32_t>(4 - (first & 3));
      ++frame;
    }
    const int32_t whole = 4 * value;
    for (; frame < end_frame; ++frame) sums[frame] += whole;
    if (end & 3) sums[end_frame] += value * static_cast<int32_t>(end & 3);
  }
  void One(uint32_t s, int32_t value) const { sums[s >> 2] += value; }
  void End(uint32_t /*subs*/, int32_t /*value*/, uint32_t /*back*/) const {}
};

// How far before the counter's present position pos it crossed its last multiple of size, in
// 1/256 of a sub-sample (0-255): the exact time of the change the crossing made.
inline uint32_t Back(uint32_t pos, uint32_t step, uint32_t size) {
  return static_cast<uint32_t>((uint64_t{pos & (size - 1)} << 8) / step);
}

// The band-limited sink: a change of a channel's level by d at sub-sample time t adds
// d x the step kernel's row for t's fraction of a frame to the frames from t's on. last holds
// each channel's level as the previous block ended.
template <uint32_t kOuts>
struct Edges {
  static constexpr bool kTimesChanges = true;
  int64_t (*buffers)[kBlock + StepKernel::kTaps];
  const int32_t (*taps)[StepKernel::kTaps];
  int32_t* last;
  int64_t* changes = buffers[0];  // the present channel's
  uint32_t channel = 0;

  void Channel(uint32_t c) {
    channel = c;
    if constexpr (kOuts > 1) changes = buffers[c];
  }
  // A change to value at back / 256 of a sub-sample before sub-sample s.
  void Change(uint32_t s, uint32_t back, int32_t value) const {
    const int32_t before = last[channel];
    if (value == before) return;
    last[channel] = value;
    const uint32_t t = (s << 8) - back;  // in 1/256 sub-samples; four sub-samples a frame
    const int64_t d = int64_t{value} - before;
    const int32_t* row = taps[(t >> 2) & (StepKernel::kPhases - 1)];
    int64_t* at = changes + (t >> 10);
    for (uint32_t j = 0; j < StepKernel::kTaps; ++j) at[j] += d * row[j];
  }
  void Run(uint32_t s, uint32_t /*n*/, int32_t value, uint32_t back) const {
    Change(s, back, value);
  }
  void One(uint32_t s, int32_t value) const { Change(s, 0, value); }
  void End(uint32_t subs, int32_t value, uint32_t back) const { Change(subs, back, value); }
};

using ChannelRun = Psg::ChannelRun;

// Sub-samples until the noise bit at pos next changes value: the bits are read one after the
// other (bit (pos >> 17) & 31 of word pos >> 22), so a run of equal bits within a word is
// passed in one go. step is below 2^17.
inline uint32_t StepsToNoiseChange(const uint32_t* noise, uint32_t pos, uint32_t step) {
  if (step == 0) return kNever;
  const uint32_t bit = pos >> 17;
  const uint32_t rest = noise[bit >> 5] >> (bit & 31);
  const uint32_t same = std::min<uint32_t>(std::countr_zero((rest & 1) ? ~rest : rest),
                                           32 - (bit & 31));
  // At most 32 bits of 2^17 ahead: the difference fits, even where the shift wraps to 0.
  const uint32_t left = ((bit + same) << 17) - pos;
  return (left - 1) / step + 1;
}

// Renders in runs over which nothing the channel hears changes: the spans between flips of the
// tone bit, changes of the noise bit and new envelope entries, each found by division and
// then counted down. Used when these runs last several sub-samples; otherwise RenderSubSamples
// is cheaper.
template <bool kChip, class Sink>
void RenderRuns(Sink& sink, uint32_t subs, ChannelRun& c) {
  // kNever counts down too, but no block is long enough for it to reach 0.
  uint32_t tone_bit = Off<kChip>();
  uint32_t to_tone = kNever;
  if (c.tone_on) {
    tone_bit = (c.phase >> 26) & 1;
    to_tone = StepsToNext(c.phase, c.step, kToneHalfPeriod);
  }
  uint32_t noise_bit = Off<kChip>();
  uint32_t to_noise = kNever;
  if (c.noise_on) {
    noise_bit = NoiseBits(c.noise, c.noise_pos) & 1;
    to_noise = StepsToNoiseChange(c.noise, c.noise_pos, c.noise_step);
  }
  int32_t amp = c.amp;
  uint32_t to_entry = kNever;
  if (c.envelope) {
    amp = c.row[c.envelope_pos >> 24];
    to_entry = StepsToNext(c.envelope_pos, c.envelope_step, kEnvelopeEntryLength);
  }
  uint32_t s = 0;
  uint32_t back = 0;  // when the value of sub-sample s was reached, for a sink that times changes
  while (s < subs) {
    const uint32_t n = std::min({subs - s, to_tone, to_noise, to_entry});
    sink.Run(s, n, Value<kChip>(amp, Gate<kChip>(tone_bit, noise_bit), c.level_shift), back);
    s += n;
    c.phase += n * c.step;
    c.noise_pos += n * c.noise_step;
    to_tone -= n;
    to_noise -= n;
    to_entry -= n;
    // Where counters cross in one sub-sample, the first of tone, noise, envelope to cross times
    // the change: they are taken last to first, each timing it over those taken before.
    if (to_entry == 0) {  // with the envelope only: kNever does not get there
      // Only the sub-sample that enters a new entry can pass the end of the row.
      c.envelope_pos = EnvelopeStep(c.envelope_pos + (n - 1) * c.envelope_step, c.envelope_step,
                                    c.hold_bit);
      amp = c.row[c.envelope_pos >> 24];
      to_entry = StepsToNext(c.envelope_pos, c.envelope_step, kEnvelopeEntryLength);
      if constexpr (Sink::kTimesChanges) {
        back = Back(c.envelope_pos, c.envelope_step, kEnvelopeEntryLength);
      }
    } else if (c.envelope) {
      c.envelope_pos += n * c.envelope_step;
    }
    if (to_noise == 0) {
      noise_bit = NoiseBits(c.noise, c.noise_pos) & 1;  // the same again after a word's end
      to_noise = StepsToNoiseChange(c.noise, c.noise_pos, c.noise_step);
      if constexpr (Sink::kTimesChanges) back = Back(c.noise_pos, c.noise_step, kNoiseBitLength);
    }
    if (to_tone == 0) {
      tone_bit = (c.phase >> 26) & 1;
      to_tone = StepsToNext(c.phase, c.step, kToneHalfPeriod);
      if constexpr (Sink::kTimesChanges) back = Back(c.phase, c.step, kToneHalfPeriod);
    }
  }
  sink.End(subs, Value<kChip>(amp, Gate<kChip>(tone_bit, noise_bit), c.level_shift), back);
}

// Sub-sample by sub-sample, for channels whose tone, noise or envelope moves too fast for runs.
// A sink that times changes gets them on the sub-sample grid.
template <bool kChip, class Sink>
void RenderSubSamples(Sink& sink, uint32_t subs, ChannelRun& c) {
  // A source that is off reads Off(): the board's 0, the chip's 1.
  const uint32_t tone_off = c.tone_on ^ 1 ? Off<kChip>() : 0;
  const uint32_t noise_off = c.noise_on ^ 1 ? Off<kChip>() : 0;
  for (uint32_t s = 0; s < subs; ++s) {
    int32_t amp = c.amp;
    if (c.envelope) {
      amp = c.row[c.envelope_pos >> 24];
      c.envelope_pos = EnvelopeStep(c.envelope_pos, c.envelope_step, c.hold_bit);
    }
    const uint32_t x =
        Gate<kChip>(((c.phase >> 26) & c.tone_on) | tone_off,
                    (NoiseBits(c.noise, c.noise_pos) & c.noise_on) | noise_off) & 1;
    c.noise_pos += c.noise_step;
    c.phase += c.step;
    sink.One(s, Value<kChip>(amp, x, c.level_shift));
  }
}

// The chip's DC blocker, held in locals through a call: y[n] = x[n] - x[n-1] + (1 - leak)
// y[n-1], y in 1 / 2^16 units, leak in 1 / 2^24: one pole at Psg::kDcBlockerHz.
struct DcBlocker {
  static constexpr int64_t kHalfUnit = int64_t{1} << 15;
  int32_t in;
  int64_t out;
  int64_t leak;

  int32_t Pass(int32_t x) {
    // The leak's product from y in 1 / 2^8 units, so that it cannot overflow.
    out += ((int64_t{x} - in) << 16) - (((out >> 8) * leak) >> 16);
    in = x;
    return static_cast<int32_t>((out + kHalfUnit) >> 16);
  }
  // At rest (input 0, output under half a unit), on exactly 0: a call's end checks.
  void Settle() {
    if (in == 0 && out > -kHalfUnit && out < kHalfUnit) out = 0;
  }
};

// Adds the channels' values v to both sides of out, each by its shares in pan.
inline void AddPanned(StereoFrame& out, const int32_t* v, const Psg::Pan& pan) {
  constexpr int64_t kHalf = int64_t{1} << (Psg::kPanBits - 1);
  int64_t left = kHalf;
  int64_t right = kHalf;
  for (uint32_t c = 0; c < Psg::kChannels; ++c) {
    left += int64_t{v[c]} * pan.left[c];
    right += int64_t{v[c]} * pan.right[c];
  }
  out.left = AddWrapping(out.left, static_cast<int32_t>(left >> Psg::kPanBits));
  out.right = AddWrapping(out.right, static_cast<int32_t>(right >> Psg::kPanBits));
}

// Runs pay when each lasts about eight sub-samples or more.
bool RunsPay(const ChannelRun& c) {
  constexpr uint32_t kMinRun = 8;
  return (!c.tone_on || c.step <= kToneHalfPeriod / kMinRun) &&
         (!c.noise_on || c.noise_step <= kNoiseBitLength / kMinRun) &&
         (!c.envelope || c.envelope_step <= kEnvelopeEntryLength / kMinRun);
}

}  // namespace

Psg::Psg() {
  SetVolume(0);
  noise_table_ = NoiseTable::Get().words;
  WritePowerOnRegisters();
}

void Psg::WritePowerOnRegisters() {
  for (uint32_t i = 0; i <= 13; ++i) SetRegister(i, 0);
  // Tones and noises off, I/O ports high; stored without write side effects.
  regs_[7] = 255;
  regs_[14] = 255;
  regs_[15] = 255;
}

void Psg::Reset() { WritePowerOnRegisters(); }

void Psg::SetChipTrue(bool chip_true) {
  chip_true_ = chip_true;
  noise_word_ = 0;
  noise_pos_ = 0;
  noise_table_ = chip_true ? ChipNoiseTable::Get().words : NoiseTable::Get().words;
  std::fill(std::begin(dc_in_), std::end(dc_in_), 0);
  std::fill(std::begin(dc_out_), std::end(dc_out_), 0);
  SetVolume(volume_);
  UpdateEnvelopeStep();
}

void Psg::SetClock(uint32_t clock, uint32_t rate) {
  if (rate == 0) return;
  tone_base_ = Base(clock, 4194304.0, rate);
  envelope_base_ = Base(clock, 1048576.0, rate);
  noise_base_ = Base(clock, 4096.0, rate);
  for (uint32_t c = 0; c < kChannels; ++c) UpdateToneStep(c);
  UpdateEnvelopeStep();
  UpdateNoiseStep();
  // The board's: half of what a write of register 6 stores, until register 6 is written again.
  // The chip's noise runs at its full rate from the start.
  if (!chip_true_) noise_step_ /= 2;
  dc_leak_ = std::llround((1 - std::exp(-2 * 3.14159265358979323846 * kDcBlockerHz / rate)) *
                          16777216.0);
}

void Psg::SetRegister(uint32_t index, uint32_t value) {
  if (index >= kRegisterCount) return;
  const uint8_t byte = static_cast<uint8_t>(value);
  const uint32_t old_period = index < 6 ? TonePeriod(index / 2) : 0;
  regs_[index] = byte;
  switch (index) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
      UpdateToneStep(index / 2);
      if (chip_true_) ChangeTonePeriod(index / 2, old_period);
      break;
    case 6:
      UpdateNoiseStep();
      break;
    case 8:
    case 9:
    case 10:
      // Bit 4 is Mix's business; the fixed amplitude is kept up to date either way.
      UpdateFixedAmp(index - 8);
      break;
    case 11:
    case 12:
      UpdateEnvelopeStep();
      break;
    case 13:
      // Any write restarts the envelope at entry 0, even with the same shape.
      envelope_pos_ = 0;
      envelope_row_ = byte & 15u;
      break;
    default:  // 7, 14, 15: stored only
      break;
  }
}

uint8_t Psg::GetRegister(uint32_t index) const { return regs_[index & 15u]; }

uint32_t Psg::TonePeriod(uint32_t channel) const {
  const uint32_t tp = (regs_[2 * channel + 1] * 256u + regs_[2 * channel]) & 0xFFFu;
  return tp != 0 ? tp : 1;
}

void Psg::UpdateToneStep(uint32_t channel) {
  tone_step_[channel] = tone_base_ / TonePeriod(channel);
}

void Psg::ChangeTonePeriod(uint32_t channel, uint32_t old_period) {
  const uint32_t period = TonePeriod(channel);
  if (period == old_period) return;
  // In the half-period, the count reached is pos / 2^26 of old_period. The counter goes on
  // from that count; at or past the new period it toggles at its next count.
  const uint64_t pos = tone_phase_[channel] & (kToneHalfPeriod - 1);
  const uint64_t last_count = (uint64_t{period - 1} << 26) / period;
  const uint64_t moved = std::min(pos * old_period / period, last_count);
  tone_phase_[channel] = (tone_phase_[channel] & ~(kToneHalfPeriod - 1)) |
                         static_cast<uint32_t>(moved);
}

void Psg::UpdateNoiseStep() {
  const uint32_t np = regs_[6] & 31u;
  noise_step_ = np != 0 ? noise_base_ / np : noise_base_;
}

void Psg::UpdateEnvelopeStep() {
  const uint32_t ep = regs_[12] * 256u + regs_[11];
  // The board runs period 0 twice as fast as 1; the chip runs it as 1.
  envelope_step_ = ep != 0 ? envelope_base_ / ep : (chip_true_ ? 1 : 2) * envelope_base_;
}

void Psg::UpdateFixedAmp(uint32_t channel) {
  // Level L uses entry 2L + 1: level 0 is silent and each level is 3 dB.
  fixed_amp_[channel] =
      (channel_mask_ >> channel) & 1 ? volume_table_[2 * (regs_[8 + channel] & 15u) + 1] : 0;
}

void Psg::SetChannelMask(uint32_t mask) {
  // Bits 3-5 stay set, as construction leaves them.
  channel_mask_ = (mask & 7u) | 0x38u;
  for (uint32_t c = 0; c < kChannels; ++c) UpdateFixedAmp(c);
}

void Psg::SetType(Type type) {
  type_ = type;
  SetVolume(volume_);
}

void Psg::SetVolume(int32_t volume) {
  volume_ = volume;
  // volume is in half-decibels: 10^(volume / 40) relative to full scale.
  double x = std::pow(10.0, static_cast<double>(volume) * 0.025) * kFullScale;
  if (type_ == Type::kAy8910) {
    // Entries 2L and 2L + 1 both hold level L: fixed levels read 2L + 1, and the envelope's
    // 32 steps become 16.
    for (uint32_t i = 2; i < kLevels; ++i) volume_table_[i] = Amplitude(x * kAyLevels[i / 2]);
  } else if (chip_true_) {
    for (uint32_t i = 2; i < kLevels; ++i) volume_table_[i] = Amplitude(x * kYmLevels[i]);
  } else {
    for (uint32_t i = kLevels - 1; i >= 2; --i) {
      volume_table_[i] = Amplitude(x);
      x *= kLevelStep;  // the running value, not the truncated entry
    }
  }
  volume_table_[0] = 0;
  volume_table_[1] = 0;
  if (chip_true_) {
    // The chip's level is twice the amplitude: it must fit where the amplitude does.
    for (int32_t& amp : volume_table_) amp = std::min(amp, kMaxAmplitude / 2);
  }
  BuildEnvelopeTable();
  for (uint32_t c = 0; c < kChannels; ++c) UpdateFixedAmp(c);
}

void Psg::BuildEnvelopeTable() {
  for (uint32_t shape = 0; shape < kShapes; ++shape) {
    for (uint32_t half = 0; half < 2; ++half) {
      const Ramp& ramp = kRamps[kShapeRamps[2 * shape + half]];
      uint8_t level = ramp.start;
      for (uint32_t i = 0; i < kEnvelopeEntries / 2; ++i) {
        envelope_table_[shape][half * (kEnvelopeEntries / 2) + i] = volume_table_[level];
        level = static_cast<uint8_t>(level + ramp.step);
      }
    }
  }
}

template <bool kChip>
bool Psg::PrepareChannels(ChannelRun* channels) const {
  // Decisions taken once per call, from the registers as they stand at the call.
  const uint32_t mixer = regs_[7];
  bool any_envelope = false;
  for (uint32_t c = 0; c < kChannels; ++c) {
    ChannelRun& run = channels[c];
    run.step = tone_step_[c];
    run.tone_on = ((mixer >> c) & 1) == 0 && tone_step_[c] <= kToneStepLimit ? 1 : 0;
    // The chip's tone above half the rate: its gate open half the time, so half its level.
    const bool too_fast = ((mixer >> c) & 1) == 0 && tone_step_[c] > kToneStepLimit;
    run.level_shift = kChip && too_fast ? 0 : 1;
    run.noise_step = noise_step_;
    run.noise_on = ((mixer >> (3 + c)) & 1) == 0 ? 1 : 0;
    run.envelope = ((channel_mask_ >> c) & 1) != 0 && (regs_[8 + c] & 0x10) != 0;
    run.envelope_step = envelope_step_;
    run.hold_bit = LoopsWholeRow(regs_[13]) ? 0 : kEnvelopeSecondHalf;
    run.row = envelope_table_[envelope_row_];
    run.amp = fixed_amp_[c];
    any_envelope = any_envelope || run.envelope;
  }
  return any_envelope;
}

bool Psg::Silent() const {
  return (((regs_[8] | regs_[9] | regs_[10]) & 0x1Fu) | (~regs_[7] & 0x3Fu)) == 0;
}

template <bool kChip, class Sink>
void Psg::RenderBlock(Sink& sink, ChannelRun* channels, bool any_envelope, uint32_t subs) {
  for (uint32_t c = 0; c < kChannels; ++c) {
    ChannelRun& run = channels[c];
    run.phase = tone_phase_[c];
    run.noise_pos = noise_pos_;
    run.envelope_pos = envelope_pos_;
    sink.Channel(c);
    run.noise = noise_table_;
    if (!run.envelope && run.amp == 0) {
      sink.End(0, 0, 0);
      run.phase += subs * run.step;  // adds +0 or -0 throughout
    } else if (RunsPay(run) ||
               (Sink::kTimesChanges && (!run.noise_on || run.noise_step < kNoiseBitLength))) {
      RenderRuns<kChip>(sink, subs, run);
    } else {
      RenderSubSamples<kChip>(sink, subs, run);
    }
    tone_phase_[c] = run.phase;
  }
  // The noise position moves whenever some noise is on or some amplitude follows the envelope;
  // the envelope position moves per sub-sample only in the latter case.
  if (any_envelope || (~regs_[7] & 0x38u) != 0) noise_pos_ += subs * noise_step_;
  if constexpr (kChip) RebaseChipNoise();
  if (any_envelope) {
    envelope_pos_ = AdvanceEnvelope(envelope_pos_, envelope_step_, channels[0].hold_bit, subs);
  }
}

void Psg::Mix(StereoFrame* frames, int32_t count) {
  if (panned_) {
    if (chip_true_) {
      MixAs<true, kChannels>(frames, count);
    } else {
      MixAs<false, kChannels>(frames, count);
    }
  } else if (chip_true_) {
    MixAs<true, 1>(frames, count);
  } else {
    MixAs<false, 1>(frames, count);
  }
}

void Psg::MixBandLimited(StereoFrame* frames, int32_t count) {
  if (panned_) {
    if (chip_true_) {
      MixBandLimitedAs<true, kChannels>(frames, count);
    } else {
      MixBandLimitedAs<false, kChannels>(frames, count);
    }
  } else if (chip_true_) {
    MixBandLimitedAs<true, 1>(frames, count);
  } else {
    MixBandLimitedAs<false, 1>(frames, count);
  }
}

template <uint32_t kOuts>
bool Psg::DcAtRest() const {
  for (uint32_t o = 0; o < kOuts; ++o) {
    if (dc_out_[o] != 0) return false;
  }
  return true;
}

// With the chip's output each value passes its own DC blocker, held in locals through a call.
// One value goes to the sides the routing selects; a value a channel goes by its pan shares.
template <uint32_t kOuts>
struct Psg::Outputs {
  Psg& psg;
  DcBlocker dc[kOuts];
  int32_t left_mask;
  int32_t right_mask;

  explicit Outputs(Psg& p)
      : psg(p),
        left_mask((p.routing_ & 1) != 0 ? -1 : 0),
        right_mask((p.routing_ & 2) != 0 ? -1 : 0) {
    for (uint32_t o = 0; o < kOuts; ++o) dc[o] = {p.dc_in_[o], p.dc_out_[o], p.dc_leak_};
  }
  // Output o's value x as it sounds.
  template <bool kChip>
  int32_t Pass(uint32_t o, int32_t x) {
    if constexpr (kChip) x = dc[o].Pass(x);
    return x;
  }
  // Adds a frame's values v, as they sound, into out.
  void Place(StereoFrame& out, const int32_t* v) const {
    if constexpr (kOuts == 1) {
      out.left = AddWrapping(out.left, v[0] & left_mask);
      out.right = AddWrapping(out.right, v[0] & right_mask);
    } else {
      AddPanned(out, v, psg.pan_);
    }
  }
  // Keeps the DC blockers' state for the next call.
  void Store() {
    for (uint32_t o = 0; o < kOuts; ++o) {
      dc[o].Settle();
      psg.dc_in_[o] = dc[o].in;
      psg.dc_out_[o] = dc[o].out;
    }
  }
};

template <bool kChip, uint32_t kOuts>
void Psg::MixAs(StereoFrame* frames, int32_t count) {
  // The chip's DC blocker lets a silenced level fall away before the mixer may stop.
  if (Silent() && (!kChip || DcAtRest<kOuts>())) return;
  if (frames == nullptr) count = 0;
  ChannelRun channels[kChannels];
  const bool any_envelope = PrepareChannels<kChip>(channels);

  // Each frame sums twelve contributions (three channels, four sub-samples), in any order:
  // every one is at most kMaxAmplitude, so no partial sum overflows.
  int32_t sums[kOuts][kBlock];
  BoxSums<kOuts> sink{sums};
  Outputs<kOuts> outputs(*this);
  const int32_t block = BlockFrames();
  for (int32_t start = 0; start < count; start += block) {
    const int32_t n = std::min(block, count - start);
    for (auto& out_sums : sums) std::fill(out_sums, out_sums + n, 0);
    RenderBlock<kChip>(sink, channels, any_envelope, 4 * static_cast<uint32_t>(n));
    StereoFrame* out = frames + start;
    for (int32_t i = 0; i < n; ++i) {
      int32_t v[kOuts];
      for (uint32_t o = 0; o < kOuts; ++o) {
        v[o] = outputs.template Pass<kChip>(o, sums[o][i] / 4);  // rounds toward zero
      }
      outputs.Place(out[i], v);
    }
  }
  outputs.Store();
  if (!any_envelope) AdvanceEnvelopeByCall(count);
}

template <bool kChip, uint32_t kOuts>
void Psg::MixBandLimitedAs(StereoFrame* frames, int32_t count) {
  if (frames == nullptr) count = 0;
  const bool silent = Silent();
  if (silent && settled_) return;
  ChannelRun channels[kChannels];
  const bool any_envelope = PrepareChannels<kChip>(channels);

  // The changes of a block land on its frames and up to kTaps - 1 frames past them; those go
  // on to the next block (and the next call) in tail_.
  constexpr uint32_t kTaps = StepKernel::kTaps;
  int64_t changes[kOuts][kBlock + kTaps];
  Edges<kOuts> sink{changes, StepKernel::Get().taps, last_level_};
  Outputs<kOuts> outputs(*this);
  const int32_t block = BlockFrames();
  for (int32_t start = 0; start < count; start += block) {
    const int32_t n = std::min(block, count - start);
    for (uint32_t o = 0; o < kOuts; ++o) {
      std::copy(tail_[o], tail_[o] + kTaps, changes[o]);
      std::fill(changes[o] + kTaps, changes[o] + n + kTaps, 0);
    }
    if (silent) {
      // Nothing can sound and no counter moves, as in Mix: each channel falls to 0 at once.
      for (uint32_t c = 0; c < kChannels; ++c) {
        sink.Channel(c);
        sink.End(0, 0, 0);
      }
    } else {
      RenderBlock<kChip>(sink, channels, any_envelope, 4 * static_cast<uint32_t>(n));
    }
    StereoFrame* out = frames + start;
    for (int32_t i = 0; i < n; ++i) {
      int32_t v[kOuts];
      for (uint32_t o = 0; o < kOuts; ++o) {
        level_[o] += changes[o][i];
        v[o] = outputs.template Pass<kChip>(
            o, static_cast<int32_t>(level_[o] >> StepKernel::kUnityBits));
      }
      outputs.Place(out[i], v);
    }
    for (uint32_t o = 0; o < kOuts; ++o) {
      std::copy(changes[o] + n, changes[o] + n + kTaps, tail_[o]);
    }
  }
  outputs.Store();
  settled_ = DcAtRest<kOuts>();
  for (uint32_t c = 0; c < kChannels; ++c) settled_ = settled_ && last_level_[c] == 0;
  for (uint32_t o = 0; o < kOuts; ++o) {
    for (uint32_t j = 0; j < kTaps; ++j) settled_ = settled_ && tail_[o][j] == 0;
  }
  if (!silent && !any_envelope) AdvanceEnvelopeByCall(count);
}

int32_t Psg::BlockFrames() const {
  if (!chip_true_) return kBlock;
  // A block starts within the first 32 steps of its word and reads at most kSlack - 32 more.
  constexpr uint64_t kReach = uint64_t{ChipNoiseTable::kSlack - 32} * kNoiseBitLength;
  const uint64_t frames = kReach / (4 * uint64_t{noise_step_} + 1);
  return static_cast<int32_t>(std::clamp<uint64_t>(frames, 1, kBlock));
}

void Psg::RebaseChipNoise() {
  const uint32_t step = (noise_word_ * 32 + (noise_pos_ >> 17)) % ChipNoiseTable::kSteps;
  noise_word_ = step >> 5;
  noise_table_ = ChipNoiseTable::Get().words + noise_word_;
  noise_pos_ = ((step & 31) << 17) | (noise_pos_ & (kNoiseBitLength - 1));
}

void Psg::AdvanceEnvelopeByCall(int32_t count) {
  // Four sub-samples a frame, at 1/256 of the position's resolution: the low 8 bits are lost.
  // A negative count is no frames.
  const uint32_t frame_count = count > 0 ? static_cast<uint32_t>(count) : 0;
  uint32_t hi = (envelope_pos_ >> 8) + frame_count * (envelope_step_ >> 6);
  if (hi >= kEnvelopeCallEnd) {
    if (!LoopsWholeRow(regs_[13])) hi |= kEnvelopeCallSecondHalf;
    hi &= kEnvelopeCallEnd - 1;
  }
  envelope_pos_ = hi << 8;
}
