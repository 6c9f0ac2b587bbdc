// The voices the benchmarks keep busy: eight FM channels, and a PSG's three channels.
#pragma once

#include <cstdint>

#include "fm/opm_chip.h"
#include "psg/psg.h"

// Eight held notes, one algorithm each, feedback 3, both outputs. D2R 0 keeps them sounding.
inline void SetUpFmVoices(OpmChip& chip, bool lfo) {
  chip.Init(3993600, 44100);
  chip.SetVolume(0);
  if (lfo) {
    chip.Write(0x18, 0xC8);
    chip.Write(0x19, 0x40);  // AMD
    chip.Write(0x19, 0xC0);  // PMD
    chip.Write(0x1B, 2);     // triangle
  }
  for (uint32_t ch = 0; ch < 8; ++ch) {
    chip.Write(0x20 + ch, 0xC0 | (3 << 3) | ch);
    chip.Write(0x28 + ch, 0x30 + ch * 0x0D % 0x40);
    chip.Write(0x30 + ch, ch * 28);
    chip.Write(0x38 + ch, lfo ? 0x52 : 0x00);  // PMS 5, AMS 2
    for (uint32_t slot = 0; slot < 4; ++slot) {
      uint32_t base = slot * 8 + ch;
      chip.Write(0x40 + base, (slot + 1) & 15);
      chip.Write(0x60 + base, slot == 3 ? 0x00 : 0x18);
      chip.Write(0x80 + base, 0x1F);
      chip.Write(0xA0 + base, (lfo ? 0x80 : 0x00) | 0x05);
      chip.Write(0xC0 + base, 0x00);
      chip.Write(0xE0 + base, 0x27);
    }
    chip.Write(0x08, 0x78 | ch);
  }
}

// Three tones (about 440, 555 and 660 Hz), with noise on every channel when asked, and every
// channel's amplitude from the envelope (a repeating triangle) when asked.
inline void WritePsgVoices(Psg& psg, bool noise, bool envelope) {
  const uint32_t periods[3] = {0x11C, 0x0E1, 0x0BD};
  for (uint32_t c = 0; c < 3; ++c) {
    psg.SetRegister(2 * c, periods[c] & 0xFF);
    psg.SetRegister(2 * c + 1, periods[c] >> 8);
  }
  psg.SetRegister(6, 7);
  psg.SetRegister(11, 0x40);
  psg.SetRegister(12, 0x00);
  psg.SetRegister(13, 14);
  psg.SetRegister(7, noise ? 0x00 : 0x38);
  const uint32_t amplitude = envelope ? 0x10 : 0x0F;
  for (uint32_t r = 8; r <= 10; ++r) psg.SetRegister(r, amplitude);
}
