#include "player/psg_output.h"

#include <algorithm>

namespace {

// Adds into the frames; a sum past the int32 range wraps around instead of overflowing.
int32_t AddWrapping(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

PsgOutput::PsgOutput(uint32_t rate, bool band_limited, bool dc_blocked)
    : PsgSink(band_limited), dc_blocked_(dc_blocked) {
  if (rate != 0) {
    dc_leak_ = DcBlocker::Leak(rate);
  }
}

void PsgOutput::SetPan(const Pan& pan) {
  pan_ = pan;
  outs_ = kChannels;
}

bool PsgOutput::DcAtRest() const {
  for (uint32_t o = 0; o < outs_; ++o) {
    if (dc_out_[o] != 0) return false;
  }
  return true;
}

void PsgOutput::Mix(Psg& psg, StereoFrame* frames, int32_t count) {
  if (frames == nullptr) count = 0;
  out_ = frames;
  if (!psg.Render(*this, count)) {
    // The blocker lets a silenced level fall away, and band-limited steps end, before the
    // output may stop.
    if (timed ? settled_ : !dc_blocked_ || DcAtRest()) return;
    MixSilence(count);
  }
  // At rest (input 0, output under half a unit), a blocker goes on exactly 0.
  constexpr int64_t kHalfUnit = DcBlocker::kHalfUnit;
  for (uint32_t o = 0; o < outs_; ++o) {
    if (dc_in_[o] == 0 && dc_out_[o] > -kHalfUnit && dc_out_[o] < kHalfUnit) dc_out_[o] = 0;
  }
  if (!timed) return;
  settled_ = DcAtRest();
  for (uint32_t c = 0; c < kChannels; ++c) settled_ = settled_ && last_level_[c] == 0;
  for (uint32_t o = 0; o < outs_; ++o) {
    for (uint32_t j = 0; j < kTaps; ++j) settled_ = settled_ && tail_[o][j] == 0;
  }
}

void PsgOutput::MixSilence(int32_t count) {
  for (int32_t start = 0; start < count; start += kBlockFrames) {
    const int32_t n = std::min(kBlockFrames, count - start);
    for (uint32_t c = 0; c < kChannels; ++c) {
      if (timed) {
        changes[c][0] = PsgChange{0, 0};
        change_count[c] = 1;
      } else {
        std::fill(sums[c], sums[c] + n, 0);
      }
    }
    Block(n);
  }
}

void PsgOutput::Block(int32_t frames) {
  if (timed) {
    BlockBandLimited(frames);
  } else {
    BlockSampled(frames);
  }
  out_ += frames;
}

void PsgOutput::PlaceBlock(int32_t frames) {
  if (dc_blocked_) {
    for (uint32_t o = 0; o < outs_; ++o) {
      int32_t in = dc_in_[o];
      int64_t out = dc_out_[o];
      for (int32_t i = 0; i < frames; ++i) values_[o][i] = DcBlocker::Pass(values_[o][i], in, out, dc_leak_);
      dc_in_[o] = in;
      dc_out_[o] = out;
    }
  }
  if (outs_ == 1) {
    for (int32_t i = 0; i < frames; ++i) {
      out_[i].left = AddWrapping(out_[i].left, values_[0][i]);
      out_[i].right = AddWrapping(out_[i].right, values_[0][i]);
    }
    return;
  }
  constexpr int64_t kHalf = int64_t{1} << (kPanBits - 1);
  for (int32_t i = 0; i < frames; ++i) {
    int64_t left = kHalf;
    int64_t right = kHalf;
    for (uint32_t c = 0; c < kChannels; ++c) {
      left += int64_t{values_[c][i]} * pan_.left[c];
      right += int64_t{values_[c][i]} * pan_.right[c];
    }
    out_[i].left = AddWrapping(out_[i].left, static_cast<int32_t>(left >> kPanBits));
    out_[i].right = AddWrapping(out_[i].right, static_cast<int32_t>(right >> kPanBits));
  }
}

void PsgOutput::BlockSampled(int32_t frames) {
  // Four sub-samples a frame, averaged, rounding toward zero.
  if (outs_ == 1) {
    for (int32_t i = 0; i < frames; ++i) {
      values_[0][i] = (sums[0][i] + sums[1][i] + sums[2][i]) / 4;
    }
  } else {
    for (uint32_t c = 0; c < kChannels; ++c) {
      for (int32_t i = 0; i < frames; ++i) values_[c][i] = sums[c][i] / 4;
    }
  }
  PlaceBlock(frames);
}

void PsgOutput::BlockBandLimited(int32_t frames) {
  // A change of d at time t adds d x the kernel's row for t's fraction of a frame to the frames
  // from t's on.
  const auto& taps = StepKernel::Get().taps;
  const size_t n = static_cast<size_t>(frames);
  for (uint32_t o = 0; o < outs_; ++o) {
    std::copy(tail_[o], tail_[o] + kTaps, ahead_[o]);
    std::fill(ahead_[o] + kTaps, ahead_[o] + n + kTaps, 0);
  }
  for (uint32_t c = 0; c < kChannels; ++c) {
    int64_t* const ahead = ahead_[outs_ == 1 ? 0 : c];
    for (uint32_t k = 0; k < change_count[c]; ++k) {
      const PsgChange change = changes[c][k];
      if (change.level == last_level_[c]) continue;
      const int64_t d = int64_t{change.level} - last_level_[c];
      last_level_[c] = change.level;
      // Four sub-samples a frame, 256 time units a sub-sample.
      const int32_t* row = taps[(change.time >> 2) & (StepKernel::kPhases - 1)];
      int64_t* at = ahead + (change.time >> 10);
      for (uint32_t j = 0; j < kTaps; ++j) at[j] += d * row[j];
    }
  }
  for (uint32_t o = 0; o < outs_; ++o) {
    int64_t level = level_[o];
    for (size_t i = 0; i < n; ++i) {
      level += ahead_[o][i];
      values_[o][i] = static_cast<int32_t>(level >> StepKernel::kUnityBits);
    }
    level_[o] = level;
    std::copy(ahead_[o] + n, ahead_[o] + n + kTaps, tail_[o]);
  }
  PlaceBlock(frames);
}
