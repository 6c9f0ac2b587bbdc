// S98 version 3 writer. The header names every device in a fixed order, so that the command
// byte of a chip never changes:
//
//   0x00 "S983"   0x04 timer numerator   0x08 timer denominator (a sync lasts num/den s)
//   0x0C 0        0x10 tag offset (0 until the end)   0x14 dump data offset   0x18 no loop (0)
//   0x1C device count 5, then 16-byte records {type, clock Hz, pan 0, 0}:
//        device 0  type 5 YM2151 (OPM)      commands 00 aa dd
//        device n  type 1 PSG (YM2149)      commands 2n aa dd, n = 1..4 for PSG 1..4
//   waits  FF one sync,  FE vv.. (n - 2 in 7-bit groups, low group first)   end  FD
//   tag    "[S98]", the UTF-8 byte-order mark, key=value lines ended by 0x0A, then 0x00
#pragma once

#include "reglog/log_writer.h"

struct S98Layout {
  uint32_t timer_num = 1;        // a sync lasts timer_num / timer_den seconds
  uint32_t timer_den = 44100;
  uint32_t opm_clock = 0;
  uint32_t psg_clock[kMusicPsgCount] = {};
};

class S98Writer final : public RegisterLogWriter {
 public:
  static constexpr size_t kHeaderSize = 0x20 + 5 * 16;

  explicit S98Writer(const S98Layout& layout) : layout_(layout) {}

  // The timer may be set until the first wait: the header is rebuilt from it.
  void SetTimer(uint32_t num, uint32_t den) {
    layout_.timer_num = num;
    layout_.timer_den = den;
  }

  void Wait(uint64_t ticks) override;
  bool Write(uint8_t chip, uint8_t reg, uint8_t data) override;
  void Finish(const LogTag& tag) override;
  std::vector<uint8_t> Header() const override;

 private:
  S98Layout layout_;
  uint64_t tag_offset_ = 0;   // 0 until Finish
};
