// Where Psg::Render puts the three channels of a block, for an output stage that places, filters
// or converts them itself. Rendered one block at a time: the Psg fills the storage below for up
// to kBlockFrames frames, then calls Block(frames).
//
// Untimed (timed false): sums[c][i] is channel c's four sub-samples of frame i, summed.
// Timed (timed true): changes[c] lists every level channel c takes in the block, in time order,
// at the time it takes it; a level may repeat the one before. Time counts in 1/256 of a
// sub-sample from the block's start (1024 a frame); a change at the block's end carries into the
// next. The first change of a channel in a block may repeat the level it ended the block before.
#pragma once

#include <cstdint>
#include <vector>

struct PsgChange {
  uint32_t time;  // 1/256 sub-sample from the block's start
  int32_t level;
};

class PsgSink {
 public:
  static constexpr uint32_t kChannels = 3;
  static constexpr int32_t kBlockFrames = 1024;
  // A change a sub-sample at most, and the level the block ends on.
  static constexpr uint32_t kMaxChanges = 4 * kBlockFrames + 1;

  explicit PsgSink(bool timed_changes) : timed(timed_changes) {
    if (timed) {
      for (auto& list : changes) list.resize(kMaxChanges);
    }
  }
  virtual ~PsgSink() = default;
  PsgSink(const PsgSink&) = default;
  PsgSink& operator=(const PsgSink&) = default;

  // The block's frames are in the storage: take them.
  virtual void Block(int32_t frames) = 0;

  bool timed;
  int32_t sums[kChannels][kBlockFrames];
  std::vector<PsgChange> changes[kChannels];
  uint32_t change_count[kChannels] = {};
};
