// The sizes of a Psg's registers and tables, and the state of one PSG channel as Psg renders it:
// what Psg prepares from its registers and what the rendering of psg/channel_render.h moves.
// Psg's own business; apart from it only so that the rendering's free functions can name it.
#pragma once

#include <cstdint>

namespace psg_render {

constexpr uint32_t kRegisterCount = 16;
constexpr uint32_t kChannels = 3;
constexpr uint32_t kLevels = 32;           // volume_table entries
constexpr uint32_t kShapes = 16;           // envelope_table rows
constexpr uint32_t kEnvelopeEntries = 64;  // entries of one row
// Loudest amplitude a volume setting can give: twelve contributions (three channels, four
// sub-samples) of this size still sum inside a signed 32-bit accumulator.
constexpr int32_t kMaxAmplitude = INT32_MAX / 12;

// Where a channel's runs stand: the bits and amplitude it hears, and sub-samples to the next
// change of each.
struct RunPoint {
  uint32_t tone_bit;
  uint32_t to_tone;
  uint32_t noise_bit;
  uint32_t to_noise;
  int32_t amp;
  uint32_t to_entry;
};

// One channel through one block (channel_render.h): what it reads (tone, noise, envelope) and
// its counters, which it advances as it goes. Noise and envelope positions are the channel's
// own copies; every channel starts from the chip's, and the chip advances its own after the
// block. The first part is prepared from the registers and kept until they change.
struct ChannelRun {
  uint32_t step;
  uint32_t tone_on;  // 0 or 1
  uint32_t noise_step;
  uint32_t noise_on;  // 0 or 1
  uint32_t envelope_step;
  uint32_t hold_bit;
  uint32_t level_shift;  // with the chip's output: the level is amp << level_shift
  bool envelope;         // the amplitude comes from the envelope row
  int32_t amp;           // fixed amplitude otherwise
  bool runs_pay;         // rendered in runs rather than sub-sample by sub-sample
  // Set for each block.
  uint32_t phase;
  uint32_t noise_pos;
  uint32_t envelope_pos;
  const int32_t* row;  // envelope amplitudes, 64 entries
  const uint32_t* noise;
  // Where the runs of the board's Mix stood as the last block ended, when counted.
  bool counted;
  RunPoint at;
  int32_t value;         // what the channel sounds meanwhile
  uint32_t next_change;  // the least of to_tone, to_noise, to_entry
  // Sub-samples over which value holds: while the tone or the noise bit alone decides the
  // gate, the other's changes pass unheard. The counts above are true only before next_change.
  uint32_t holds;
  uint32_t skipped;  // sub-samples since, passed without a change of value: still to count down
};

}  // namespace psg_render
