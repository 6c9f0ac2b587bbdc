// The chips' own rendering of a Psg, for a music player that plays a file as the chips would:
// the mixer gate (tone or tone off) AND (noise or noise off) opens the channel's level (twice
// its amplitude), so each channel sounds 0 or its level and a channel with tone and noise both
// off sounds its level; a tone above half the output rate holds the gate open at half the level.
// The noise comes from ChipNoiseTable, rebased after each block so that a block reads it
// without wrapping.
#include "psg/channel_render.h"

namespace {

struct ChipPolicy {
  static constexpr uint32_t kOff = 1;
  static constexpr bool kChipNoise = true;
  static uint32_t Gate(uint32_t tone, uint32_t noise) { return tone & noise; }
  // The level (amp << shift) when the gate is open, 0 when it is closed.
  static int32_t Value(int32_t amp, uint32_t x, uint32_t shift) {
    return (amp << shift) & -static_cast<int32_t>(x);
  }
  static uint32_t LevelShift(bool too_fast) { return too_fast ? 0 : 1; }
};

}  // namespace

void Psg::MixChip(StereoFrame* frames, int32_t count) { MixWith<ChipPolicy>(frames, count); }

bool Psg::RenderChip(PsgSink& sink, int32_t count) { return RenderWith<ChipPolicy>(sink, count); }
