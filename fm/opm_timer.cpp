#include "fm/opm_timer.h"

#include "fm/fm_convert.h"

void OpmTimer::SetTimerUnit(uint32_t clock_div_64) {
  // A clock below 64 Hz (division by zero) or below about 31 Hz of timer clock would leave the
  // 32-bit range: such units saturate.
  timer_unit_ = SaturateToInt32(65536000000.0 / static_cast<double>(clock_div_64));
}

void OpmTimer::SetStatus(uint32_t bits) {
  if (status_ & bits) return;
  status_ = static_cast<uint8_t>(status_ | bits);
  NotifyInterrupt(true);
}

void OpmTimer::ResetStatus(uint32_t bits) {
  if ((status_ & bits) == 0) return;
  status_ = static_cast<uint8_t>(status_ & ~bits);
  if (status_ == 0) NotifyInterrupt(false);
}

void OpmTimer::UpdateTimerAPeriod() {
  int64_t na = timer_a_high_ * 4 + (timer_a_low_ & 3);
  timer_a_period_ = SaturateToInt32((1024 - na) * timer_unit_);
}

void OpmTimer::WriteTimerRegister(uint32_t address, uint32_t data) {
  data &= 0xFF;
  switch (address) {
    case 0x10:
      timer_a_high_ = static_cast<uint8_t>(data);
      UpdateTimerAPeriod();
      break;
    case 0x11:
      timer_a_low_ = static_cast<uint8_t>(data);
      UpdateTimerAPeriod();
      break;
    case 0x12:
      timer_b_period_ = SaturateToInt32((256 - static_cast<int64_t>(data)) * timer_unit_);
      break;
    case 0x14: {
      uint32_t previous = timer_control_;
      timer_control_ = static_cast<uint8_t>(data);
      if (data & 0x10) ResetStatus(1);
      if (data & 0x20) ResetStatus(2);
      // A load bit loads its counter only on its change from 0 to 1.
      uint32_t changed = previous ^ data;
      if (changed & 1) timer_a_count_ = (data & 1) ? timer_a_period_ : 0;
      if (changed & 2) timer_b_count_ = (data & 2) ? timer_b_period_ : 0;
      break;
    }
    default:
      break;
  }
}

void OpmTimer::ClearTimers() {
  timer_a_count_ = 0;
  timer_b_count_ = 0;
  status_ = 0;
}
