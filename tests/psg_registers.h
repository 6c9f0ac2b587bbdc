// Register writes the PSG tests share: a period written as its low and high register.
#pragma once

#include <cstdint>

#include "psg/psg.h"

inline void SetTonePeriod(Psg& psg, uint32_t channel, uint32_t period) {
  psg.SetRegister(2 * channel, period & 0xFF);
  psg.SetRegister(2 * channel + 1, period >> 8);
}

inline void SetEnvelopePeriod(Psg& psg, uint32_t period) {
  psg.SetRegister(11, period & 0xFF);
  psg.SetRegister(12, period >> 8);
}
