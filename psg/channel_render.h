// The rendering both of Psg's render policies share: one channel through one block, sub-sample
// by sub-sample or in runs between changes, into a sink. A policy gives what a channel sounds
// for its tone and noise bits:
//   Policy::kOff                  the bit a source that is switched off reads
//   Policy::Gate(tone, noise)     the gate from the two bits (bit 0 counts)
//   Policy::Value(amp, x, shift)  the channel's value for gate x
//   Policy::LevelShift(too_fast)  the shift Value gets for a tone above half the output rate
//   Policy::kChipNoise            true: the noise position is rebased after each block
// Included only by the policies' own files.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>

#include "psg/psg.h"
#include "psg/psg_sink.h"

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
  bool envelope;         // the amplitude comes from the envelope row
  const int32_t* row;    // envelope amplitudes, 64 entries
  int32_t amp;           // fixed amplitude otherwise
  const uint32_t* noise;
};

namespace psg_render {

using ChannelRun = Psg::ChannelRun;

constexpr int32_t kBlock = PsgSink::kBlockFrames;  // frames rendered at a time
constexpr uint32_t kToneStepLimit = 0x1000000;     // above this a half-period is under one frame
constexpr uint32_t kEnvelopeEnd = 0x40000000;      // 64 entries of 2^24
constexpr uint32_t kEnvelopeSecondHalf = 0x20000000;

// Shapes 10 and 14 (continue and alternate set, hold clear) run the whole row again after its
// end; every other shape repeats its second half.
inline bool LoopsWholeRow(uint8_t shape) { return (shape & 0x0B) == 0x0A; }

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
inline uint32_t AdvanceEnvelope(uint32_t pos, uint32_t step, uint32_t hold_bit, uint32_t n) {
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
// as they are, into one buffer for the channels summed (kOuts 1) or one a channel (kOuts 3).
// ChangeList (below): each level a channel takes, at its exact time.
// Channel(c): what follows is channel c's.
// Run(s, n, value, back): sub-samples [s, s + n) sound value, which the wave reached back / 256
// of a sub-sample before s. One(s, value): sub-sample s alone. End(subs, value, back): the
// level the block ends on, for the next to carry on from.
template <uint32_t kOuts>
struct BoxSums {
  static constexpr bool kTimesChanges = false;
  int32_t* const* buffers;
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

// The timed sink: each level a channel takes, at its time in 1/256 sub-samples, into the
// PsgSink's lists; the output stage keeps what changes.
struct ChangeList {
  static constexpr bool kTimesChanges = true;
  PsgSink& out;
  PsgChange* list = nullptr;
  uint32_t* count = nullptr;

  void Channel(uint32_t c) {
    list = out.changes[c].data();
    count = &out.change_count[c];
    *count = 0;
  }
  // The level value from back / 256 of a sub-sample before sub-sample s.
  void Change(uint32_t s, uint32_t back, int32_t value) const {
    list[(*count)++] = PsgChange{(s << 8) - back, value};
  }
  void Run(uint32_t s, uint32_t /*n*/, int32_t value, uint32_t back) const {
    Change(s, back, value);
  }
  void One(uint32_t s, int32_t value) const { Change(s, 0, value); }
  void End(uint32_t subs, int32_t value, uint32_t back) const { Change(subs, back, value); }
};

// Sub-samples until the noise bit at pos next changes value: the bits are read one after the
// other (bit (pos >> 17) & 31 of word pos >> 22), so a run of equal bits within a word is
// passed in one go. step is below 2^17.
inline uint32_t StepsToNoiseChange(const uint32_t* noise, uint32_t pos, uint32_t step) {
  if (step == 0) return kNever;
  const uint32_t bit = pos >> 17;
  const uint32_t rest = noise[bit >> 5] >> (bit & 31);
  const uint32_t same =
      std::min<uint32_t>(std::countr_zero((rest & 1) ? ~rest : rest), 32 - (bit & 31));
  // At most 32 bits of 2^17 ahead: the difference fits, even where the shift wraps to 0.
  const uint32_t left = ((bit + same) << 17) - pos;
  return (left - 1) / step + 1;
}

// Renders in runs over which nothing the channel hears changes: the spans between flips of the
// tone bit, changes of the noise bit and new envelope entries, each found by division and
// then counted down. Used when these runs last several sub-samples; otherwise RenderSubSamples
// is cheaper.
template <class Policy, class Sink>
void RenderRuns(Sink& sink, uint32_t subs, ChannelRun& c) {
  // kNever counts down too, but no block is long enough for it to reach 0.
  uint32_t tone_bit = Policy::kOff;
  uint32_t to_tone = kNever;
  if (c.tone_on) {
    tone_bit = (c.phase >> 26) & 1;
    to_tone = StepsToNext(c.phase, c.step, kToneHalfPeriod);
  }
  uint32_t noise_bit = Policy::kOff;
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
    sink.Run(s, n, Policy::Value(amp, Policy::Gate(tone_bit, noise_bit), c.level_shift), back);
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
      c.envelope_pos =
          EnvelopeStep(c.envelope_pos + (n - 1) * c.envelope_step, c.envelope_step, c.hold_bit);
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
  sink.End(subs, Policy::Value(amp, Policy::Gate(tone_bit, noise_bit), c.level_shift), back);
}

// Sub-sample by sub-sample, for channels whose tone, noise or envelope moves too fast for runs.
// A sink that times changes gets them on the sub-sample grid.
template <class Policy, class Sink>
void RenderSubSamples(Sink& sink, uint32_t subs, ChannelRun& c) {
  // A source that is off reads Off(): the board's 0, the chip's 1.
  const uint32_t tone_off = c.tone_on ^ 1 ? Policy::kOff : 0;
  const uint32_t noise_off = c.noise_on ^ 1 ? Policy::kOff : 0;
  for (uint32_t s = 0; s < subs; ++s) {
    int32_t amp = c.amp;
    if (c.envelope) {
      amp = c.row[c.envelope_pos >> 24];
      c.envelope_pos = EnvelopeStep(c.envelope_pos, c.envelope_step, c.hold_bit);
    }
    const uint32_t x = Policy::Gate(((c.phase >> 26) & c.tone_on) | tone_off,
                                    (NoiseBits(c.noise, c.noise_pos) & c.noise_on) | noise_off) &
                       1;
    c.noise_pos += c.noise_step;
    c.phase += c.step;
    sink.One(s, Policy::Value(amp, x, c.level_shift));
  }
}

// Runs pay when each lasts about eight sub-samples or more.
inline bool RunsPay(const ChannelRun& c) {
  constexpr uint32_t kMinRun = 8;
  return (!c.tone_on || c.step <= kToneHalfPeriod / kMinRun) &&
         (!c.noise_on || c.noise_step <= kNoiseBitLength / kMinRun) &&
         (!c.envelope || c.envelope_step <= kEnvelopeEntryLength / kMinRun);
}

// Adds into the host's buffer; a sum past the int32 range wraps around instead of overflowing.
inline int32_t AddWrapping(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace psg_render

template <class Policy>
bool Psg::PrepareChannels(ChannelRun* channels) const {
  // Decisions taken once per call, from the registers as they stand at the call.
  const uint32_t mixer = regs_[7];
  bool any_envelope = false;
  for (uint32_t c = 0; c < kChannels; ++c) {
    ChannelRun& run = channels[c];
    run.step = tone_step_[c];
    const bool tone_enabled = ((mixer >> c) & 1) == 0;
    const bool too_fast = tone_step_[c] > psg_render::kToneStepLimit;
    run.tone_on = tone_enabled && !too_fast ? 1 : 0;
    run.level_shift = Policy::LevelShift(tone_enabled && too_fast);
    run.noise_step = noise_step_;
    run.noise_on = ((mixer >> (3 + c)) & 1) == 0 ? 1 : 0;
    run.envelope = ((channel_mask_ >> c) & 1) != 0 && (regs_[8 + c] & 0x10) != 0;
    run.envelope_step = envelope_step_;
    run.hold_bit = psg_render::LoopsWholeRow(regs_[13]) ? 0 : psg_render::kEnvelopeSecondHalf;
    run.row = envelope_table_[envelope_row_];
    run.amp = fixed_amp_[c];
    any_envelope = any_envelope || run.envelope;
  }
  return any_envelope;
}

template <class Policy, class Sink>
void Psg::RenderBlock(Sink& sink, ChannelRun* channels, bool any_envelope, uint32_t subs) {
  using namespace psg_render;
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
      RenderRuns<Policy>(sink, subs, run);
    } else {
      RenderSubSamples<Policy>(sink, subs, run);
    }
    tone_phase_[c] = run.phase;
  }
  // The noise position moves whenever some noise is on or some amplitude follows the envelope;
  // the envelope position moves per sub-sample only in the latter case.
  if (any_envelope || (~regs_[7] & 0x38u) != 0) noise_pos_ += subs * noise_step_;
  if constexpr (Policy::kChipNoise) RebaseChipNoise();
  if (any_envelope) {
    envelope_pos_ = AdvanceEnvelope(envelope_pos_, envelope_step_, channels[0].hold_bit, subs);
  }
}

template <class Policy>
void Psg::MixWith(StereoFrame* frames, int32_t count) {
  if (Silent()) return;
  if (frames == nullptr) count = 0;
  ChannelRun channels[kChannels];
  const bool any_envelope = PrepareChannels<Policy>(channels);
  // Each frame sums twelve contributions (three channels, four sub-samples), in any order:
  // every one is at most kMaxAmplitude, so no partial sum overflows.
  int32_t sums[psg_render::kBlock];
  int32_t* const buffers[1] = {sums};
  psg_render::BoxSums<1> sink{buffers};
  const int32_t left_mask = (routing_ & 1) != 0 ? -1 : 0;
  const int32_t right_mask = (routing_ & 2) != 0 ? -1 : 0;
  const int32_t block = BlockFrames();
  for (int32_t start = 0; start < count; start += block) {
    const int32_t n = std::min(block, count - start);
    std::fill(sums, sums + n, 0);
    RenderBlock<Policy>(sink, channels, any_envelope, 4 * static_cast<uint32_t>(n));
    StereoFrame* out = frames + start;
    for (int32_t i = 0; i < n; ++i) {
      const int32_t v = sums[i] / 4;  // rounds toward zero
      out[i].left = psg_render::AddWrapping(out[i].left, v & left_mask);
      out[i].right = psg_render::AddWrapping(out[i].right, v & right_mask);
    }
  }
  if (!any_envelope) AdvanceEnvelopeByCall(count);
}

template <class Policy>
bool Psg::RenderWith(PsgSink& sink, int32_t count) {
  if (Silent()) return false;
  ChannelRun channels[kChannels];
  const bool any_envelope = PrepareChannels<Policy>(channels);
  const int32_t block = BlockFrames();
  if (sink.timed) {
    psg_render::ChangeList list{sink};
    for (int32_t start = 0; start < count; start += block) {
      const int32_t n = std::min(block, count - start);
      RenderBlock<Policy>(list, channels, any_envelope, 4 * static_cast<uint32_t>(n));
      sink.Block(n);
    }
  } else {
    int32_t* const buffers[kChannels] = {sink.sums[0].data(), sink.sums[1].data(),
                                         sink.sums[2].data()};
    psg_render::BoxSums<kChannels> box{buffers};
    for (int32_t start = 0; start < count; start += block) {
      const int32_t n = std::min(block, count - start);
      for (int32_t* sums : buffers) std::fill(sums, sums + n, 0);
      RenderBlock<Policy>(box, channels, any_envelope, 4 * static_cast<uint32_t>(n));
      sink.Block(n);
    }
  }
  if (!any_envelope) AdvanceEnvelopeByCall(count);
  return true;
}
