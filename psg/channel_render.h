// The rendering both of Psg's render policies share: one channel through one block, sub-sample
// by sub-sample or in runs between changes, into a sink. A policy gives what a channel sounds
// for its tone and noise bits:
//   Policy::kOff                  the bit a source that is switched off reads
//   Policy::Gate(tone, noise)     the gate from the two bits (bit 0 counts)
//   Policy::Value(amp, x, shift)  the channel's value for gate x
//   Policy::LevelShift(too_fast)  the shift Value gets for a tone above half the output rate
//   Policy::kChipNoise            true: the noise position is rebased after each block
//   Policy::kCountersRun          true: noise and envelope move every sub-sample, whoever
//                                 listens, and a silent PSG's counters run on (RunSilent)
// Included only by the policies' own files.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>

#include "psg/psg.h"
#include "psg/psg_sink.h"

namespace psg_render {

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
// Counts to the next change are below 2^27 (a tone's half-period of 2^26 at a step of 1 is the
// longest); above this a count is a kNever counted down.
constexpr uint32_t kCarriedLimit = 1u << 31;

// A count to the next change after n more sub-samples; kNever, counted down, stays kNever.
inline uint32_t CountDown(uint32_t to, uint32_t n) { return to > kCarriedLimit ? kNever : to - n; }
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

// Where a channel's runs start in a block: carried over from the call before (kNever, counted
// down, put back to kNever), or counted from its counters.
template <class Policy, class Sink>
RunPoint StartRuns(const ChannelRun& c) {
  if (!Sink::kTimesChanges && c.counted && c.skipped < c.next_change) {
    const RunPoint& at = c.at;
    return {at.tone_bit,  CountDown(at.to_tone, c.skipped),
            at.noise_bit, CountDown(at.to_noise, c.skipped),
            at.amp,       CountDown(at.to_entry, c.skipped)};
  }
  // kNever counts down too, but no block is long enough for it to reach 0.
  RunPoint p{Policy::kOff, kNever, Policy::kOff, kNever, c.amp, kNever};
  if (c.tone_on) {
    p.tone_bit = (c.phase >> 26) & 1;
    p.to_tone = StepsToNext(c.phase, c.step, kToneHalfPeriod);
  }
  if (c.noise_on) {
    p.noise_bit = NoiseBits(c.noise, c.noise_pos) & 1;
    p.to_noise = StepsToNoiseChange(c.noise, c.noise_pos, c.noise_step);
  }
  if (c.envelope) {
    p.amp = c.row[c.envelope_pos >> 24];
    p.to_entry = StepsToNext(c.envelope_pos, c.envelope_step, kEnvelopeEntryLength);
  }
  return p;
}

// Where the next call carries on from: the counts stay true while the counters move only in
// Mix (a register, clock or volume change prepares the channel anew). The chips' noise is
// rebased after each block, and a sink that times changes starts each block afresh.
template <class Policy, class Sink>
void KeepRuns(ChannelRun& c, const RunPoint& end) {
  c.at = end;
  c.next_change = std::min({end.to_tone, end.to_noise, end.to_entry});
  // A bit that opens the gate whatever the other reads: the board's 1, the chip's 0.
  const uint32_t decides = Policy::kOff ^ 1;
  uint32_t gate_holds = std::min(end.to_tone, end.to_noise);
  if (end.tone_bit == decides && end.noise_bit == decides) {
    gate_holds = std::max(end.to_tone, end.to_noise);
  } else if (end.tone_bit == decides) {
    gate_holds = end.to_tone;
  } else if (end.noise_bit == decides) {
    gate_holds = end.to_noise;
  }
  c.holds = std::min(gate_holds, end.to_entry);
  c.skipped = 0;
  c.value = Policy::Value(end.amp, Policy::Gate(end.tone_bit, end.noise_bit), c.level_shift);
  c.counted = !Sink::kTimesChanges && !Policy::kChipNoise;
}

// Renders in runs over which nothing the channel hears changes: the spans between flips of the
// tone bit, changes of the noise bit and new envelope entries, each found by division and
// then counted down. Used when these runs last several sub-samples; otherwise RenderSubSamples
// is cheaper.
template <class Policy, class Sink>
void RenderRuns(Sink& sink, uint32_t subs, ChannelRun& c) {
  const RunPoint start = StartRuns<Policy, Sink>(c);
  uint32_t tone_bit = start.tone_bit;
  uint32_t to_tone = start.to_tone;
  uint32_t noise_bit = start.noise_bit;
  uint32_t to_noise = start.to_noise;
  int32_t amp = start.amp;
  uint32_t to_entry = start.to_entry;
  // The loop's counters and what it reads, in locals: the sums it writes cannot alias them.
  uint32_t phase = c.phase;
  uint32_t noise_pos = c.noise_pos;
  uint32_t envelope_pos = c.envelope_pos;
  const uint32_t step = c.step;
  const uint32_t noise_step = c.noise_step;
  const uint32_t envelope_step = c.envelope_step;
  const uint32_t hold_bit = c.hold_bit;
  const uint32_t level_shift = c.level_shift;
  const uint32_t* const noise = c.noise;
  const int32_t* const row = c.row;
  const bool envelope = c.envelope;
  uint32_t s = 0;
  uint32_t back = 0;  // when the value of sub-sample s was reached, for a sink that times changes
  while (s < subs) {
    const uint32_t n = std::min({subs - s, to_tone, to_noise, to_entry});
    sink.Run(s, n, Policy::Value(amp, Policy::Gate(tone_bit, noise_bit), level_shift), back);
    s += n;
    phase += n * step;
    noise_pos += n * noise_step;
    to_tone -= n;
    to_noise -= n;
    to_entry -= n;
    // Where counters cross in one sub-sample, the first of tone, noise, envelope to cross times
    // the change: they are taken last to first, each timing it over those taken before.
    if (to_entry == 0) {  // with the envelope only: kNever does not get there
      // Only the sub-sample that enters a new entry can pass the end of the row.
      envelope_pos = EnvelopeStep(envelope_pos + (n - 1) * envelope_step, envelope_step, hold_bit);
      amp = row[envelope_pos >> 24];
      to_entry = StepsToNext(envelope_pos, envelope_step, kEnvelopeEntryLength);
      if constexpr (Sink::kTimesChanges) {
        back = Back(envelope_pos, envelope_step, kEnvelopeEntryLength);
      }
    } else if (envelope) {
      envelope_pos += n * envelope_step;
    }
    if (to_noise == 0) {
      noise_bit = NoiseBits(noise, noise_pos) & 1;  // the same again after a word's end
      to_noise = StepsToNoiseChange(noise, noise_pos, noise_step);
      if constexpr (Sink::kTimesChanges) back = Back(noise_pos, noise_step, kNoiseBitLength);
    }
    if (to_tone == 0) {
      tone_bit = (phase >> 26) & 1;
      to_tone = StepsToNext(phase, step, kToneHalfPeriod);
      if constexpr (Sink::kTimesChanges) back = Back(phase, step, kToneHalfPeriod);
    }
  }
  sink.End(subs, Policy::Value(amp, Policy::Gate(tone_bit, noise_bit), level_shift), back);
  c.phase = phase;
  c.noise_pos = noise_pos;
  c.envelope_pos = envelope_pos;
  KeepRuns<Policy, Sink>(c, RunPoint{tone_bit, to_tone, noise_bit, to_noise, amp, to_entry});
}

// Sub-sample by sub-sample, for channels whose tone, noise or envelope moves too fast for runs.
// A sink that times changes gets them on the sub-sample grid.
template <class Policy, class Sink>
void RenderSubSamples(Sink& sink, uint32_t subs, ChannelRun& c) {
  // A source that is off reads Off(): the board's 0, the chip's 1.
  const uint32_t tone_off = c.tone_on ^ 1 ? Policy::kOff : 0;
  const uint32_t noise_off = c.noise_on ^ 1 ? Policy::kOff : 0;
  uint32_t phase = c.phase;  // in locals: the sums written cannot alias them
  uint32_t noise_pos = c.noise_pos;
  uint32_t envelope_pos = c.envelope_pos;
  for (uint32_t s = 0; s < subs; ++s) {
    int32_t amp = c.amp;
    if (c.envelope) {
      amp = c.row[envelope_pos >> 24];
      envelope_pos = EnvelopeStep(envelope_pos, c.envelope_step, c.hold_bit);
    }
    const uint32_t x = Policy::Gate(((phase >> 26) & c.tone_on) | tone_off,
                                    (NoiseBits(c.noise, noise_pos) & c.noise_on) | noise_off) &
                       1;
    noise_pos += c.noise_step;
    phase += c.step;
    sink.One(s, Policy::Value(amp, x, c.level_shift));
  }
  c.phase = phase;
  c.noise_pos = noise_pos;
  c.envelope_pos = envelope_pos;
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
bool Psg::PrepareChannels() {
  // Decisions taken from the registers as they stand, kept until a register, the clock or the
  // volume changes.
  if (prepared_) return any_envelope_;
  const uint32_t mixer = regs_[7];
  bool any_envelope = false;
  for (uint32_t c = 0; c < kChannels; ++c) {
    ChannelRun& run = runs_[c];
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
    run.amp = fixed_amp_[c];
    run.runs_pay = psg_render::RunsPay(run);
    run.counted = false;
    any_envelope = any_envelope || run.envelope;
  }
  any_envelope_ = any_envelope;
  silent_ = Silent();
  prepared_ = true;
  return any_envelope;
}

template <class Policy, class Sink>
void Psg::RenderChannel(Sink& sink, uint32_t c, uint32_t subs) {
  using namespace psg_render;
  ChannelRun& run = runs_[c];
  run.phase = tone_phase_[c];
  run.noise_pos = noise_pos_;
  run.envelope_pos = envelope_pos_;
  sink.Channel(c);
  run.noise = noise_table_;
  run.row = envelope_table_[envelope_row_];
  if (!run.envelope && run.amp == 0) {
    sink.End(0, 0, 0);
    run.phase += subs * run.step;  // adds +0 or -0 throughout
    // The board's Mix goes on adding 0 without coming here; nothing here changes.
    run.counted = !Policy::kChipNoise;
    run.value = 0;
    run.next_change = kNever;
    run.holds = kNever;
    run.skipped = 0;
  } else if (run.runs_pay ||
             (Sink::kTimesChanges && (!run.noise_on || run.noise_step < kNoiseBitLength))) {
    RenderRuns<Policy>(sink, subs, run);
  } else {
    RenderSubSamples<Policy>(sink, subs, run);
    run.counted = false;
  }
  tone_phase_[c] = run.phase;
}

template <class Policy>
void Psg::AdvanceCounters(bool any_envelope, uint32_t subs) {
  // The noise position moves whenever some noise is on or some amplitude follows the envelope;
  // the envelope position moves per sub-sample only in the latter case.
  if (Policy::kCountersRun || any_envelope || (~regs_[7] & 0x38u) != 0) {
    noise_pos_ += subs * noise_step_;
  }
  if constexpr (Policy::kChipNoise) RebaseChipNoise();
  if (Policy::kCountersRun || any_envelope) {
    envelope_pos_ =
        psg_render::AdvanceEnvelope(envelope_pos_, envelope_step_, runs_[0].hold_bit, subs);
  }
}

template <class Policy, class Sink>
void Psg::RenderBlock(Sink& sink, bool any_envelope, uint32_t subs) {
  for (uint32_t c = 0; c < kChannels; ++c) RenderChannel<Policy>(sink, c, subs);
  AdvanceCounters<Policy>(any_envelope, subs);
}

inline void Psg::AddSums(StereoFrame* frames, int32_t count) {
  using psg_render::AddWrapping;
  // Each frame's value is its sum / 4, rounded toward zero; the routing's case is taken once.
  if (routing_ == 3) {
    for (int32_t i = 0; i < count; ++i) {
      const int32_t v = sums_[i] / 4;
      sums_[i] = 0;
      frames[i].left = AddWrapping(frames[i].left, v);
      frames[i].right = AddWrapping(frames[i].right, v);
    }
    return;
  }
  const int32_t left_mask = (routing_ & 1) != 0 ? -1 : 0;
  const int32_t right_mask = (routing_ & 2) != 0 ? -1 : 0;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t v = sums_[i] / 4;
    sums_[i] = 0;
    frames[i].left = AddWrapping(frames[i].left, v & left_mask);
    frames[i].right = AddWrapping(frames[i].right, v & right_mask);
  }
}

template <class Policy>
void Psg::MixShort(StereoFrame* frames, int32_t count, bool any_envelope) {
  using namespace psg_render;
  // A channel whose runs carried over from the call before and change nowhere in this one adds
  // its value to every sub-sample without setting up a block, as RenderRuns would in one run.
  const uint32_t subs = 4 * static_cast<uint32_t>(count);
  BoxSums<1> sink{&sums_};
  int32_t steady = 0;  // the channels that do not change in this call, summed
  for (uint32_t c = 0; c < kChannels; ++c) {
    ChannelRun& run = runs_[c];
    // skipped stays below holds: the value stays true (StartRuns counts anew past next_change).
    if (run.counted && run.holds - run.skipped > subs) {
      steady += run.value;
      run.skipped += subs;
      tone_phase_[c] += subs * run.step;
    } else {
      RenderChannel<Policy>(sink, c, subs);
    }
  }
  for (int32_t i = 0; i < count; ++i) sums_[i] += 4 * steady;
  AdvanceCounters<Policy>(any_envelope, subs);
  AddSums(frames, count);
  // How long every channel now stays as it is, for the calls after (MixSteady).
  uint32_t left = kNever;
  int32_t sum = 0;
  for (const ChannelRun& run : runs_) {
    left = run.counted ? std::min(left, run.holds - run.skipped) : 0;
    sum += run.value;
  }
  steady_left_ = left;
  steady_sum_ = sum;
}

template <class Policy>
void Psg::MixWith(StereoFrame* frames, int32_t count) {
  const bool any_envelope = PrepareChannels<Policy>();
  if (frames == nullptr) count = 0;
  if (silent_) {
    if constexpr (Policy::kCountersRun) RunSilent(count);
    return;
  }
  // The board's envelope moves by the call unless some channel follows it.
  const bool by_call = !Policy::kCountersRun && !any_envelope;
  if (count > 0 && count <= kShortFrames) {
    MixShort<Policy>(frames, count, any_envelope);
    if (by_call) AdvanceEnvelopeByCall(count);
    return;
  }
  // Each frame sums twelve contributions (three channels, four sub-samples), in any order:
  // every one is at most kMaxAmplitude, so no partial sum overflows.
  psg_render::BoxSums<1> sink{&sums_};
  const int32_t block = BlockFrames();
  for (int32_t start = 0; start < count; start += block) {
    const int32_t n = std::min(block, count - start);
    RenderBlock<Policy>(sink, any_envelope, 4 * static_cast<uint32_t>(n));
    AddSums(frames + start, n);
  }
  if (by_call) AdvanceEnvelopeByCall(count);
}

template <class Policy>
bool Psg::RenderWith(PsgSink& sink, int32_t count) {
  if (Silent()) {
    if constexpr (Policy::kCountersRun) RunSilent(count);
    return false;
  }
  const bool any_envelope = PrepareChannels<Policy>();
  const int32_t block = BlockFrames();
  if (sink.timed) {
    psg_render::ChangeList list{sink};
    for (int32_t start = 0; start < count; start += block) {
      const int32_t n = std::min(block, count - start);
      RenderBlock<Policy>(list, any_envelope, 4 * static_cast<uint32_t>(n));
      sink.Block(n);
    }
  } else {
    psg_render::BoxSums<kChannels> box{sink.sums};
    for (int32_t start = 0; start < count; start += block) {
      const int32_t n = std::min(block, count - start);
      for (auto& sums : sink.sums) std::fill(sums, sums + n, 0);
      RenderBlock<Policy>(box, any_envelope, 4 * static_cast<uint32_t>(n));
      sink.Block(n);
    }
  }
  if (!Policy::kCountersRun && !any_envelope) AdvanceEnvelopeByCall(count);
  return true;
}
