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

void Psg::MixBoard(StereoFrame* frames, int32_t count) { MixWith<BoardPolicy>(frames, count); }

bool Psg::RenderBoard(PsgSink& sink, int32_t count) { return RenderWith<BoardPolicy>(sink, count); }
