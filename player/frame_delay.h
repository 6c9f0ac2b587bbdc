// FrameDelay: holds a chip's frames back by a fixed number of frames, so that chips whose
// renderings come out with different latencies reach the output together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vyx/stereo_frame.h"

class FrameDelay {
 public:
  explicit FrameDelay(size_t frames = 0) : ring_(frames, StereoFrame{0, 0}) {}
  size_t frames() const { return ring_.size(); }
  // Adds into out[0, count) the frames given ring_.size() frames ago, and keeps in[0, count).
  void Pass(const StereoFrame* in, StereoFrame* out, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
      StereoFrame& held = ring_[next_];
      out[i].left = Add(out[i].left, held.left);
      out[i].right = Add(out[i].right, held.right);
      held = in[i];
      if (++next_ == ring_.size()) next_ = 0;
    }
  }

 private:
  // Wraps around past the int32 range, as the chips' own sums do.
  static int32_t Add(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
  }

  std::vector<StereoFrame> ring_;
  size_t next_ = 0;
};
