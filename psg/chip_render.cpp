// The chips' own rendering of a Psg, for a music player that plays a file as the chips would:
// the mixer gate (tone or tone off) AND (noise or noise off) opens the channel's level (twice
// its amplitude), so each channel sounds 0 or its level and a channel with tone and noise both
// off sounds its level; a tone above half the output rate holds the gate open at half the level.
// The noise comes from ChipNoiseTable, rebased after each block so that a block reads it
// without wrapping. The tone, noise and envelope counters run all the time, through silence
// too; a period written since the last step takes effect at the next one (ApplyPeriodWrites).
#include "psg/channel_render.h"

namespace {

struct ChipPolicy {
  static constexpr uint32_t kOff = 1;
  static constexpr bool kChipNoise = true;
  static constexpr bool kCountersRun = true;
  static uint32_t Gate(uint32_t tone, uint32_t noise) { return tone & noise; }
  // The level (amp << shift) when the gate is open, 0 when it is closed.
  static int32_t Value(int32_t amp, uint32_t x, uint32_t shift) {
    return (amp << shift) & -static_cast<int32_t>(x);
  }
  static uint32_t LevelShift(bool too_fast) { return too_fast ? 0 : 1; }
};

}  // namespace

void Psg::MixChip(StereoFrame* frames, int32_t count) {
  ApplyPeriodWrites();
  MixWith<ChipPolicy>(frames, count);
}

bool Psg::RenderChip(PsgSink& sink, int32_t count) {
  ApplyPeriodWrites();
  return RenderWith<ChipPolicy>(sink, count);
}

void Psg::ApplyPeriodWrites() {
  for (uint32_t c = 0; c < kChannels; ++c) {
    if ((period_written_ >> c) & 1) ChangeTonePeriod(c, period_before_[c]);
  }
  period_written_ = 0;
}

void Psg::RunSilent(int32_t count) {
  using namespace psg_render;
  const uint32_t hold_bit = LoopsWholeRow(regs_[13]) ? 0 : kEnvelopeSecondHalf;
  const int32_t block = BlockFrames();
  for (int32_t start = 0; start < count; start += block) {
    const uint32_t subs = 4 * static_cast<uint32_t>(std::min(block, count - start));
    // The phases wrap modulo 2^32, a whole number of half-periods of 2^26.
    for (uint32_t c = 0; c < kChannels; ++c) tone_phase_[c] += subs * tone_step_[c];
    noise_pos_ += subs * noise_step_;
    RebaseChipNoise();
    envelope_pos_ = AdvanceEnvelope(envelope_pos_, envelope_step_, hold_bit, subs);
  }
}
