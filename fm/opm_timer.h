// Timer section and status byte of the YM2151-compatible FM chip, a part of OpmChip.
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
// As the board is defined, nothing counts the timers down: no flag is ever raised and the
// status reads 0. The CSM bit and the flag resets still act.
//
// Counting, when switched on (SetCounting), runs the timers as the chip does, in the time of
// the frames mixed: timer A lasts (1024 - NA) x 64 chip clocks and timer B (256 - NB) x 1024. A
// load bit starts its timer only on its change from 0 to 1; a loaded timer reloads at every
// overflow, with the period its registers give then; its flag rises only while its enable bit
// is set; timer A's overflow is handed to the owner (the CSM key-on). Time is kept in whole
// ticks of 1/rate chip clock, so a frame is `clock` ticks and nothing drifts.
#pragma once

#include <cstdint>

#include "common/state_bytes.h"

class OpmTimer {
 public:
  // What the owner hears: timer A's overflow and a change of the interrupt line. Plain function
  // pointers with the owner as their context, so that a copied owner points its own timer at
  // itself (SetHooks). A null function is not called.
  struct Hooks {
    void* owner = nullptr;
    void (*timer_a_overflow)(void* owner) = nullptr;
    void (*interrupt)(void* owner, bool asserted) = nullptr;
  };
  void SetHooks(const Hooks& hooks) { hooks_ = hooks; }

  // Registers 0x10, 0x11, 0x12 and 0x14; data is one byte; other addresses are ignored.
  void Write(uint32_t address, uint32_t data);
  uint32_t status() const { return status_; }
  // Drops the time left and the flags without touching the interrupt line (the chip's reset
  // has written 0 to register 0x14 before, which stops both timers).
  void Clear();

  // The time of a frame for counting: clock in Hz, rate in frames a second (0 is ignored). A
  // loaded timer keeps the time it has left.
  void SetTime(uint32_t clock, uint32_t rate);
  // Off by default. While off, the timers behave exactly as the board defines them.
  void SetCounting(bool on) { counting_ = on; }
  bool counting() const { return counting_; }
  // Advances the loaded timers by `frames` output frames (only while counting).
  void Advance(int32_t frames);

  // Registers, flags, the counting switch, the time of a frame and the time each timer has left.
  void Save(StateWriter& out) const;
  void Load(StateReader& in);

  bool csm() const { return (control_ & 0x80) != 0; }
  // CSM mode with timer A loaded and counting: its overflows key the channels on.
  bool CsmKeysOn() const { return counting_ && (control_ & 0x81) == 0x81; }
  // Frames until timer A's next overflow, between 1 and `limit` (`limit` when none is due by
  // then).
  int32_t FramesToCsmKeyOn(int32_t limit) const;

 private:
  // Sets the given flag bits unless one of them is already set, then raises the interrupt.
  void SetStatus(uint32_t bits);
  // Clears the given flag bits if any is set; drops the interrupt once no flag is left.
  void ResetStatus(uint32_t bits);
  // A counting timer's period in ticks, from its registers as they stand.
  int64_t TimerATicks() const;
  int64_t TimerBTicks() const;
  // Takes `elapsed` ticks off a loaded timer; true when it overflowed (then it is reloaded).
  static bool RunDown(int64_t* left, int64_t elapsed, int64_t period);

  Hooks hooks_;
  uint8_t status_ = 0;
  uint8_t control_ = 0;        // register 0x14
  uint8_t timer_a_high_ = 0;   // register 0x10: NA bits 9-2
  uint8_t timer_a_low_ = 0;    // register 0x11: NA bits 1-0
  uint8_t timer_b_value_ = 0;  // register 0x12 (NB)
  bool counting_ = false;
  int64_t frame_ticks_ = 0;    // one output frame: the chip clock in Hz
  int64_t clock_ticks_ = 0;    // one chip clock: the output rate
  int64_t timer_a_left_ = 0;   // ticks to the next overflow of a loaded timer
  int64_t timer_b_left_ = 0;
};
