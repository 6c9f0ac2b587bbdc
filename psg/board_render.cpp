// The board's defined rendering of a Psg: each channel sounds +amp or -amp, its tone and noise
// bits ORed (a source that is switched off reads 0), so a channel with both off sits at -amp;
// a tone above half the output rate counts as off. The board's PSGs always render this way.
#include "psg/channel_render.h"

namespace {

struct BoardPolicy {
  static constexpr uint32_t kOff = 0;
  static constexpr bool kChipNoise = false;
  static constexpr bool kCountersRun = false;
  static uint32_t Gate(uint32_t tone, uint32_t noise) { return tone | noise; }
  // +amp when the wave is high (x = 1), -amp when it is low (x = 0), no branch.
  static int32_t Value(int32_t amp, uint32_t x, uint32_t /*shift*/) {
    const int32_t m = static_cast<int32_t>(x) - 1;
    return (amp + m) ^ m;
  }
  static uint32_t LevelShift(bool /*too_fast*/) { return 1; }
};

}  // namespace

void Psg::MixBoard(StereoFrame* frames, int32_t count) {
  CatchUp();
  steady_left_ = 0;  // MixShort counts it again
  MixWith<BoardPolicy>(frames, count);
}

bool Psg::RenderBoard(PsgSink& sink, int32_t count) {
  CatchUp();
  steady_left_ = 0;
  return RenderWith<BoardPolicy>(sink, count);
}

void Psg::CatchUp() {
  if (pending_ == 0) return;
  // The counters move by the same sums whether a call at a time or all at once; the envelope
  // jumps over the ends of its row as it would sub-sample by sub-sample.
  for (uint32_t c = 0; c < kChannels; ++c) {
    runs_[c].skipped += pending_;
    tone_phase_[c] += pending_ * runs_[c].step;
  }
  AdvanceCounters<BoardPolicy>(any_envelope_, pending_);
  pending_ = 0;
}

void Psg::Unprepare() {
  CatchUp();
  prepared_ = false;
  steady_left_ = 0;
}
