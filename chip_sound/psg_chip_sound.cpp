#include "chip_sound/psg_chip_sound.h"

#include "psg/dc_blocker.h"

#include <algorithm>

namespace {

// Wraps around past the int32 range, as the chips' own sums do.
int32_t AddWrapping(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// Each kernel row summed from its first tap: the step's rise k frames after its change.
struct RiseTable {
  int64_t rise[StepKernel::kPhases][StepKernel::kTaps];
  RiseTable() {
    const auto& taps = StepKernel::Get().taps;
    for (uint32_t p = 0; p < StepKernel::kPhases; ++p) {
      int64_t sum = 0;
      for (uint32_t j = 0; j < StepKernel::kTaps; ++j) rise[p][j] = sum += taps[p][j];
    }
  }
  static const RiseTable& Get() {
    static const RiseTable table;
    return table;
  }
};

}  // namespace

PsgChipSound::PsgChipSound(Psg* psg, uint32_t rate) : psg_(psg), steps_(this) {
  SetRate(rate);
}

void PsgChipSound::SetRate(uint32_t rate) {
  if (rate == 0) return;
  Changed();
  dc_leak_ = DcBlocker::Leak(rate);
}

void PsgChipSound::Changed() {
  // The copy's steps from the present on are taken back; the PSG's own steps up to the present
  // (one may fall at the present itself) go in instead.
  for (auto s = ahead_steps_.rbegin(); s != ahead_steps_.rend(); ++s) {
    Scatter(s->frame, s->phase, -s->change);
    last_[s->channel] -= static_cast<int32_t>(s->change);
  }
  ahead_steps_.clear();
  summed_ = std::min(summed_, out_);
  ahead_valid_ = false;
  CatchUp(out_);
}

void PsgChipSound::CatchUp(uint64_t to) {
  if (at_ < to) Render(false, to - at_);
}

void PsgChipSound::Mix(StereoFrame* frames, int32_t count, uint32_t routing) {
  for (int32_t done = 0; done < count;) {
    const int32_t n = std::min(count - done, PsgSink::kBlockFrames);
    const uint64_t present = out_ + static_cast<uint64_t>(n);  // after these frames
    const uint64_t need = present + kDelay;  // the frames whose steps these frames read
    if (summed_ < need) {
      if (ahead_valid_ && ahead_at_ == summed_ && n <= static_cast<int32_t>(kDelay)) {
        // A short call: the copy goes on, past what is needed so that it renders in fewer,
        // longer runs.
        Render(true, need + kAheadSlack - ahead_at_);
      } else {
        CatchUp(present);
        ahead_ = *psg_;
        ahead_at_ = at_;
        ahead_valid_ = true;
        Render(true, need - ahead_at_);
      }
    }
    if (at_ + kMaxLag < present) CatchUp(present);
    Output(frames + done, n, routing);
    // Steps before the present can no longer be taken back.
    const auto kept = std::remove_if(ahead_steps_.begin(), ahead_steps_.end(),
                                     [this](const AheadStep& s) { return s.frame < out_; });
    ahead_steps_.erase(kept, ahead_steps_.end());
    done += n;
  }
}

void PsgChipSound::Render(bool ahead, uint64_t count) {
  rendering_ahead_ = ahead;
  uint64_t& at = ahead ? ahead_at_ : at_;
  for (uint64_t left = count; left > 0;) {
    const int32_t n = static_cast<int32_t>(std::min<uint64_t>(left, PsgSink::kBlockFrames));
    block_at_ = at;
    if (!(ahead ? ahead_ : *psg_).Render(steps_, n)) {
      // Nothing can sound: every channel falls to 0.
      for (uint32_t c = 0; c < kChannels; ++c) Change(c, 0, at, 0);
    }
    at += static_cast<uint64_t>(n);
    left -= static_cast<uint64_t>(n);
  }
  summed_ = std::max(summed_, at);
}

void PsgChipSound::TakeBlock(int32_t frames) {
  for (uint32_t c = 0; c < kChannels; ++c) {
    for (uint32_t k = 0; k < steps_.change_count[c]; ++k) {
      // Four sub-samples a frame, 256 time units a sub-sample.
      const PsgChange change = steps_.changes[c][k];
      Change(c, change.level, block_at_ + (change.time >> 10),
             (change.time >> 2) & (StepKernel::kPhases - 1));
    }
  }
  block_at_ += static_cast<uint64_t>(frames);
}

void PsgChipSound::Change(uint32_t c, int32_t level, uint64_t frame, uint32_t phase) {
  // A frame already summed (the copy rendered it first) has its steps in the sum.
  if (frame < summed_ || level == last_[c]) return;
  const int64_t change = int64_t{level} - last_[c];
  last_[c] = level;
  Scatter(frame, phase, change);
  if (rendering_ahead_) ahead_steps_.push_back(AheadStep{frame, phase, c, change});
}

void PsgChipSound::Scatter(uint64_t frame, uint32_t phase, int64_t change) {
  // The part of the step the outputs have already read (up to frame out_ + kDelay - 1) goes
  // into the level at once, the rest frame by frame.
  const uint64_t read = out_ + kDelay;  // the first frame of the sum no output has read
  const uint32_t passed =
      read > frame ? static_cast<uint32_t>(std::min<uint64_t>(read - frame, kTaps)) : 0;
  if (passed > 0) level_ += change * RiseTable::Get().rise[phase][passed - 1];
  const int32_t* row = StepKernel::Get().taps[phase];
  for (uint32_t j = passed; j < kTaps; ++j) increments_[(frame + j) % kRing] += change * row[j];
  pending_until_ = std::max(pending_until_, frame + kTaps);
}

void PsgChipSound::Output(StereoFrame* frames, int32_t count, uint32_t routing) {
  constexpr int64_t kHalfUnit = DcBlocker::kHalfUnit;
  const uint64_t first = out_ + kDelay;
  out_ += static_cast<uint64_t>(count);
  // At rest (every level 0, no step on its way, the DC blocker at 0) the output stays 0.
  if (level_ == 0 && pending_until_ <= first && dc_in_ == 0 && dc_out_ == 0) return;
  for (int32_t i = 0; i < count; ++i) {
    int64_t& increment = increments_[(first + static_cast<uint64_t>(i)) % kRing];
    level_ += increment;
    increment = 0;
    const int32_t x = static_cast<int32_t>(level_ >> StepKernel::kUnityBits);
    // Silent after sound, the blocker comes to rest at exactly 0 once its output rounds to 0.
    if (x == 0 && dc_in_ == 0 && dc_out_ > -kHalfUnit && dc_out_ < kHalfUnit) dc_out_ = 0;
    const int32_t y = DcBlocker::Pass(x, dc_in_, dc_out_, dc_leak_);
    if (routing & 1) frames[i].left = AddWrapping(frames[i].left, y);
    if (routing & 2) frames[i].right = AddWrapping(frames[i].right, y);
  }
}
