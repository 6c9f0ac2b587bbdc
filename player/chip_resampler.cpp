#include "player/chip_resampler.h"

#include <algorithm>
#include <cmath>

#include <soxr.h>

namespace {

constexpr int32_t kInputBlock = 4096;
constexpr size_t kChannels = 2;  // left and right, interleaved

}  // namespace

ChipResampler::ChipResampler(uint32_t in_clock, uint32_t in_divider, uint32_t out_rate,
                             Render render)
    : render_(std::move(render)),
      in_clock_(in_clock),
      out_ticks_(uint64_t{in_divider} * out_rate) {
  const double in_rate = static_cast<double>(in_clock) / in_divider;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_INT32_I, SOXR_INT32_I);
  // Very high quality (28-bit precision), the passband to 0.913 of the output's Nyquist
  // frequency: its transition band falls as fast as the best conversion's, so that what lies
  // above the passband is the chip's (16-bit precision passed 10 dB more at 21.5 kHz).
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
  soxr_error_t error = nullptr;
  soxr_ = soxr_create(in_rate, out_rate, kChannels, &error, &io, &quality, nullptr);
  if (error != nullptr) {
    soxr_delete(soxr_);
    soxr_ = nullptr;
    return;
  }
  input_.resize(kInputBlock);
  // The filter gives its frames in bursts: the sound lags the chip by up to a burst plus the
  // filter's latency. That lag, found by feeding silence in small blocks until four bursts
  // came out (then the converter starts afresh), goes ahead of the converted sound as silence,
  // with half a burst more for the bursts' drift against the input blocks, so that Mix never
  // waits for frames still held.
  constexpr size_t kProbeBlock = 64;
  const std::vector<int32_t> zeros(kProbeBlock * 2, 0);
  std::vector<int32_t> sink(32768);
  // The lag in output frames is fed x out_rate / in_rate - made: kept as whole numbers over
  // in_clock_ (fed and made stay far below 2^32, in_clock_ and out_ticks_ below 2^40).
  int64_t lag = 0;
  uint64_t fed = 0;
  uint64_t made = 0;
  size_t largest_burst = 0;
  for (int bursts = 0; bursts < 4;) {
    size_t consumed = 0;
    size_t done = 0;
    soxr_process(soxr_, zeros.data(), kProbeBlock, &consumed, sink.data(),
                 sink.size() / kChannels, &done);
    fed += consumed;
    made += done;
    lag = std::max(lag, static_cast<int64_t>(fed * out_ticks_) -
                            static_cast<int64_t>(made * in_clock_));
    if (done > 0) ++bursts;
    largest_burst = std::max(largest_burst, done);
    if (consumed == 0 && done == 0) break;
  }
  soxr_clear(soxr_);
  const auto lag_frames =
      static_cast<size_t>((static_cast<uint64_t>(lag) + in_clock_ - 1) / in_clock_);
  const size_t ahead = lag_frames + largest_burst / 2;
  ready_.assign(ahead * kChannels, 0);
}

ChipResampler::~ChipResampler() { soxr_delete(soxr_); }

void ChipResampler::Mix(StereoFrame* frames, int32_t count) {
  if (count <= 0) return;
  in_fraction_ += static_cast<uint64_t>(count) * in_clock_;
  in_target_ += in_fraction_ / out_ticks_;
  in_fraction_ %= out_ticks_;
  while (in_rendered_ < in_target_) {
    const int32_t n =
        static_cast<int32_t>(std::min<uint64_t>(kInputBlock, in_target_ - in_rendered_));
    std::fill(input_.begin(), input_.begin() + n, StereoFrame{0, 0});
    render_(input_.data(), n);
    in_rendered_ += static_cast<uint64_t>(n);
    const int32_t* in = &input_[0].left;
    // Room for everything this block can give; more rounds while the filter fills it.
    const size_t room = static_cast<size_t>(static_cast<uint64_t>(n) * out_ticks_ / in_clock_) + 65;
    size_t left = static_cast<size_t>(n);
    size_t done = 0;
    do {
      const size_t old_size = ready_.size();
      ready_.resize(old_size + room * kChannels);
      size_t consumed = 0;
      soxr_process(soxr_, in, left, &consumed, ready_.data() + old_size, room, &done);
      ready_.resize(old_size + done * kChannels);
      in += consumed * kChannels;
      left -= consumed;
    } while (left > 0 || done == room);
  }
  // Short only if the filter lagged more than the silence ahead allows: the rest stays as it is.
  const size_t n = std::min((ready_.size() - ready_start_) / kChannels, static_cast<size_t>(count));
  const int32_t* src = ready_.data() + ready_start_;
  for (size_t i = 0; i < n; ++i) {
    frames[i].left += src[2 * i];
    frames[i].right += src[2 * i + 1];
  }
  ready_start_ += n * kChannels;
  // Keep the queue short: drop what has been handed out once it is most of the buffer.
  if (ready_start_ > 16384 && ready_start_ * 2 > ready_.size()) {
    ready_.erase(ready_.begin(), ready_.begin() + static_cast<ptrdiff_t>(ready_start_));
    ready_start_ = 0;
  }
}
