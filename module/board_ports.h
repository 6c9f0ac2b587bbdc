// The board's I/O ports, and the handler each one reaches: the one map that the board device's
// connector table, the player's board mode, the demo and the fuzzer all go by.
//
//   port         dir  what
//   0x02         out  tone output enable (bit 3)
//   0x0C-0x0E    out  tone counters 0-2 (low byte, high byte by the control word)
//   0x0F         out  tone control word
//   0x80-0x87    in/out  control registers (out 0x81, 0x83-0x87; in 0x80, 0x82, 0x84, 0x86)
//   0x88         out  FM register address
//   0x89         out  FM register data;  in: FM status
//   0x8A         in/out  nothing (reads 0)
//   0xA0 + 2n    out  PSG n register address (n = 0-3)
//   0xA1 + 2n    out  PSG n register data;   in: PSG n register read back
//   0x108        out  board reset
#pragma once

#include <cstdint>

inline constexpr uint32_t kPortToneEnable = 0x02;
inline constexpr uint32_t kPortToneCounter = 0x0C;  // + counter 0-2
inline constexpr uint32_t kPortToneControl = 0x0F;
inline constexpr uint32_t kPortControl = 0x80;      // + register 0-7
inline constexpr uint32_t kPortFmAddress = 0x88;
inline constexpr uint32_t kPortFmData = 0x89;
inline constexpr uint32_t kPortNull = 0x8A;
inline constexpr uint32_t kPortPsgAddress = 0xA0;   // PSG n: + 2n
inline constexpr uint32_t kPortPsgData = 0xA1;      // PSG n: + 2n
inline constexpr uint32_t kPortReset = 0x108;

inline constexpr uint32_t PsgAddressPort(int psg) { return kPortPsgAddress + 2u * (psg & 3); }
inline constexpr uint32_t PsgDataPort(int psg) { return kPortPsgData + 2u * (psg & 3); }

// The handlers of the device descriptor, by their index in its in and out tables.
enum BoardInHandler : uint8_t { kInPsgData, kInFmStatus, kInControl, kInNull, kInHandlers };
enum BoardOutHandler : uint8_t {
  kOutReset,
  kOutToneEnable,
  kOutToneCounter,
  kOutToneControl,
  kOutPsgAddress,
  kOutPsgData,
  kOutFmAddress,
  kOutFmData,
  kOutControl,
  kOutNull,
  kOutHandlers,
};
