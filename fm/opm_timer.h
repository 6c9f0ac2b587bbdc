// Timer section and status byte of the YM2151-compatible FM chip; the base of OpmChip.
//
//   0x10  xxxxxxxx  timer A period, bits 9-2 (NA)
//   0x11  ------xx  timer A period, bits 1-0
//   0x12  xxxxxxxx  timer B period (NB)
//   0x14  x-------  CSM: timer A keys all channels; key-on via 0x08 off, TL writes latched
//         --x-----  reset flag B       ---x----  reset flag A
//         ----x---  IRQ enable B       -----x--  IRQ enable A
//         ------x-  load B             -------x  load A
//   status  ------xx  bit 1 timer B flag, bit 0 timer A flag
//
// Periods are (1024 - NA) and (256 - NB) timer clocks of 64 chip clocks each, kept in units of
// 1/65536 microsecond. As the board is defined, nothing counts the timers down: the counters
// are loaded and cleared, no flag is ever raised and the status reads 0. The CSM bit and the
// flag resets still act.
//
// Counting, when switched on (SetTimersCounting), runs the timers as the chip does, in the time
// of the frames mixed: timer A lasts (1024 - NA) x 64 chip clocks and timer B (256 - NB) x 1024
// (the chip's; the period field above counts B in 64-clock units). A loaded timer reloads at
// every overflow, with the period its registers give then; its flag rises only while its
// enable bit is set; timer A's overflow keys every channel on in CSM mode. Time is kept in
// whole ticks of 1/rate chip clock, so a frame is `clock` ticks and nothing drifts.
#pragma once

#include <cstdint>

class OpmTimer {
 public:
  uint32_t status() const { return status_; }

  // clock_div_64 is the timer clock in Hz; periods already computed keep their value.
  void SetTimerUnit(uint32_t clock_div_64);

  // Sets the given flag bits unless one of them is already set, then raises the interrupt.
  void SetStatus(uint32_t bits);
  // Clears the given flag bits if any is set; drops the interrupt once no flag is left.
  void ResetStatus(uint32_t bits);

  // Off by default. While off, the timers behave exactly as the board defines them.
  void SetTimersCounting(bool on) { counting_ = on; }
  bool timers_counting() const { return counting_; }
  // Advances the loaded timers by `frames` output frames (only while counting).
  void AdvanceTimers(int32_t frames);

  uint32_t timer_control() const { return timer_control_; }
  int32_t timer_a_period() const { return timer_a_period_; }
  int32_t timer_a_count() const { return timer_a_count_; }
  int32_t timer_b_period() const { return timer_b_period_; }
  int32_t timer_b_count() const { return timer_b_count_; }
  int32_t timer_unit() const { return timer_unit_; }

 protected:
  OpmTimer() = default;
  ~OpmTimer() = default;  // never deleted through the base

  // Called for an expired timer A (CSM key-on) and for a change of the interrupt line.
  virtual void TimerAOverflow() = 0;
  virtual void NotifyInterrupt(bool asserted) = 0;

  // Registers 0x10, 0x11, 0x12 and 0x14; data is one byte.
  void WriteTimerRegister(uint32_t address, uint32_t data);
  // Stops both timers and clears the flags without touching the interrupt line.
  void ClearTimers();
  // The time of a frame for counting: clock in Hz, rate in frames a second. A loaded timer
  // keeps the time it has left.
  void SetTimerTime(uint32_t clock, uint32_t rate);
  // CSM mode with timer A loaded: its overflows key the channels on.
  bool CsmKeysOn() const { return (timer_control_ & 0x81) == 0x81; }
  // Frames until timer A's next overflow, between 1 and `limit` (`limit` when none is due by
  // then).
  int32_t FramesToCsmKeyOn(int32_t limit) const;
  bool csm() const { return (timer_control_ & 0x80) != 0; }

 private:
  void UpdateTimerAPeriod();
  // A counting timer's period in ticks, from its registers as they stand.
  int64_t TimerATicks() const;
  int64_t TimerBTicks() const;
  // Takes `elapsed` ticks off a loaded timer; true when it overflowed (then it is reloaded).
  static bool RunDown(int64_t* left, int64_t elapsed, int64_t period);

  uint8_t status_ = 0;
  uint8_t timer_control_ = 0;
  uint8_t timer_a_high_ = 0;
  uint8_t timer_a_low_ = 0;
  uint8_t timer_b_value_ = 0;  // register 0x12 (NB)
  int32_t timer_a_period_ = 0;
  int32_t timer_a_count_ = 0;
  int32_t timer_b_period_ = 0;
  int32_t timer_b_count_ = 0;
  int32_t timer_unit_ = 0;  // one timer clock in 1/65536 microsecond

  bool counting_ = false;
  int64_t frame_ticks_ = 0;   // one output frame: the chip clock in Hz
  int64_t clock_ticks_ = 0;   // one chip clock: the output rate
  int64_t timer_a_left_ = 0;  // ticks to the next overflow of a loaded timer
  int64_t timer_b_left_ = 0;
};
