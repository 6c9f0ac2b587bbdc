#include "control/board_control.h"

void BoardControl::Reset() {
  active_ = false;
  select_ = 0;
  control_ = 0;
  changed_ = 0;
  read_80_ = 0;
  read_82_ = 2;
  read_84_[0] = 0;   // select 3
  read_84_[1] = 64;  // select 5
  read_84_[2] = 0;   // select 6
  read_84_[3] = 0;   // select 7
  read_84_other_ = 255;
  read_86_[0] = 0;    // select 1
  read_86_[1] = 0;    // select 3
  read_86_[2] = 255;  // select 9
  read_86_other_ = 255;
}

uint32_t BoardControl::Read(uint32_t reg) const {
  switch (reg & 15) {
    case 0:
      return read_80_;
    case 2:
      return read_82_;
    case 4:
      switch (select_) {
        case 3: return read_84_[0];
        case 5: return read_84_[1];
        case 6: return read_84_[2];
        case 7: return read_84_[3];
        default: return read_84_other_;
      }
    case 6:
      switch (select_) {
        case 1: return read_86_[0];
        case 3: return read_86_[1];
        case 9: return read_86_[2];
        default: return read_86_other_;
      }
    default:
      return 255;
  }
}

void BoardControl::Write(uint32_t reg, uint32_t value) {
  switch (reg & 15) {
    case 1:
      if (active_ && (value & 0x80) == 0) Reset();
      active_ = (value & 0x80) != 0;
      select_ = value & 15;
      break;
    case 6:
      if (select_ == 0) {
        changed_ = value ^ control_;
        control_ = value;
      }
      break;
    default:
      break;  // registers 3, 4, 5 and 7 have no function
  }
}

BoardControl::InterruptChange BoardControl::ControlWrite(uint32_t reg, uint32_t value) {
  Write(reg, value);
  const uint32_t c = changed_;
  changed_ = 0;
  return (c & 2) != 0 && (control_ & 2) != 0 ? InterruptChange::kSwitchedOn
                                             : InterruptChange::kNone;
}

void BoardControl::PeriodicInterrupt(void* owner, VyxEventRoutine routine) {
  if ((control_ & 2) == 0) return;  // switched off: the periodic interrupt ends here
  if (ports_ == nullptr || timer_queue_ == nullptr) return;
  ports_->Out(interrupt_port_, 1);
  timer_queue_->RemoveEvents(owner);
  timer_queue_->AddEvent(kPeriod, owner, routine, 1, 0);
}
