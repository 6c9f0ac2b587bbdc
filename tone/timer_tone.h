// Interval-timer tone generator: three square-wave voices from the three 16-bit counters of an
// 8253-style programmable interval timer clocked at 3993600 Hz.
//
//   port 0x02  ----x---  tone output enable (other bits ignored)
//   port 0x0C  xxxxxxxx  counter 0 data byte (low / high as the access mode says)
//   port 0x0D  xxxxxxxx  counter 1 data byte
//   port 0x0E  xxxxxxxx  counter 2 data byte
//   port 0x0F  xx------  select counter 0-2 (3: ignored)
//              --xx----  access: 0 stop, 1 low byte, 2 high byte, 3 low then high
//              ----xxx-  mode (ignored), -------x BCD (ignored)
//
// Counts are kept in fixed point, count x 32768, so that the per-sample step (clock x 32768 /
// rate) keeps the fractional part of the clock-to-rate ratio.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vyx/stereo_frame.h"

class TimerTone {
 public:
  static constexpr int kVoices = 3;

  TimerTone();

  // clock in Hz (the board passes 3993600), rate in frames per second; a rate of 0 is ignored.
  void SetRate(uint32_t clock, uint32_t rate);
  // Volume settings in half-decibel steps, 0 = unity, -40 and below = silent.
  void SetVolume(int voice, int32_t setting);
  void SetAllVolumes(int32_t setting);
  void Reset();
  // Returns true when the enable state changed.
  bool SetOutputEnable(bool on);
  void WriteControl(uint32_t value);
  void WriteCounter(int index, uint32_t value);
  // Adds count frames of the three voices into frames, the same on both sides.
  void Mix(StereoFrame* frames, int32_t count);
  // The whole state as bytes (common/state_bytes.h): rate and step, the output switch, and each
  // voice's period, access mode, counter, volume and byte pairing.
  std::vector<uint8_t> Save() const;
  // Takes a state that Save made. A damaged, truncated or foreign one is refused (false) and
  // the generator stays as it was.
  bool Restore(const uint8_t* data, size_t size);

 private:
  struct Voice {
    int32_t period = 0;       // count x 32768: low byte in bits 15-22, high byte in bits 23-30
    int32_t access_mode = 0;  // 1 low, 2 high, 3 low then high, 0 stopped
    int32_t counter = 0;      // running phase, same fixed point as period
    int32_t volume = 256;     // linear factor: 0, or 61..356 over the settings range
    bool high_byte_next = false;
  };

  // A voice's output level while its wave is high.
  int32_t Level(const Voice& voice) const;
  // Mix of one frame: each voice's level while its counter is below half its period, then one
  // step of the counter.
  void MixFrame(StereoFrame& frame);

  int32_t rate_ = 0;
  int32_t step_ = 0;  // counts x 32768 each running counter moves a frame: clock x 32768 / rate
  bool output_enabled_ = false;
  Voice voices_[kVoices];
};
