// Board control registers at ports 0x80-0x87: fixed read-back values and a periodic interrupt.
//
//   port 0x81 (write)  x------- active; a write with this bit 0 while active resets the block
//                      ----xxxx select: the register that ports 0x84 and 0x86 read
//   port 0x86 (write)  ------x- periodic interrupt on (only while select is 0)
//   port 0x80 (read)   0
//   port 0x82 (read)   2
//   port 0x84 (read)   select 3, 6, 7: 0; select 5: 64; otherwise 255
//   port 0x86 (read)   select 1, 3: 0; otherwise 255 (the control register is write-only)
//   ports 0x83, 0x84, 0x85, 0x87 (write): no function
//
// While the interrupt is on, the board writes 1 to the host's interrupt-request port at once and
// then every 3120 host time units, re-arming one timer-queue event each time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vyx/vyx.h"

class BoardControl {
 public:
  static constexpr int32_t kPeriod = 3120;  // host time units between interrupts

  // What a control write did to the periodic interrupt.
  enum class InterruptChange { kNone, kSwitchedOn };

  BoardControl() { Reset(); }

  // Host services used by the periodic interrupt; any may be null (then nothing is raised).
  void Bind(HostPorts* ports, uint32_t interrupt_port, HostTimerQueue* timer_queue) {
    ports_ = ports;
    interrupt_port_ = interrupt_port;
    timer_queue_ = timer_queue;
  }

  void Reset();
  uint32_t Read(uint32_t reg) const;
  void Write(uint32_t reg, uint32_t value);
  // The control-write steps of the ports 0x81, 0x83-0x87 handler: the write, then the
  // interrupt check. kSwitchedOn when the interrupt bit has just been switched on: the caller
  // then runs PeriodicInterrupt at once.
  InterruptChange ControlWrite(uint32_t reg, uint32_t value);
  // The timer-queue event: raise the interrupt and re-arm. `owner` is the device that owns the
  // events and `routine` the device's call-back that forwards here.
  void PeriodicInterrupt(void* owner, VyxEventRoutine routine);

  // The whole state as bytes (common/state_bytes.h): the registers and read-back values, and
  // the periodic interrupt's switch and whether an event of it is pending in the host's queue.
  // The host services stay as bound.
  std::vector<uint8_t> Save() const;
  // An event of the periodic interrupt is pending in the host's queue.
  bool armed() const { return armed_; }
  // Takes a state that Save made. A damaged, truncated or foreign one is refused (false) and
  // the block stays as it was. A state taken while an event was pending still expects its
  // call-back: the host's queue holds the event's time.
  bool Restore(const uint8_t* data, size_t size);

 private:
  bool active_ = false;
  uint32_t select_ = 0;
  uint32_t control_ = 0;
  uint32_t changed_ = 0;
  bool armed_ = false;  // an event of the periodic interrupt is pending in the host's queue
  // Read-back values: port 0x80, 0x82, port 0x84 with select 3/5/6/7, port 0x86 with select 1/3/9.
  uint8_t read_80_ = 0;
  uint8_t read_82_ = 0;
  uint8_t read_84_[4] = {};
  uint8_t read_84_other_ = 0;
  uint8_t read_86_[3] = {};
  uint8_t read_86_other_ = 0;

  HostPorts* ports_ = nullptr;
  uint32_t interrupt_port_ = 0;
  HostTimerQueue* timer_queue_ = nullptr;
};
