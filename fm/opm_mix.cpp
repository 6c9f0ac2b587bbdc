// The per-sample path of OpmChip: LFO, noise generator and mixing. Integer work only.
#include <algorithm>
#include <cstdlib>

#include "fm/opm_chip.h"
#include "fm/fm_tables.h"
#include "fm/opm_lfo_waves.h"

namespace {

constexpr int32_t kSumMax = 65535;
constexpr int32_t kSumMin = -65536;
constexpr int32_t kNoiseThreshold = 4096;

// The chip's own output: eight channels saturate at 16 bits.
constexpr int32_t kChipSumMax = 32767;
constexpr int32_t kChipSumMin = -32768;

int32_t ClampSum(int32_t sum) {
  return sum > kSumMax ? kSumMax : (sum < kSumMin ? kSumMin : sum);
}

// The chip's sum as its DAC passes it on: 16-bit saturation, then a floating-point value of a
// 10-bit mantissa and a 3-bit exponent, so that a value beyond the mantissa's range keeps only
// its bits from the exponent's shift up.
int32_t ChipDac(int32_t sum) {
  const int32_t v = sum > kChipSumMax ? kChipSumMax : (sum < kChipSumMin ? kChipSumMin : sum);
  // Bits the value needs above the mantissa's 10 (sign included): 0 for -512..511, up to 6.
  const uint32_t magnitude = static_cast<uint32_t>(v < 0 ? ~v : v) >> 9;
  const int shift = magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
  return (v >> shift) * (1 << shift);
}

template <bool kChipTrue>
int32_t OutputSum(int32_t sum) {
  if constexpr (kChipTrue) {
    return ChipDac(sum);
  } else {
    return ClampSum(sum);
  }
}

// Adds without clamping, as every generator on the board does; wraps instead of overflowing.
int32_t AddWrapping(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

void OpmChip::SetLfoIndexes(int32_t amp, int32_t pitch) {
  params_.am_index = amp * static_cast<int32_t>(amd_) / 128;
  // The chip's vibrato is the board's upside down (-1 - value keeps -128..127): after a reset
  // every waveform moves the pitch up first, and the saw's offset rises through each period.
  if (params_.chip_true) pitch = ~pitch;
  // Rounded toward minus infinity; 128 is the centre (no deflection).
  params_.pm_index = ((pitch * static_cast<int32_t>(pmd_)) >> 7) + 128;
}

void OpmChip::AdvanceLfo(uint32_t samples) {
  lfo_prev_phase_ = lfo_phase_;
  lfo_sample_count_ += samples;
  if ((lfo_sample_count_ & 7) == 0) lfo_phase_ += lfo_increment_;
}

void OpmChip::LfoStep() {
  if (lfo_waveform_ < 3) {
    const uint32_t k = (lfo_phase_ >> 16) & 0xFF;
    if (k != lfo_indexed_step_) {
      lfo_indexed_step_ = k;
      SetLfoIndexes(LfoAmpWave[lfo_waveform_][k], LfoPitchWave[lfo_waveform_][k]);
    }
  } else if ((lfo_phase_ ^ lfo_prev_phase_) & 0xFFFE0000u) {
    // A new random value each time the phase crosses a multiple of 131072: the board's from
    // the C library, the chip's from its LFSR.
    const int32_t r = params_.chip_true ? LfsrByte() : (std::rand() / 17) & 0xFF;
    SetLfoIndexes(r, r - 128);
    lfo_indexed_step_ = kNoLfoStep;
  }
  AdvanceLfo(1);
}

int32_t OpmChip::LfsrByte() {
  // The register after two shifts a chip sample since power-on (lfo_sample_count_ counts
  // them), worked out from the last one asked for; the sequence repeats every kLfsrSteps.
  const auto target = static_cast<uint32_t>((2 * uint64_t{lfo_sample_count_}) % kLfsrSteps);
  for (uint32_t n = (target + kLfsrSteps - lfsr_steps_) % kLfsrSteps; n > 0; --n) {
    lfsr_ = (lfsr_ >> 1) | (((lfsr_ ^ (lfsr_ >> 3)) & 1) << 16);
  }
  lfsr_steps_ = target;
  return static_cast<int32_t>(lfsr_ & 0xFF);
}

uint32_t OpmChip::NoiseStep() {
  // Worked in 64 bits: 2 x ratio alone can pass 2^31 at absurd rates.
  int64_t counter = static_cast<int64_t>(noise_counter_) + 2 * static_cast<int64_t>(rate_ratio_);
  if (counter >= kNoiseThreshold) {
    uint32_t nfrq = noise_control_ & 31;
    int64_t n = 32 - static_cast<int64_t>(nfrq);
    if (n == 1) n = 2;
    counter -= n * 128;
    if (nfrq == 31) counter -= 7;
    uint32_t old = noise_shift_;
    noise_shift_ = (old & 1) ? (old >> 1) ^ 0x8408 : old >> 1;
    // At most one shift happens per sample. When the shift interval is shorter than a sample
    // (NFRQ 30 and 31 at 44100 Hz) the remainder would grow without end; a counter left at or
    // above the threshold already guarantees the next shift, so the surplus is dropped.
    if (counter > kNoiseThreshold) counter = kNoiseThreshold;
  }
  noise_counter_ = static_cast<int32_t>(counter);
  return noise_shift_;
}

void OpmChip::Mix(StereoFrame* frames, int32_t count) {
  if (!timer_.CsmKeysOn()) {
    // Without CSM an overflow only raises a flag, which a status read sees after the mixer
    // caught up: the whole block renders at once (Advance does nothing while the timers do
    // not count).
    MixSound(frames, count);
    timer_.Advance(count);
    return;
  }
  // Timer A keys the channels on: the sound is rendered up to each of its overflows.
  while (count > 0) {
    const int32_t n = timer_.FramesToCsmKeyOn(count);
    MixSound(frames, n);
    timer_.Advance(n);
    frames += n;
    count -= n;
  }
}

void OpmChip::MixSound(StereoFrame* frames, int32_t count) {
  if (params_.regather) Gather();
  uint32_t word = word_;
  if ((word & 0x5555) == 0) return;       // all silent: nothing advances
  if (test_register_ & 2) word &= 0x5555;  // LFO held in reset
  const bool lfo = (word & 0xAAAA) != 0;
  if (count < kShortMix) {
    lfo ? MixFramesShort<true>(frames, count) : MixFramesShort<false>(frames, count);
  } else {
    lfo ? MixFrames<true>(frames, count, word) : MixFrames<false>(frames, count, word);
  }
}

void OpmChip::Gather() {
  // Cleared first: an operator that falls silent while the channels derive asks again.
  params_.regather = false;
  word_ = 0;
  for (FmChannel& channel : channels_) word_ = (word_ << 2) | channel.Refresh();
  sounding_count_ = 0;
  noise_sounding_ = false;
  for (int ch = 0; ch < kChannels; ++ch) {
    if (!Active(word_, ch)) continue;
    if (ch == kChannels - 1 && (noise_control_ & 0x80)) {
      noise_sounding_ = true;
    } else {
      sounding_[sounding_count_] = &channels_[ch];
      sounding_pan_[sounding_count_++] = pan_[ch];
    }
  }
}

void OpmChip::SkipLfo(int32_t count) {
  if (count <= 0) return;
  if (lfo_waveform_ < 3) {
    // All steps but the last only count samples and move the phase every eighth one; the last
    // is run as it is, for the values and the previous phase it leaves.
    const uint32_t skipped = static_cast<uint32_t>(count - 1);
    const uint32_t advances = ((lfo_sample_count_ & 7) + skipped) / 8;
    lfo_phase_ += advances * lfo_increment_;
    lfo_sample_count_ += skipped;
    LfoStep();
    return;
  }
  // The noise waveform draws from rand() as it goes: step by step.
  for (int32_t i = 0; i < count; ++i) LfoStep();
}

void OpmChip::LfoBlock(int32_t count, uint64_t* key) {
  if (lfo_waveform_ >= 3) {
    for (int32_t i = 0; i < count; ++i) {
      LfoStep();
      key[i] = FmLfoKey(params_.am_index, params_.pm_index, params_.ratio);
    }
    return;
  }
  // The phase moves only after every eighth step, so the values hold for groups of up to eight
  // frames: one table look-up a group.
  int32_t i = 0;
  while (i < count) {
    const int32_t group =
        std::min(8 - static_cast<int32_t>(lfo_sample_count_ & 7), count - i);
    const uint32_t k = (lfo_phase_ >> 16) & 0xFF;
    lfo_indexed_step_ = k;
    SetLfoIndexes(LfoAmpWave[lfo_waveform_][k], LfoPitchWave[lfo_waveform_][k]);
    std::fill(key + i, key + i + group,
              FmLfoKey(params_.am_index, params_.pm_index, params_.ratio));
    AdvanceLfo(static_cast<uint32_t>(group));
    i += group;
  }
}

void OpmChip::LfoRuns(int32_t n, const uint64_t* key, int32_t* run) {
  run[n - 1] = 1;
  for (int32_t i = n - 2; i >= 0; --i) run[i] = key[i] == key[i + 1] ? run[i + 1] + 1 : 1;
}

uint32_t OpmChip::PansUsed(uint32_t word) const {
  uint32_t used = 0;
  for (int ch = 0; ch < kChannels; ++ch) {
    if (Active(word, ch)) used |= 1u << pan_[ch];
  }
  return used;
}

template <bool kLfo>
void OpmChip::RenderChannels(int32_t (*sums)[kBlock], int32_t n, uint32_t word,
                             const FmLfoBlock& lfo, const FmTables& t) {
  for (int ch = 0; ch < kChannels; ++ch) {
    if (!Active(word, ch)) continue;
    int32_t* sum = sums[pan_[ch]];
    if (ch == kChannels - 1 && (noise_control_ & 0x80)) {
      RenderNoiseChannel<kLfo>(sum, n, lfo, t);
    } else {
      channels_[ch].RenderBlock<kLfo>(sum, n, &lfo, t);
    }
  }
}

template <bool kLfo>
void OpmChip::RenderNoiseChannel(int32_t* sum, int32_t n, const FmLfoBlock& lfo,
                                 const FmTables& t) {
  FmChannel& last = channels_[kChannels - 1];
  for (int32_t i = 0; i < n; ++i) {
    const uint32_t noise_word = NoiseStep();
    sum[i] += last.RenderNoise<kLfo>(noise_word, kLfo ? lfo.key[i] : 0, t);
  }
}

void OpmChip::AddSums(StereoFrame* out, int32_t n, const int32_t (*sums)[kBlock],
                      bool only_both) const {
  if (params_.chip_true) {
    AddSumsOf<true>(out, n, sums, only_both);
  } else {
    AddSumsOf<false>(out, n, sums, only_both);
  }
}

// 64-bit products: the gain goes up to 51810, far past what 32 bits hold with 65535.
template <bool kChipTrue>
void OpmChip::AddSumsOf(StereoFrame* out, int32_t n, const int32_t (*sums)[kBlock],
                        bool only_both) const {
  const int64_t volume = volume_factor_;
  if (only_both) {
    // Only the sum of both sides: one value for both.
    for (int32_t i = 0; i < n; ++i) {
      const int32_t v = static_cast<int32_t>((OutputSum<kChipTrue>(sums[3][i]) * volume) >> 14);
      out[i].left = AddWrapping(out[i].left, v);
      out[i].right = AddWrapping(out[i].right, v);
    }
    return;
  }
  for (int32_t i = 0; i < n; ++i) {
    const int64_t left = OutputSum<kChipTrue>(sums[1][i] + sums[3][i]);
    const int64_t right = OutputSum<kChipTrue>(sums[2][i] + sums[3][i]);
    out[i].left = AddWrapping(out[i].left, static_cast<int32_t>((left * volume) >> 14));
    out[i].right = AddWrapping(out[i].right, static_cast<int32_t>((right * volume) >> 14));
  }
}

// A few frames (an emulator mixes one or two before each register write), frame by frame: the
// same steps as the blocks of MixFrames, without their set-up. The sounding channels come from
// Gather; each channel keeps what it derived from the LFO's values until they change.
template <bool kLfo>
void OpmChip::MixFramesShort(StereoFrame* frames, int32_t count) {
  const FmTables& t = FmTables::Get();
  const bool chip_true = params_.chip_true;
  for (int32_t i = 0; i < count; ++i) {
    LfoStep();
    const uint64_t key =
        kLfo ? FmLfoKey(params_.am_index, params_.pm_index, params_.ratio) : 0;
    int32_t sums[4] = {0, 0, 0, 0};
    for (int32_t k = 0; k < sounding_count_; ++k) {
      sums[sounding_pan_[k]] += sounding_[k]->RenderFrame<kLfo>(key, t);
    }
    if (noise_sounding_) {
      sums[pan_[kChannels - 1]] +=
          channels_[kChannels - 1].RenderNoise<kLfo>(NoiseStep(), key, t);
    }
    const int64_t left = chip_true ? OutputSum<true>(sums[1] + sums[3])
                                   : OutputSum<false>(sums[1] + sums[3]);
    const int64_t right = chip_true ? OutputSum<true>(sums[2] + sums[3])
                                    : OutputSum<false>(sums[2] + sums[3]);
    StereoFrame& out = frames[i];
    out.left = AddWrapping(out.left, static_cast<int32_t>((left * volume_factor_) >> 14));
    out.right = AddWrapping(out.right, static_cast<int32_t>((right * volume_factor_) >> 14));
  }
}

template <bool kLfo>
void OpmChip::MixFrames(StereoFrame* frames, int32_t count, uint32_t word) {
  // Rendered in blocks, one channel after the other through the whole block: each channel adds
  // into the sum its pan selects (0 none, 1 left, 2 right, 3 both). Channels do not hear each
  // other, so this gives the same sums as going channel by channel within each frame.
  int32_t sums[4][kBlock];
  uint64_t key[kBlock];
  int32_t run[kBlock];
  const FmLfoBlock lfo{key, run};
  const FmTables& t = FmTables::Get();
  const uint32_t used = PansUsed(word);    // bit p: some active channel adds into sums[p]
  const bool only_both = (used & 6) == 0;  // no left-only or right-only channel
  const uint32_t zeroed = used | (only_both ? 8 : 14);  // and what AddSums reads

  for (int32_t start = 0; start < count; start += kBlock) {
    const int32_t n = std::min(kBlock, count - start);
    for (int pan = 0; pan < 4; ++pan) {
      if ((zeroed >> pan) & 1) std::fill(sums[pan], sums[pan] + n, 0);
    }
    if constexpr (kLfo) {
      LfoBlock(n, key);
      LfoRuns(n, key, run);
    } else {
      SkipLfo(n);
    }
    RenderChannels<kLfo>(sums, n, word, lfo, t);
    AddSums(frames + start, n, sums, only_both);
  }
}
