#include "psg/psg.h"

#include <cmath>

#include "psg/noise_table.h"

namespace {

constexpr uint32_t kToneStepLimit = 0x1000000;  // above this a half-period is under one frame
constexpr uint32_t kEnvelopeEnd = 0x40000000;   // 64 entries of 2^24
constexpr uint32_t kEnvelopeSecondHalf = 0x20000000;
constexpr uint32_t kEnvelopeCallEnd = kEnvelopeEnd >> 8;  // the same, at the per-call grain
constexpr uint32_t kEnvelopeCallSecondHalf = kEnvelopeSecondHalf >> 8;

constexpr double kFullScale = 5461.333333333333;   // 16384 / 3: three channels sum to 16384
constexpr double kLevelStep = 0.8408964152556385;  // 2^(-1/4), 1.5 dB

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

// One channel in one sub-sample: +amp when the wave is high, -amp when it is low, no branch.
inline int32_t Contribution(uint32_t& phase, uint32_t step, uint32_t tone_on, uint32_t noise_on,
                            uint32_t noise_bits, int32_t amp) {
  const uint32_t x = ((phase >> 26) & tone_on) | (noise_bits & noise_on);
  const int32_t m = static_cast<int32_t>(x) - 1;
  phase += step;
  return (amp + m) ^ m;
}

}  // namespace

// Decisions taken once per Mix call, from the registers as they stand at the call.
struct Psg::MixSetup {
  uint32_t tone_on[kChannels];
  uint32_t noise_on[kChannels];
  int32_t follows_envelope[kChannels];  // all ones: the amplitude comes from the envelope
  int32_t left_mask;
  int32_t right_mask;
  uint32_t envelope_hold_bit;  // set after the end of the row unless the whole row loops
};

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

void Psg::SetClock(uint32_t clock, uint32_t rate) {
  if (rate == 0) return;
  tone_base_ = Base(clock, 4194304.0, rate);
  envelope_base_ = Base(clock, 1048576.0, rate);
  noise_base_ = Base(clock, 4096.0, rate);
  for (uint32_t c = 0; c < kChannels; ++c) UpdateToneStep(c);
  UpdateEnvelopeStep();
  // Half of what a write of register 6 stores, until register 6 is written again.
  const uint32_t np = regs_[6] & 31u;
  noise_step_ = (np != 0 ? noise_base_ / np : noise_base_) / 2;
}

void Psg::SetRegister(uint32_t index, uint32_t value) {
  if (index >= kRegisterCount) return;
  const uint8_t byte = static_cast<uint8_t>(value);
  regs_[index] = byte;
  switch (index) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
      UpdateToneStep(index / 2);
      break;
    case 6: {
      const uint32_t np = byte & 31u;
      noise_step_ = np != 0 ? noise_base_ / np : noise_base_;
      break;
    }
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

void Psg::UpdateToneStep(uint32_t channel) {
  const uint32_t tp = (regs_[2 * channel + 1] * 256u + regs_[2 * channel]) & 0xFFFu;
  tone_step_[channel] = tp != 0 ? tone_base_ / tp : tone_base_;
}

void Psg::UpdateEnvelopeStep() {
  const uint32_t ep = regs_[12] * 256u + regs_[11];
  envelope_step_ = ep != 0 ? envelope_base_ / ep : 2 * envelope_base_;
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

void Psg::SetVolume(int32_t volume) {
  // volume is in half-decibels: 10^(volume / 40) relative to full scale.
  double x = std::pow(10.0, static_cast<double>(volume) * 0.025) * kFullScale;
  for (uint32_t i = kLevels - 1; i >= 2; --i) {
    volume_table_[i] = Amplitude(x);
    x *= kLevelStep;  // the running value, not the truncated entry
  }
  volume_table_[0] = 0;
  volume_table_[1] = 0;
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

void Psg::Mix(StereoFrame* frames, int32_t count) {
  const uint32_t mixer = regs_[7];
  // Nothing can sound: every level 0 without the envelope, every tone and noise off.
  if ((((regs_[8] | regs_[9] | regs_[10]) & 0x1Fu) | (~mixer & 0x3Fu)) == 0) return;
  if (frames == nullptr) count = 0;

  MixSetup setup;
  bool any_envelope = false;
  for (uint32_t c = 0; c < kChannels; ++c) {
    setup.tone_on[c] = ((mixer >> c) & 1) == 0 && tone_step_[c] <= kToneStepLimit ? 1 : 0;
    setup.noise_on[c] = ((mixer >> (3 + c)) & 1) == 0 ? 1 : 0;
    const bool envelope = ((channel_mask_ >> c) & 1) != 0 && (regs_[8 + c] & 0x10) != 0;
    setup.follows_envelope[c] = envelope ? -1 : 0;
    any_envelope = any_envelope || envelope;
  }
  setup.left_mask = (routing_ & 1) != 0 ? -1 : 0;
  setup.right_mask = (routing_ & 2) != 0 ? -1 : 0;
  setup.envelope_hold_bit = LoopsWholeRow(regs_[13]) ? 0 : kEnvelopeSecondHalf;

  if (any_envelope) {
    MixFrames<Mode::kEnvelope>(frames, count, setup);
    return;
  }
  if ((~mixer & 0x38u) != 0) {
    MixFrames<Mode::kNoise>(frames, count, setup);
  } else {
    MixFrames<Mode::kTone>(frames, count, setup);
  }
  AdvanceEnvelopeByCall(count);
}

template <Psg::Mode kMode>
void Psg::MixFrames(StereoFrame* frames, int32_t count, const MixSetup& setup) {
  uint32_t phase_a = tone_phase_[0];
  uint32_t phase_b = tone_phase_[1];
  uint32_t phase_c = tone_phase_[2];
  const uint32_t step_a = tone_step_[0];
  const uint32_t step_b = tone_step_[1];
  const uint32_t step_c = tone_step_[2];
  uint32_t noise_pos = noise_pos_;
  const uint32_t noise_step = noise_step_;
  uint32_t envelope_pos = envelope_pos_;
  const uint32_t envelope_step = envelope_step_;
  const int32_t* row = envelope_table_[envelope_row_];
  const uint32_t* noise = noise_table_;
  const int32_t fixed_a = fixed_amp_[0];
  const int32_t fixed_b = fixed_amp_[1];
  const int32_t fixed_c = fixed_amp_[2];

  // Written out four times a frame; the compiler would otherwise call it in the envelope loop.
  auto sub_sample = [&]() __attribute__((always_inline)) -> int32_t {
    int32_t amp_a = fixed_a;
    int32_t amp_b = fixed_b;
    int32_t amp_c = fixed_c;
    if constexpr (kMode == Mode::kEnvelope) {
      const int32_t envelope = row[envelope_pos >> 24];
      envelope_pos += envelope_step;
      // Past entry 63: carry the excess over into entry 0, or into entry 32 unless the whole
      // row loops.
      const uint32_t past_end = 0u - static_cast<uint32_t>(envelope_pos >= kEnvelopeEnd);
      envelope_pos = (envelope_pos | (past_end & setup.envelope_hold_bit)) & (kEnvelopeEnd - 1);
      amp_a = (envelope & setup.follows_envelope[0]) | (fixed_a & ~setup.follows_envelope[0]);
      amp_b = (envelope & setup.follows_envelope[1]) | (fixed_b & ~setup.follows_envelope[1]);
      amp_c = (envelope & setup.follows_envelope[2]) | (fixed_c & ~setup.follows_envelope[2]);
    }
    uint32_t noise_bits = 0;
    if constexpr (kMode != Mode::kTone) {
      noise_bits = noise[noise_pos >> 22] >> ((noise_pos >> 17) & 31);
      noise_pos += noise_step;
    }
    int32_t sum =
        Contribution(phase_a, step_a, setup.tone_on[0], setup.noise_on[0], noise_bits, amp_a);
    sum += Contribution(phase_b, step_b, setup.tone_on[1], setup.noise_on[1], noise_bits, amp_b);
    sum += Contribution(phase_c, step_c, setup.tone_on[2], setup.noise_on[2], noise_bits, amp_c);
    return sum;
  };

  for (int32_t i = 0; i < count; ++i) {
    int32_t sum = sub_sample();
    sum += sub_sample();
    sum += sub_sample();
    sum += sub_sample();
    const int32_t v = sum / 4;  // rounds toward zero
    frames[i].left = AddWrapping(frames[i].left, v & setup.left_mask);
    frames[i].right = AddWrapping(frames[i].right, v & setup.right_mask);
  }

  tone_phase_[0] = phase_a;
  tone_phase_[1] = phase_b;
  tone_phase_[2] = phase_c;
  if constexpr (kMode != Mode::kTone) noise_pos_ = noise_pos;
  if constexpr (kMode == Mode::kEnvelope) envelope_pos_ = envelope_pos;
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
