#include "fm/opm_timer.h"

#include <algorithm>

void OpmTimer::SetStatus(uint32_t bits) {
  if (status_ & bits) return;
  status_ = static_cast<uint8_t>(status_ | bits);
  if (hooks_.interrupt != nullptr) hooks_.interrupt(hooks_.owner, true);
}

void OpmTimer::ResetStatus(uint32_t bits) {
  if ((status_ & bits) == 0) return;
  status_ = static_cast<uint8_t>(status_ & ~bits);
  if (status_ == 0 && hooks_.interrupt != nullptr) hooks_.interrupt(hooks_.owner, false);
}

void OpmTimer::Write(uint32_t address, uint32_t data) {
  data &= 0xFF;
  switch (address) {
    case 0x10: timer_a_high_ = static_cast<uint8_t>(data); break;
    case 0x11: timer_a_low_ = static_cast<uint8_t>(data); break;
    case 0x12: timer_b_value_ = static_cast<uint8_t>(data); break;
    case 0x14: {
      const uint32_t previous = control_;
      control_ = static_cast<uint8_t>(data);
      if (data & 0x10) ResetStatus(1);
      if (data & 0x20) ResetStatus(2);
      // A load bit starts its timer only on its change from 0 to 1, with the period of then.
      const uint32_t started = (previous ^ data) & data;
      if (started & 1) timer_a_left_ = TimerATicks();
      if (started & 2) timer_b_left_ = TimerBTicks();
      break;
    }
    default: break;  // not a timer register
  }
}

void OpmTimer::Clear() {
  timer_a_left_ = 0;
  timer_b_left_ = 0;
  status_ = 0;
}

void OpmTimer::SetTime(uint32_t clock, uint32_t rate) {
  if (rate == 0) return;
  // Time left keeps its length: ticks of 1/old rate become ticks of 1/new rate, rounded.
  // In two parts, so that no product leaves 64 bits: a timer has less than 2^19 clocks left.
  if (clock_ticks_ != 0 && clock_ticks_ != rate) {
    const auto old_rate = static_cast<uint64_t>(clock_ticks_);
    for (int64_t* left : {&timer_a_left_, &timer_b_left_}) {
      const auto ticks = static_cast<uint64_t>(std::max<int64_t>(*left, 0));
      const uint64_t clocks = ticks / old_rate;
      const uint64_t part = ((ticks % old_rate) * rate + old_rate / 2) / old_rate;
      *left = static_cast<int64_t>(clocks * rate + part);
    }
  }
  frame_ticks_ = clock;
  clock_ticks_ = rate;
}

int64_t OpmTimer::TimerATicks() const {
  const int64_t na = timer_a_high_ * 4 + (timer_a_low_ & 3);
  return (1024 - na) * 64 * clock_ticks_;
}

int64_t OpmTimer::TimerBTicks() const {
  return (256 - int64_t{timer_b_value_}) * 1024 * clock_ticks_;
}

bool OpmTimer::RunDown(int64_t* left, int64_t elapsed, int64_t period) {
  if (period <= 0) return false;  // no time of a frame yet
  if (elapsed < *left) {
    *left -= elapsed;
    return false;
  }
  // Every overflow within the stretch reloads; the flag and the key-on act once for them all.
  *left = period - (elapsed - *left) % period;
  return true;
}

int32_t OpmTimer::FramesToCsmKeyOn(int32_t limit) const {
  if (frame_ticks_ <= 0) return limit;
  const int64_t frames = (timer_a_left_ + frame_ticks_ - 1) / frame_ticks_;
  return static_cast<int32_t>(std::clamp<int64_t>(frames, 1, limit));
}

void OpmTimer::Advance(int32_t frames) {
  if (!counting_ || frames <= 0) return;
  const int64_t elapsed = frames * frame_ticks_;
  if ((control_ & 1) && RunDown(&timer_a_left_, elapsed, TimerATicks())) {
    if (control_ & 4) SetStatus(1);
    if (hooks_.timer_a_overflow != nullptr) hooks_.timer_a_overflow(hooks_.owner);
  }
  if ((control_ & 2) && RunDown(&timer_b_left_, elapsed, TimerBTicks())) {
    if (control_ & 8) SetStatus(2);
  }
}

void OpmTimer::Save(StateWriter& out) const {
  out.U8(status_);
  out.U8(control_);
  out.U8(timer_a_high_);
  out.U8(timer_a_low_);
  out.U8(timer_b_value_);
  out.Bool(counting_);
  out.I64(frame_ticks_);
  out.I64(clock_ticks_);
  out.I64(timer_a_left_);
  out.I64(timer_b_left_);
}

void OpmTimer::Load(StateReader& in) {
  status_ = static_cast<uint8_t>(in.U8(0, 3));
  control_ = static_cast<uint8_t>(in.U8());
  timer_a_high_ = static_cast<uint8_t>(in.U8());
  timer_a_low_ = static_cast<uint8_t>(in.U8());
  timer_b_value_ = static_cast<uint8_t>(in.U8());
  counting_ = in.Bool();
  frame_ticks_ = in.I64(0, UINT32_MAX);  // a clock in Hz
  clock_ticks_ = in.I64(0, UINT32_MAX);  // a rate in frames a second
  // At most the longest period: 1024 x 64 clocks for A, 256 x 1024 for B.
  timer_a_left_ = in.I64(0, 1024 * 64 * clock_ticks_);
  timer_b_left_ = in.I64(0, 256 * 1024 * clock_ticks_);
}
