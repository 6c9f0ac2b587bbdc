// What every log a reader accepts must hold, checked on each fuzz input; and a bounded run of
// the player over it. A broken promise aborts, which libFuzzer reports as a crash.
#pragma once

#include <cstdlib>
#include <vector>

#include "music/music_info.h"
#include "music/music_log.h"
#include "player/music_player.h"

class CountingChips : public MusicChips {
 public:
  void Write(uint8_t chip, uint8_t reg, uint8_t) override {
    if (chip > kChipPsg4) std::abort();
    (void)reg;
    ++writes;
  }
  void Mix(StereoFrame* frames, int32_t count) override {
    for (int32_t i = 0; i < count; ++i) frames[i].left += 1;
  }
  uint64_t writes = 0;
};

inline void CheckLog(const MusicLog& log) {
  uint64_t ticks = 0;
  uint64_t loop_ticks = 0;
  for (size_t i = 0; i < log.events.size(); ++i) {
    const MusicEvent& e = log.events[i];
    if (e.ticks == 0 && e.chip > kChipPsg4) std::abort();
    if (e.ticks == 0 && e.chip == kChipOpm && log.opm_clock == 0) std::abort();
    if (e.ticks == 0 && e.chip >= kChipPsg1 && !log.has_psg(e.chip - kChipPsg1)) std::abort();
    ticks += e.ticks;
    if (log.loops() && i >= log.loop_event) loop_ticks += e.ticks;
  }
  if (ticks != log.total_ticks) std::abort();
  if (log.loops() && (log.loop_event >= log.events.size() || loop_ticks != log.loop_ticks ||
                      loop_ticks == 0)) {
    std::abort();
  }
  if (log.ticks_num == 0 || log.ticks_den == 0) std::abort();
  (void)FormatMusicInfo(log);

  // Play a bounded stretch: the loop and the fade at a low rate, every write on the way.
  CountingChips chips;
  MusicPlayer player(log, PlaybackOptions{8000, 2, 0.5}, &chips);
  std::vector<StereoFrame> block(4096);
  uint64_t rendered = 0;
  while (!player.finished() && rendered < (1u << 16)) {
    const int32_t n = player.Render(block.data(), 4096);
    if (n <= 0 || n > 4096) std::abort();
    rendered += static_cast<uint64_t>(n);
  }
  if (player.position() != rendered) std::abort();
}
