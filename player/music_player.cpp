#include "player/music_player.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

uint64_t MulDiv64(uint64_t a, uint64_t b, uint64_t c) {
  // The 128-bit product in two halves, then a long division by c, one bit at a time.
  const uint64_t a_lo = a & 0xFFFFFFFFu, a_hi = a >> 32;
  const uint64_t b_lo = b & 0xFFFFFFFFu, b_hi = b >> 32;
  const uint64_t p0 = a_lo * b_lo, p1 = a_lo * b_hi, p2 = a_hi * b_lo, p3 = a_hi * b_hi;
  const uint64_t mid = (p0 >> 32) + (p1 & 0xFFFFFFFFu) + (p2 & 0xFFFFFFFFu);
  const uint64_t lo = (p0 & 0xFFFFFFFFu) | (mid << 32);
  const uint64_t hi = p3 + (p1 >> 32) + (p2 >> 32) + (mid >> 32);
  if (hi == 0) return lo / c;
  if (hi >= c) return UINT64_MAX;
  uint64_t rem = hi;
  uint64_t quot = 0;
  for (int i = 63; i >= 0; --i) {
    const bool carry = (rem >> 63) != 0;
    rem = (rem << 1) | ((lo >> i) & 1);
    quot <<= 1;
    if (carry || rem >= c) {
      rem -= c;
      quot |= 1;
    }
  }
  return quot;
}

namespace {

// More writes a second of the looped part than any chip's bus takes (a YM2151 takes one every
// few microseconds): replaying such a part pass after pass would cost time without bound.
constexpr double kMaxLoopWritesPerSecond = 1'000'000;

bool IsDenseLoop(const MusicLog& log) {
  uint64_t writes = 0;
  for (size_t i = log.loop_event; i < log.events.size(); ++i) {
    if (log.events[i].ticks == 0) ++writes;
  }
  return static_cast<double>(writes) > kMaxLoopWritesPerSecond * log.seconds(log.loop_ticks);
}

}  // namespace

MusicPlayer::MusicPlayer(const MusicLog& log, const PlaybackOptions& options, MusicChips* chips)
    : log_(log), chips_(chips), lead_(chips != nullptr ? chips->lead() : 0) {
  // frame = tick * rate / (ticks-per-second * speed)
  //       = tick * rate * ticks_den * 1000 / (ticks_num * speed in thousandths).
  constexpr uint64_t kSpeedUnit = 1000;
  const auto speed = static_cast<uint64_t>(
      std::llround(std::clamp(options.speed, 1.0 / kSpeedUnit, 1000.0) * kSpeedUnit));
  uint64_t mul = uint64_t{options.rate} * std::max<uint64_t>(log.ticks_den, 1) * kSpeedUnit;
  uint64_t div = std::max<uint64_t>(log.ticks_num, 1) * speed;
  const uint64_t g = std::gcd(mul, div);
  frame_mul_ = mul / g;
  frame_div_ = div / g;

  // A loop with no time in it would repeat without end; the readers never give one.
  looping_ = options.loops != 0 && log.loops() && log.loop_ticks > 0 &&
             log.loop_event < log.events.size();
  forever_ = looping_ && options.loops == PlaybackOptions::kLoopForever;
  uint64_t song_ticks = log.total_ticks;
  if (looping_ && !forever_) {
    // The file may scale the requested count (modifier / 16) and take some off (base).
    const int64_t passes = int64_t{options.loops} * log.loop_modifier / 16 - log.loop_base;
    loop_passes_ = static_cast<int>(std::clamp<int64_t>(passes, 1, 1 << 20));
    // Saturating: a song that long is cut by max_seconds or refused by the caller.
    const uint64_t repeats = MulDiv64(static_cast<uint64_t>(loop_passes_ - 1), log.loop_ticks, 1);
    song_ticks = song_ticks > UINT64_MAX - repeats ? UINT64_MAX : song_ticks + repeats;
  }
  if (looping_) {
    if (options.fade_seconds > 0) {
      fade_frames_ = static_cast<uint64_t>(std::llround(options.fade_seconds * options.rate));
    }
    dense_loop_ = IsDenseLoop(log);
  }
  SetEnd(options, song_ticks);
}

MusicPlayer::MusicPlayer(const MusicPlayer& other, MusicChips* chips) : MusicPlayer(other) {
  chips_ = chips;
}

void MusicPlayer::SetEnd(const PlaybackOptions& options, uint64_t song_ticks) {
  start_ = static_cast<uint64_t>(std::llround(options.start_seconds * options.rate));
  if (forever_) {
    fade_start_ = fade_end_ = length_ = UINT64_MAX;
  } else {
    fade_start_ = FrameOf(song_ticks);
    fade_end_ = fade_start_ > UINT64_MAX - fade_frames_ ? UINT64_MAX : fade_start_ + fade_frames_;
    length_ = fade_end_;
  }
  if (options.max_seconds > 0) {
    const double cut = static_cast<double>(start_) + options.max_seconds * options.rate;
    if (cut < static_cast<double>(length_)) {
      length_ = static_cast<uint64_t>(std::llround(cut));
      if (forever_) {
        // A loop that repeats until the cut fades out as the cut comes.
        fade_frames_ = std::min(fade_frames_, length_);
        fade_end_ = length_;
        fade_start_ = length_ - fade_frames_;
      }
    }
  }
  start_ = std::min(start_, length_);
}

uint64_t MusicPlayer::FrameOf(uint64_t tick) const { return MulDiv64(tick, frame_mul_, frame_div_); }

void MusicPlayer::Step() {
  const auto& events = log_.events;
  if (index_ >= events.size()) {
    if (!looping_) {
      events_done_ = true;
      return;
    }
    index_ = log_.loop_event;
  }
  if (looping_ && index_ == log_.loop_event) {
    ++current_pass_;
    if (dense_loop_ && current_pass_ > 1) {
      tick_ += log_.loop_ticks;
      index_ = events.size();
      return;
    }
  }
  const MusicEvent& e = events[index_++];
  if (e.ticks != 0) {
    tick_ += e.ticks;
  } else {
    chips_->Write(e.chip, e.reg, e.data);
  }
}

void MusicPlayer::Fade(StereoFrame* frames, int32_t count) const {
  if (fade_frames_ == 0 || position_ + static_cast<uint64_t>(count) <= fade_start_) return;
  for (int32_t i = 0; i < count; ++i) {
    const uint64_t frame = position_ + static_cast<uint64_t>(i);
    if (frame < fade_start_) continue;
    // Linear, from full at the fade's first frame to nothing after its last.
    const int64_t left = static_cast<int64_t>(fade_end_ - frame);
    const auto span = static_cast<int64_t>(fade_frames_);
    frames[i].left = static_cast<int32_t>(frames[i].left * left / span);
    frames[i].right = static_cast<int32_t>(frames[i].right * left / span);
  }
}

void MusicPlayer::Run(StereoFrame* frames, int32_t count) {
  int32_t done = 0;
  while (done < count) {
    // Everything due at this frame of the chips' time is written before the frame is rendered.
    while (!events_done_ && FrameOf(tick_) <= chip_time_) Step();
    uint64_t n = static_cast<uint64_t>(count - done);
    if (!events_done_) n = std::min(n, FrameOf(tick_) - chip_time_);
    chips_->Mix(frames + done, static_cast<int32_t>(n));
    done += static_cast<int32_t>(n);
    chip_time_ += n;
  }
}

void MusicPlayer::RunLead() {
  if (chip_time_ >= lead_) return;
  // The chips start lead_ frames ahead: what they give for that stretch is the converters'
  // latency, and goes nowhere.
  std::vector<StereoFrame> scratch(static_cast<size_t>(std::min<uint64_t>(lead_, 4096)));
  while (chip_time_ < lead_) {
    const auto n = static_cast<int32_t>(std::min<uint64_t>(lead_ - chip_time_, scratch.size()));
    std::fill(scratch.begin(), scratch.begin() + n, StereoFrame{0, 0});
    Run(scratch.data(), n);
  }
}

void MusicPlayer::SkipTo(uint64_t frame) {
  begun_ = true;
  frame = std::min(frame, length_);
  if (frame <= position_) return;
  RunLead();
  std::vector<StereoFrame> scratch(static_cast<size_t>(std::min<uint64_t>(frame - position_, 4096)));
  while (position_ < frame) {
    const auto n = static_cast<int32_t>(std::min<uint64_t>(frame - position_, scratch.size()));
    std::fill(scratch.begin(), scratch.begin() + n, StereoFrame{0, 0});
    Run(scratch.data(), n);
    position_ += static_cast<uint64_t>(n);
  }
}

int32_t MusicPlayer::Render(StereoFrame* frames, int32_t count) {
  if (count <= 0) return 0;
  if (!begun_) SkipTo(start_);
  RunLead();
  std::memset(frames, 0, sizeof(StereoFrame) * static_cast<size_t>(count));
  const auto n = static_cast<int32_t>(
      std::min<uint64_t>(length_ - std::min(position_, length_), static_cast<uint64_t>(count)));
  Run(frames, n);
  Fade(frames, n);
  position_ += static_cast<uint64_t>(n);
  return n;
}
