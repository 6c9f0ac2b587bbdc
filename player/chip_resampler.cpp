#include "player/chip_resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <soxr.h>

namespace {

constexpr int32_t kInputBlock = 4096;
// Output frames of silence beyond the lag the probe found: other block sizes than the probe's
// shift the bursts by a few frames.
constexpr size_t kLagMargin = 64;

}  // namespace

ChipResampler::ChipResampler(double in_rate, uint32_t out_rate, Render render)
    : render_(std::move(render)), ratio_(in_rate / out_rate) {
  const soxr_io_spec_t io = soxr_io_spec(SOXR_INT32_I, SOXR_INT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  soxr_error_t error = nullptr;
  soxr_ = soxr_create(in_rate, out_rate, 2, &error, &io, &quality, nullptr);
  if (error != nullptr) {
    soxr_delete(soxr_);
    soxr_ = nullptr;
    return;
  }
  input_.resize(kInputBlock);
  // The filter gives its frames in bursts: the sound lags the chip by up to a burst plus the
  // filter's latency. That lag, found on a second converter fed silence in small blocks, goes
  // ahead of the converted sound as silence, so that Mix never waits for frames still held.
  soxr_t probe = soxr_create(in_rate, out_rate, 2, &error, &io, &quality, nullptr);
  if (error != nullptr) {
    soxr_delete(probe);
    soxr_delete(soxr_);
    soxr_ = nullptr;
    return;
  }
  constexpr size_t kProbeBlock = 64;
  std::vector<StereoFrame> zeros(kProbeBlock, StereoFrame{0, 0});
  std::vector<StereoFrame> sink(4096);
  double lag = 0;
  double made = 0;
  const size_t probe_frames = static_cast<size_t>(in_rate / 4);  // a quarter of a second
  for (size_t fed = 0; fed < probe_frames;) {
    size_t consumed = 0;
    size_t done = 0;
    soxr_process(probe, zeros.data(), kProbeBlock, &consumed, sink.data(), sink.size(), &done);
    fed += consumed;
    made += static_cast<double>(done);
    lag = std::max(lag, static_cast<double>(fed) / ratio_ - made);
    if (consumed == 0 && done == 0) break;
  }
  soxr_delete(probe);
  ready_.assign(static_cast<size_t>(std::ceil(lag)) + kLagMargin, StereoFrame{0, 0});
}

ChipResampler::~ChipResampler() { soxr_delete(soxr_); }

void ChipResampler::Mix(StereoFrame* frames, int32_t count) {
  if (count <= 0) return;
  out_asked_ += static_cast<uint64_t>(count);
  const uint64_t in_target =
      static_cast<uint64_t>(std::floor(static_cast<double>(out_asked_) * ratio_));
  while (in_rendered_ < in_target) {
    const int32_t n =
        static_cast<int32_t>(std::min<uint64_t>(kInputBlock, in_target - in_rendered_));
    std::fill(input_.begin(), input_.begin() + n, StereoFrame{0, 0});
    render_(input_.data(), n);
    in_rendered_ += static_cast<uint64_t>(n);
    // Room for everything this block can give; more rounds while the filter fills it.
    const size_t room = static_cast<size_t>(std::ceil(n / ratio_)) + 64;
    const StereoFrame* in = input_.data();
    size_t left = static_cast<size_t>(n);
    size_t done = 0;
    do {
      const size_t old_size = ready_.size();
      ready_.resize(old_size + room);
      size_t consumed = 0;
      soxr_process(soxr_, in, left, &consumed, ready_.data() + old_size, room, &done);
      ready_.resize(old_size + done);
      in += consumed;
      left -= consumed;
    } while (left > 0 || done == room);
  }
  const size_t available = ready_.size() - ready_start_;
  // Short only if the filter lagged more than the silence ahead allows: the rest stays as it is.
  const size_t n = std::min(available, static_cast<size_t>(count));
  const StereoFrame* src = ready_.data() + ready_start_;
  for (size_t i = 0; i < n; ++i) {
    frames[i].left += src[i].left;
    frames[i].right += src[i].right;
  }
  ready_start_ += n;
  // Keep the queue short: drop what has been handed out once it is most of the buffer.
  if (ready_start_ > 8192 && ready_start_ * 2 > ready_.size()) {
    ready_.erase(ready_.begin(), ready_.begin() + static_cast<ptrdiff_t>(ready_start_));
    ready_start_ = 0;
  }
}
