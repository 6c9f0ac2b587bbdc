// VGM 1.71 writer: one YM2151 and two YM2149s (the dual-chip bit), waits in samples at
// 44100 Hz.
//
//   0x00 "Vgm "   0x04 end-of-file offset (relative)   0x08 version 0x171
//   0x14 GD3 offset (relative, 0 until the end)   0x18 total samples   0x1C no loop (0)
//   0x30 YM2151 clock   0x34 data offset (relative: data at 0x100)
//   0x74 PSG clock, bit 30 = two chips   0x78 type 0x10 (YM2149)   0x79 flags 0x01
//   commands  54 aa dd  YM2151     A0 aa dd  PSG 1 (aa < 0x80), PSG 2 (aa | 0x80)
//   waits     7n  n+1 samples      61 nn nn  up to 65535 samples          end  66
//   GD3       "Gd3 ", 0x100, length, eleven UTF-16LE strings ended by 0
#pragma once

#include "reglog/log_writer.h"

struct VgmLayout {
  uint32_t opm_clock = 0;
  uint32_t psg_clock = 0;   // the PSGs' master clock; both run at it
};

class VgmWriter final : public RegisterLogWriter {
 public:
  static constexpr size_t kHeaderSize = 0x100;
  static constexpr uint64_t kSampleRate = 44100;

  explicit VgmWriter(const VgmLayout& layout) : layout_(layout) {}

  void Wait(uint64_t ticks) override;
  // PSG 3 and 4 have no place: false. So has a PSG register of 0x80 and above.
  bool Write(uint8_t chip, uint8_t reg, uint8_t data) override;
  void Finish(const LogTag& tag) override;
  std::vector<uint8_t> Header() const override;

 private:
  VgmLayout layout_;
  uint64_t gd3_offset_ = 0;   // absolute; 0 until Finish
};
