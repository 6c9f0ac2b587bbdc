#include "control/board_control.h"

#include "common/state_bytes.h"

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
  armed_ = false;  // the event that called, if any, has expired
  if ((control_ & 2) == 0) return;  // switched off: the periodic interrupt ends here
  if (ports_ == nullptr || timer_queue_ == nullptr) return;
  ports_->Out(interrupt_port_, 1);
  timer_queue_->RemoveEvents(owner);
  timer_queue_->AddEvent(kPeriod, owner, routine, 1, 0);
  armed_ = true;
}

namespace {

constexpr uint32_t kStateMagic = StateMagic("VCTL");
constexpr uint16_t kStateVersion = 1;

}  // namespace

std::vector<uint8_t> BoardControl::Save() const {
  StateWriter w(kStateMagic, kStateVersion);
  w.Bool(active_);
  w.U8(static_cast<uint8_t>(select_));
  w.U32(control_);
  w.U32(changed_);
  w.Bool(armed_);
  w.U8(read_80_);
  w.U8(read_82_);
  for (uint8_t v : read_84_) w.U8(v);
  w.U8(read_84_other_);
  for (uint8_t v : read_86_) w.U8(v);
  w.U8(read_86_other_);
  return w.Finish();
}

bool BoardControl::Restore(const uint8_t* data, size_t size) {
  StateReader r(data, size, kStateMagic, kStateVersion);
  BoardControl s = *this;  // the state decoded, taken only whole; the bindings stay
  s.active_ = r.Bool();
  s.select_ = r.U8(0, 15);
  s.control_ = r.U32();
  s.changed_ = r.U32();
  s.armed_ = r.Bool();
  s.read_80_ = r.U8();
  s.read_82_ = r.U8();
  for (uint8_t& v : s.read_84_) v = r.U8();
  s.read_84_other_ = r.U8();
  for (uint8_t& v : s.read_86_) v = r.U8();
  s.read_86_other_ = r.U8();
  if (!r.Finish()) return false;
  *this = s;
  return true;
}
