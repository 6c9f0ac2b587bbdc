// The tests' own pcidebug.dll: the eight entry points the card access looks up, over one
// simulated machine with (or without) a ROMEO and its register block, plus the exports through
// which a test sets the machine up and watches every call.
#pragma once

#include <cstdint>

enum SimCall : uint32_t {
  kSimFind,     // a = vendor, b = device, c = index
  kSimConfig,   // a = location, b = offset
  kSimWrite8,   // a = address, b = value as passed
  kSimWrite16,  // a = address, b = value as passed
  kSimWrite32,  // a = address, b = value
  kSimRead8,    // a = address
  kSimRead16,   // a = address
  kSimRead32,   // a = address
};

extern "C" {
typedef void(__cdecl* SimObserver)(void* context, uint32_t call, uint32_t a, uint32_t b,
                                   uint32_t c);
// A ROMEO with this device ID (0: none) at PCI location 0x0500 whose configuration dword 0x14
// reads `bar`; its register block (SimBlockSize bytes from `bar`) all zero, reads all 0.
typedef void(__cdecl* SimConfigureFn)(uint32_t device_id, uint32_t bar, SimObserver observer,
                                      void* context);
// Byte reads at bar + offset give `value` from now on.
typedef void(__cdecl* SimSetReadFn)(uint32_t offset, uint32_t value);
// The next `count` byte reads at bar + offset give the busy bit (bit 7) as well.
typedef void(__cdecl* SimSetBusyFn)(uint32_t offset, int32_t count);
// The byte last written at bar + offset.
typedef uint32_t(__cdecl* SimWrittenFn)(uint32_t offset);
}

inline constexpr uint32_t kSimBlockSize = 0x1000;
inline constexpr uint32_t kSimLocation = 0x0500;  // bus 5, device 0, function 0
