#include "chip_sound/fm_chip_sound.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr uint64_t kStepChipFrames = 2048;  // chip frames a step of Mix reads, about
constexpr uint64_t kMaxLag = 4096;          // chip frames the chip may lag behind the present
constexpr uint64_t kRingFrames = 8192;

}  // namespace

FmChipSound::FmChipSound(OpmChip* chip, uint32_t clock, uint32_t rate)
    : chip_(chip), clock_(clock), rate_(rate), converter_(clock, kDivider, rate) {
  left_.resize(kRingFrames);
  right_.resize(kRingFrames);
  SetUpChip();
  Silence(base_);
}

void FmChipSound::SetVolume(int32_t setting) {
  // Applied as frames are converted: the chip's frames, and what runs ahead, stay as they are.
  setting = std::min(setting, 20);
  gain_ = setting <= -192 ? 0
                          : static_cast<int32_t>(std::lround(16384 * std::pow(10.0, setting / 40.0)));
}

void FmChipSound::SetRate(uint32_t rate) {
  if (rate == 0 || rate == rate_) return;
  Settle();
  base_ = ChipAt(frames_);
  frames_ = 0;
  rate_ = rate;
  converter_ = RateConverter(clock_, kDivider, rate);
}

void FmChipSound::Settle() {
  CatchUp();
  DropAhead();
}

void FmChipSound::DropAhead() {
  ahead_valid_ = false;
  ahead_at_ = chip_at_;
  usable_ = -1;
  pending_ = -1;
}

void FmChipSound::CatchUp() { RenderChip(ChipAt(frames_)); }

void FmChipSound::SetUpChip() {
  // At clock / 64 the chip renders one frame a chip sample; its variant is set after the rate,
  // so that a chip that changes variant derives its pitches at that rate.
  chip_->SetRate(clock_, (clock_ + kDivider / 2) / kDivider);
  chip_->SetChipTrue(true);
}

void FmChipSound::Restart() {
  SetUpChip();
  // The frames up to the present stay as the chip played them: the converter goes on from them.
  chip_at_ = ChipAt(frames_);
  DropAhead();
}

void FmChipSound::Skip(int32_t count) {
  if (count <= 0) return;
  CatchUp();
  frames_ += static_cast<uint64_t>(count);
  const uint64_t due = ChipAt(frames_);
  for (uint64_t left = due - chip_at_; left > 0;) {
    const uint64_t n = std::min<uint64_t>(left, INT32_MAX);
    chip_->AdvanceTimers(static_cast<int32_t>(n));
    left -= n;
  }
  Silence(due);
}

void FmChipSound::Mix(StereoFrame* frames, int32_t count) {
  // Output frames a step: at most about kStepChipFrames chip frames, at least one.
  const uint64_t most = std::max<uint64_t>(1, kStepChipFrames * kDivider * rate_ / clock_);
  for (int32_t done = 0; done < count;) {
    const int32_t n = static_cast<int32_t>(std::min<uint64_t>(most, count - done));
    Step(frames + done, n);
    done += n;
  }
}

void FmChipSound::Step(StereoFrame* frames, int32_t count) {
  const uint64_t due = ChipAt(frames_ + count);  // where the chip is when these have played
  const uint64_t need = ChipAt(frames_ + count - 1) + RateConverter::kHalf + 1;
  if (!ahead_valid_ || ahead_at_ < need) {
    if (ahead_valid_ && need - ahead_at_ <= RateConverter::kHalf) {
      // A short call: the copy goes on, a little further than needed so that it renders in
      // fewer, longer runs, and the chip lags. Where the copy starts is marked: once the present
      // has passed it, the chip catches up from there.
      if (pending_ < 0) {
        pending_ = usable_ == 0 ? 1 : 0;
        marks_[pending_] = ahead_;
        mark_at_[pending_] = ahead_at_;
      }
      RenderAhead(need + RateConverter::kHalf);
    } else {
      RenderChip(due);
      ahead_ = *chip_;
      ahead_at_ = due;
      ahead_valid_ = true;
      RenderAhead(need);
    }
  }
  if (due - chip_at_ > kMaxLag) RenderChip(due);
  const uint64_t first = ChipAt(frames_) - RateConverter::kHalf + 1;
  // A silent chip converts to silence: nothing to add.
  if (last_sound_ >= first) {
    converter_.Convert(&left_[first - ring_start_], &right_[first - ring_start_], frames_, gain_,
                       frames, count);
  }
  frames_ += static_cast<uint64_t>(count);
  if (pending_ >= 0 && mark_at_[pending_] <= due) {
    usable_ = pending_;
    pending_ = -1;
  }
}

void FmChipSound::Reserve(uint64_t frame, uint64_t end) {
  if (end - ring_start_ <= left_.size()) return;
  // What the next output frame reads, and on; the chip's own frames below it are not kept.
  const uint64_t keep = std::min(frame, ChipAt(frames_) - RateConverter::kHalf + 1);
  const uint64_t ring_end = ring_start_ + left_.size();
  const size_t kept = ring_end > keep ? ring_end - keep : 0;
  std::memmove(left_.data(), &left_[keep - ring_start_], kept * sizeof(int16_t));
  std::memmove(right_.data(), &right_[keep - ring_start_], kept * sizeof(int16_t));
  ring_start_ = keep;
  if (end - ring_start_ > left_.size()) {
    left_.resize(2 * (end - ring_start_));
    right_.resize(2 * (end - ring_start_));
  }
}

void FmChipSound::RenderInto(OpmChip& chip, uint64_t from, uint64_t end) {
  while (from < end) {
    const uint64_t n = std::min(end - from, kStepChipFrames);
    scratch_.assign(n, StereoFrame{0, 0});
    chip.Mix(scratch_.data(), static_cast<int32_t>(n));
    // Frames no output reads any more are rendered for the chip's sake only.
    if (from + n > ring_start_) {
      const uint64_t skip = from < ring_start_ ? ring_start_ - from : 0;
      Reserve(from + skip, from + n);
      for (uint64_t i = skip; i < n; ++i) {
        // At unity the chip's DAC gives 16 bits; held there in any case.
        const int32_t left = std::clamp(scratch_[i].left, -32768, 32767);
        const int32_t right = std::clamp(scratch_[i].right, -32768, 32767);
        left_[from + i - ring_start_] = static_cast<int16_t>(left);
        right_[from + i - ring_start_] = static_cast<int16_t>(right);
        if ((left | right) != 0) last_sound_ = std::max(last_sound_, from + i);
      }
    }
    from += n;
  }
}

void FmChipSound::RenderChip(uint64_t end) {
  if (chip_at_ >= end) return;
  // From the copy's mark, if the chip lags behind it: a copy costs less than a few frames.
  if (usable_ >= 0 && mark_at_[usable_] > chip_at_ && mark_at_[usable_] <= end) {
    *chip_ = marks_[usable_];
    chip_at_ = mark_at_[usable_];
  }
  RenderInto(*chip_, chip_at_, end);
  chip_at_ = end;
}

void FmChipSound::RenderAhead(uint64_t end) {
  RenderInto(ahead_, ahead_at_, end);
  ahead_at_ = end;
}

void FmChipSound::Silence(uint64_t frame) {
  ring_start_ = frame - RateConverter::kTaps;
  std::fill(left_.begin(), left_.end(), int16_t{0});
  std::fill(right_.begin(), right_.end(), int16_t{0});
  chip_at_ = frame;
  DropAhead();
}
