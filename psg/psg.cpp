#include "psg/psg.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "common/state_bytes.h"
#include "psg/channel_render.h"
#include "psg/noise_table.h"

using namespace psg_render;

namespace {

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
constexpr uint8_t kShapeRamps[kShapes * 2] = {
    2, 0, 2, 0, 2, 0, 2, 0, 1, 0, 1, 0, 1, 0, 1, 0,
    2, 2, 2, 0, 2, 1, 2, 3, 1, 1, 1, 3, 1, 2, 1, 0,
};

constexpr bool RampsStayInTable() {
  for (const Ramp& ramp : kRamps) {
    uint8_t level = ramp.start;
    for (uint32_t i = 0; i < kEnvelopeEntries / 2; ++i) {
      if (level >= kLevels) return false;
      level = static_cast<uint8_t>(level + ramp.step);
    }
  }
  for (uint8_t ramp : kShapeRamps) {
    if (ramp >= 4) return false;
  }
  return true;
}
static_assert(RampsStayInTable(), "every envelope entry must index volume_table");

// clock * scale / rate in double precision, truncated toward zero, saturated to 32 bits.
// rate is never 0 here.
uint32_t Base(uint32_t clock, double scale, uint32_t rate) {
  const double base = static_cast<double>(clock) * scale / static_cast<double>(rate);
  if (!(base < 4294967296.0)) return UINT32_MAX;
  return static_cast<uint32_t>(base);
}

// A volume_table entry: x truncated toward zero, held to 0 .. kMaxAmplitude.
int32_t Amplitude(double x) {
  if (!(x < static_cast<double>(kMaxAmplitude))) return kMaxAmplitude;
  if (!(x > 0.0)) return 0;
  return static_cast<int32_t>(x);
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
  // Set again, it changes nothing: a restored state's noise goes on where it was.
  if (chip_true == chip_true_) return;
  Unprepare();
  chip_true_ = chip_true;
  noise_word_ = 0;
  noise_pos_ = 0;
  noise_table_ = chip_true ? ChipNoiseTable::Get().words : NoiseTable::Get().words;
  SetVolume(volume_);
  UpdateEnvelopeStep();
}

void Psg::SetClock(uint32_t clock, uint32_t rate) {
  if (rate == 0) return;
  Unprepare();
  tone_base_ = Base(clock, 4194304.0, rate);
  envelope_base_ = Base(clock, 1048576.0, rate);
  noise_base_ = Base(clock, 4096.0, rate);
  for (uint32_t c = 0; c < kChannels; ++c) UpdateToneStep(c);
  UpdateEnvelopeStep();
  UpdateNoiseStep();
  // The board's: half of what a write of register 6 stores, until register 6 is written again.
  // The chip's noise runs at its full rate from the start.
  if (!chip_true_) noise_step_ /= 2;
}

void Psg::SetRegister(uint32_t index, uint32_t value) {
  if (index >= kRegisterCount) return;
  Unprepare();
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
      if (chip_true_ && !((period_written_ >> (index / 2)) & 1)) {
        period_written_ |= 1u << (index / 2);
        period_before_[index / 2] = old_period;
      }
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
  Unprepare();
  // Bits 3-5 stay set, as construction leaves them.
  channel_mask_ = (mask & 7u) | 0x38u;
  for (uint32_t c = 0; c < kChannels; ++c) UpdateFixedAmp(c);
}

void Psg::SetType(Type type) {
  type_ = type;
  SetVolume(volume_);
}

void Psg::SetVolume(int32_t volume) {
  Unprepare();
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

bool Psg::Silent() const {
  return (((regs_[8] | regs_[9] | regs_[10]) & 0x1Fu) | (~regs_[7] & 0x3Fu)) == 0;
}

void Psg::Mix(StereoFrame* frames, int32_t count) {
  if (chip_true_) {
    MixChip(frames, count);
  } else if (prepared_ && silent_) {
    // Nothing sounds and nothing moves, as MixBoard would find after its set-up.
  } else if (!MixSteady(frames, count)) {
    MixBoard(frames, count);
  }
}

bool Psg::MixSteady(StereoFrame* frames, int32_t count) {
  // Counts of 1 to kShortFrames only: an emulator's calls between writes.
  if (frames == nullptr || count < 1 || count > kShortFrames) return false;
  const uint32_t subs = 4 * static_cast<uint32_t>(count);
  if (subs >= steady_left_) return false;
  steady_left_ -= subs;
  pending_ += subs;
  if (!any_envelope_) AdvanceEnvelopeByCall(count);
  // Four equal sub-samples a frame average to the sum itself.
  const int32_t left = (routing_ & 1) != 0 ? steady_sum_ : 0;
  const int32_t right = (routing_ & 2) != 0 ? steady_sum_ : 0;
  for (int32_t i = 0; i < count; ++i) {
    frames[i].left = psg_render::AddWrapping(frames[i].left, left);
    frames[i].right = psg_render::AddWrapping(frames[i].right, right);
  }
  return true;
}

bool Psg::Render(PsgSink& sink, int32_t count) {
  return chip_true_ ? RenderChip(sink, count) : RenderBoard(sink, count);
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

namespace {

constexpr uint32_t kStateMagic = StateMagic("VPSG");
constexpr uint16_t kStateVersion = 2;
// With the chips' noise, ChipNoiseTable words a block may start from, and positions within
// the first 32 steps of one (RebaseChipNoise).
constexpr uint32_t kChipNoiseWords = (ChipNoiseTable::kSteps + 31) / 32;
constexpr uint32_t kChipNoiseReach = 32 * kNoiseBitLength;

}  // namespace

std::vector<uint8_t> Psg::Save() const {
  if (pending_ != 0) {
    Psg caught_up = *this;
    caught_up.CatchUp();
    return caught_up.Save();
  }
  StateWriter w(kStateMagic, kStateVersion);
  for (uint8_t reg : regs_) w.U8(reg);
  for (uint32_t phase : tone_phase_) w.U32(phase);
  w.U32(noise_pos_);
  w.U32(noise_word_);
  w.U32(envelope_pos_);
  // Register 6's step, or half of it until register 6 is written after SetClock.
  const uint32_t np = regs_[6] & 31u;
  w.Bool(noise_step_ != (np != 0 ? noise_base_ / np : noise_base_));
  w.U32(tone_base_);
  w.U32(envelope_base_);
  w.U32(noise_base_);
  w.I32(volume_);
  w.U8(static_cast<uint8_t>(type_));
  w.Bool(chip_true_);
  w.U8(static_cast<uint8_t>(channel_mask_));
  w.U8(static_cast<uint8_t>(routing_));
  w.U8(static_cast<uint8_t>(period_written_));
  for (uint32_t period : period_before_) w.U32(period);
  return w.Finish();
}

bool Psg::Restore(const uint8_t* data, size_t size) {
  StateReader r(data, size, kStateMagic, kStateVersion);
  CatchUp();  // the state taken replaces the counters whole
  Psg s = *this;  // the state decoded, taken only whole
  for (uint8_t& reg : s.regs_) reg = r.U8();
  for (uint32_t& phase : s.tone_phase_) phase = r.U32();
  s.noise_pos_ = r.U32();
  s.noise_word_ = r.U32();
  s.envelope_pos_ = r.U32(0, kEnvelopeEnd - 1);
  const bool noise_halved = r.Bool();
  s.tone_base_ = r.U32();
  s.envelope_base_ = r.U32();
  s.noise_base_ = r.U32();
  s.volume_ = r.I32();
  s.type_ = static_cast<Type>(r.U8(0, static_cast<uint8_t>(Type::kAy8910)));
  s.chip_true_ = r.Bool();
  s.channel_mask_ = r.U8(0x38, 0x3F);
  s.routing_ = r.U8(0, 3);
  s.period_written_ = r.U8(0, s.chip_true_ ? 7 : 0);
  for (uint32_t& period : s.period_before_) period = r.U32(0, 0xFFF);
  // The chips' noise is read from a word within its period, from within its first 32 steps.
  r.Require(s.chip_true_ ? s.noise_word_ < kChipNoiseWords && s.noise_pos_ < kChipNoiseReach
                         : s.noise_word_ == 0);
  if (!r.Finish()) return false;
  s.noise_table_ = s.chip_true_ ? ChipNoiseTable::Get().words + s.noise_word_
                                : NoiseTable::Get().words;
  s.envelope_row_ = s.regs_[13] & 15u;
  s.SetVolume(s.volume_);
  for (uint32_t c = 0; c < kChannels; ++c) s.UpdateToneStep(c);
  s.UpdateEnvelopeStep();
  s.UpdateNoiseStep();
  if (noise_halved) s.noise_step_ /= 2;
  *this = s;
  return true;
}
