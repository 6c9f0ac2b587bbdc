// The tests' pcidebug.dll. Built twice: complete, and (VORLA_SIM_WITHOUT_WRITE_SHORT) without
// _MemWriteShort, for the library that lacks one of its entry points.
#include <windows.h>

#include "tests/romeo_pcidebug_sim.h"

#define SIM_EXPORT extern "C" __declspec(dllexport)

namespace {

struct Machine {
  uint32_t device_id = 0;
  uint32_t bar = 0;
  SimObserver observer = nullptr;
  void* context = nullptr;
  uint8_t written[kSimBlockSize] = {};
  uint8_t reads[kSimBlockSize] = {};
  int32_t busy[kSimBlockSize] = {};
};
Machine g_machine;

void Tell(uint32_t call, uint32_t a, uint32_t b = 0, uint32_t c = 0) {
  if (g_machine.observer != nullptr) g_machine.observer(g_machine.context, call, a, b, c);
}

// The offset in the register block of `size` bytes at `address`, or -1 outside it.
int64_t InBlock(uint32_t address, uint32_t size) {
  if (g_machine.device_id == 0 || g_machine.bar == 0 || address < g_machine.bar) return -1;
  const uint32_t offset = address - g_machine.bar;
  return offset + size <= kSimBlockSize ? offset : -1;
}

void Store(uint32_t address, uint32_t value, uint32_t size) {
  const int64_t offset = InBlock(address, size);
  if (offset < 0) return;
  for (uint32_t i = 0; i < size; ++i) g_machine.written[offset + i] = uint8_t(value >> (8 * i));
}

uint32_t Load(uint32_t address, uint32_t size) {
  const int64_t offset = InBlock(address, size);
  if (offset < 0) return 0xFFFFFFFF >> (32 - 8 * size);
  uint32_t value = 0;
  for (uint32_t i = 0; i < size; ++i) {
    uint32_t byte = g_machine.reads[offset + i];
    if (g_machine.busy[offset + i] > 0) {
      --g_machine.busy[offset + i];
      byte |= 0x80;
    }
    value |= byte << (8 * i);
  }
  return value;
}

}  // namespace

SIM_EXPORT void __cdecl SimConfigure(uint32_t device_id, uint32_t bar, SimObserver observer,
                                     void* context) {
  g_machine = Machine();
  g_machine.device_id = device_id;
  g_machine.bar = bar;
  g_machine.observer = observer;
  g_machine.context = context;
}

SIM_EXPORT void __cdecl SimSetRead(uint32_t offset, uint32_t value) {
  if (offset < kSimBlockSize) g_machine.reads[offset] = uint8_t(value);
}

SIM_EXPORT void __cdecl SimSetBusy(uint32_t offset, int32_t count) {
  if (offset < kSimBlockSize) g_machine.busy[offset] = count;
}

SIM_EXPORT uint32_t __cdecl SimWritten(uint32_t offset) {
  return offset < kSimBlockSize ? g_machine.written[offset] : 0;
}

SIM_EXPORT DWORD __cdecl _pciFindPciDevice(DWORD vendor, DWORD device, DWORD index) {
  Tell(kSimFind, vendor, device, index);
  const bool found =
      g_machine.device_id != 0 && vendor == 0x6809 && device == g_machine.device_id && index == 0;
  return found ? kSimLocation << 16 : 0xFFFFFFFF;
}

SIM_EXPORT DWORD __cdecl _pciConfigReadLong(DWORD location, DWORD offset) {
  Tell(kSimConfig, location, offset);
  if (g_machine.device_id == 0 || location != kSimLocation) return 0xFFFFFFFF;
  if (offset == 0x00) return 0x6809 | g_machine.device_id << 16;
  if (offset == 0x14) return g_machine.bar;
  return 0;
}

SIM_EXPORT void __cdecl _MemWriteChar(DWORD address, DWORD value) {
  Tell(kSimWrite8, address, value);
  Store(address, value, 1);
}

#ifndef VORLA_SIM_WITHOUT_WRITE_SHORT
SIM_EXPORT void __cdecl _MemWriteShort(DWORD address, DWORD value) {
  Tell(kSimWrite16, address, value);
  Store(address, value, 2);
}
#endif

SIM_EXPORT void __cdecl _MemWriteLong(DWORD address, DWORD value) {
  Tell(kSimWrite32, address, value);
  Store(address, value, 4);
}

SIM_EXPORT BYTE __cdecl _MemReadChar(DWORD address) {
  Tell(kSimRead8, address);
  return BYTE(Load(address, 1));
}

SIM_EXPORT WORD __cdecl _MemReadShort(DWORD address) {
  Tell(kSimRead16, address);
  return WORD(Load(address, 2));
}

SIM_EXPORT DWORD __cdecl _MemReadLong(DWORD address) {
  Tell(kSimRead32, address);
  return Load(address, 4);
}
