// Vyx host/module binary interface.
//
// Everything the host and a module say to each other: the service identifiers, the COM-style
// interfaces (abstract classes whose operations sit in a fixed vtable order), the connector
// table format and the mixing frame. A substitute host implements the Host* interfaces from this
// header alone. The order of the virtual operations is the contract: never reorder, never
// overload, never add data members. Slots that the board never calls are declared too, so that
// the positions of the ones it does call hold.
#pragma once

#include <cstdint>

#include "vyx/stereo_frame.h"

#if defined(_WIN32) && !defined(_WIN64)
#define VYXCALL __stdcall
#else
#define VYXCALL
#endif

#if defined(_WIN32)
#define VYX_EXPORT
#else
#define VYX_EXPORT __attribute__((visibility("default")))
#endif

// 16-byte service identifier in the standard GUID layout.
struct VyxGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
static_assert(sizeof(VyxGuid) == 16, "GUID is 16 bytes");

inline bool operator==(const VyxGuid& a, const VyxGuid& b) {
  if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.data4[i] != b.data4[i]) return false;
  }
  return true;
}

// {328ABDEA-7E10-11D3-BD4F-00A0C90AC9DA}
inline constexpr VyxGuid kHostBusId = {0x328ABDEA, 0x7E10, 0x11D3,
                                       {0xBD, 0x4F, 0x00, 0xA0, 0xC9, 0x0A, 0xC9, 0xDA}};
// {328ABDF2-7E10-11D3-BD4F-00A0C90AC9DA}
inline constexpr VyxGuid kHostMixerId = {0x328ABDF2, 0x7E10, 0x11D3,
                                         {0xBD, 0x4F, 0x00, 0xA0, 0xC9, 0x0A, 0xC9, 0xDA}};
// {328ABDF3-7E10-11D3-BD4F-00A0C90AC9DA}
inline constexpr VyxGuid kHostTimerQueueId = {0x328ABDF3, 0x7E10, 0x11D3,
                                              {0xBD, 0x4F, 0x00, 0xA0, 0xC9, 0x0A, 0xC9, 0xDA}};
// {328ABDEC-7E10-11D3-BD4F-00A0C90AC9DA}
inline constexpr VyxGuid kHostPortsId = {0x328ABDEC, 0x7E10, 0x11D3,
                                         {0xBD, 0x4F, 0x00, 0xA0, 0xC9, 0x0A, 0xC9, 0xDA}};
// {32694F5A-7F25-11D3-BD53-00A0C90AC9DA}
inline constexpr VyxGuid kHostPagesId = {0x32694F5A, 0x7F25, 0x11D3,
                                         {0xBD, 0x53, 0x00, 0xA0, 0xC9, 0x0A, 0xC9, 0xDA}};
// Vorla's own, offered by the reference host only: where the board tells its host what went
// wrong with a register log it was asked to keep. Looked up only when there is something to
// tell; a host without it (the emulator) is told nothing and the board plays on.
// {5D0F6C21-3B7A-4E52-9A64-564F524C4131}
inline constexpr VyxGuid kHostNoticesId = {0x5D0F6C21, 0x3B7A, 0x4E52,
                                           {0x9A, 0x64, 0x56, 0x4F, 0x52, 0x4C, 0x41, 0x31}};
// {5D0F6C22-3B7A-4E52-9A64-564F524C4132}
inline constexpr VyxGuid kHostFilesId = {0x5D0F6C22, 0x3B7A, 0x4E52,
                                         {0x9A, 0x64, 0x56, 0x4F, 0x52, 0x4C, 0x41, 0x32}};
// Vorla's own, offered by the reference host only: the host's say on the board's switches,
// asked once, when the board is first used (never while the module is created).
// {5D0F6C23-3B7A-4E52-9A64-564F524C4133}
inline constexpr VyxGuid kHostSwitchesId = {0x5D0F6C23, 0x3B7A, 0x4E52,
                                            {0x9A, 0x64, 0x56, 0x4F, 0x52, 0x4C, 0x41, 0x33}};

class VyxDevice;
class VyxSoundSource;
class VyxPage;

// Connector table entry, a format the host reads: port (u16 LE), kind (1 in, 2 out), handler index.
// The table ends with an all-zero entry.
struct Connector {
  uint16_t port;
  uint8_t kind;
  uint8_t index;
};
static_assert(sizeof(Connector) == 4, "Connector is 4 bytes");

inline constexpr uint8_t kConnectorIn = 1;
inline constexpr uint8_t kConnectorOut = 2;

// Port handlers receive the device itself (not its sound-source interface).
using VyxInHandler = uint32_t(VYXCALL*)(VyxDevice* device, uint32_t port);
using VyxOutHandler = void(VYXCALL*)(VyxDevice* device, uint32_t port, uint32_t value);

// Two pointers: the in-handler table, then the out-handler table.
struct DeviceDescriptor {
  const VyxInHandler* in_handlers;
  const VyxOutHandler* out_handlers;
};

// 4-byte device identifier, e.g. "VRLA" (no terminator).
struct DeviceId {
  char chars[4];
};

// Timer-queue call-back: routine(owner, argument) once the armed count has run out.
using VyxEventRoutine = void(VYXCALL*)(void* owner, uint32_t argument);

// ---- Host side -------------------------------------------------------------------------------

class HostSystem {
 public:
  // 1st: the service with this identifier, or null.
  virtual void* VYXCALL FindService(const VyxGuid& id) = 0;
};

class HostBus {
 public:
  // 1st: install the device's handlers per its connector table; true when installed.
  virtual bool VYXCALL Attach(VyxDevice* device, const Connector* table) = 0;
  // 2nd: remove every handler of the device.
  virtual void VYXCALL Detach(VyxDevice* device) = 0;
};

class HostMixer {
 public:
  // 1st
  virtual bool VYXCALL AddSource(VyxSoundSource* source) = 0;
  // 2nd
  virtual bool VYXCALL RemoveSource(VyxSoundSource* source) = 0;
  // 3rd: render the source's pending output (calling its Mix) up to the present.
  virtual void VYXCALL Update(VyxSoundSource* source) = 0;
};

class HostTimerQueue {
 public:
  // 1st: after `count` host time units call routine(owner, argument) once.
  virtual bool VYXCALL AddEvent(int32_t count, void* owner, VyxEventRoutine routine,
                                uint32_t argument, uint32_t flag) = 0;
  // 2nd: unused by the board (withdraws one event by owner and routine).
  virtual void VYXCALL RemoveEvent(void* owner, VyxEventRoutine routine) = 0;
  // 3rd: unused by the board (the host's current time).
  virtual int64_t VYXCALL GetTime() = 0;
  // 4th: withdraw every pending event of the owner.
  virtual void VYXCALL RemoveEvents(void* owner) = 0;
};

// The host port through which a board requests its interrupt: the board writes 1 to it.
inline constexpr uint32_t kHostInterruptPort = 0x105;

class HostPorts {
 public:
  // 1st: unused by the board (read a host port).
  virtual uint32_t VYXCALL In(uint32_t port) = 0;
  // 2nd: write a host port; the board writes 1 to kHostInterruptPort to request its interrupt.
  virtual void VYXCALL Out(uint32_t port, uint32_t value) = 0;
};

class HostPages {
 public:
  // 1st
  virtual bool VYXCALL AddPage(VyxPage* page) = 0;
  // 2nd
  virtual bool VYXCALL RemovePage(VyxPage* page) = 0;
};

class HostPageSite {
 public:
  // 1st: unused by the board (the configuration dialog's window).
  virtual void* VYXCALL GetDialogWindow() = 0;
  // 2nd: unused by the board (the page count of the dialog).
  virtual int32_t VYXCALL GetPageCount() = 0;
  // 3rd: the page applied its controls.
  virtual void VYXCALL Applied() = 0;
  // 4th: the page became the active one.
  virtual void VYXCALL Activated(VyxPage* page) = 0;
  // 5th: a control of the page changed; the dialog window that holds it.
  virtual void VYXCALL Changed(void* dialog_window) = 0;
};

class HostNotices {
 public:
  // 1st: one line of text for the user, without a line end.
  virtual void VYXCALL Notice(const char* text) = 0;
};

// What a host learns of the files the module writes (its register log), where it offers this.
class HostFiles {
 public:
  // 1st: `path` is being written as a temporary file (held 1) or no longer is (held 0): a host
  // stopped by a signal removes the temporary files held.
  virtual void VYXCALL Temporary(const char* path, int32_t held) = 0;
  // 2nd: a file the user asked for could not be made or written; one line of text, told
  // instead of a notice.
  virtual void VYXCALL Failed(const char* text) = 0;
  // 3rd: the file written at `temporary` is complete: the host puts it in place at `place`
  // when its run succeeds and removes it when the run fails, so that a failed run replaces
  // nothing. Without this service the module puts its files in place itself.
  virtual void VYXCALL Complete(const char* temporary, const char* place) = 0;
  // 4th: why the module must not write `path` (a file the host's run reads or writes itself),
  // one line of text kept until the next call; null when nothing is against it.
  virtual const char* VYXCALL Refusal(const char* path) = 0;
};

// The host's own settings of the board's switches, where it offers this.
class HostSwitches {
 public:
  // 1st: the host's value for the switch that `key` names (a key of the settings file's
  // "VORLA" section: "LOG" a file or folder, "FMTIMERS", "SAVESTATES" and "CHIPSOUND" "1" on or
  // "0" off); null when the host leaves it to the environment and the settings file.
  virtual const char* VYXCALL Switch(const char* key) = 0;
};

// ---- Module side -----------------------------------------------------------------------------

class VyxModule {
 public:
  // 1st: unbind, save the settings, destroy the module.
  virtual void VYXCALL Release() = 0;
  // 2nd: always null.
  virtual void* VYXCALL Query(void* value) = 0;
};

class VyxDevice {
 public:
  virtual const DeviceId& VYXCALL GetId() = 0;
  virtual const DeviceDescriptor& VYXCALL GetDescriptor() = 0;
  virtual uint32_t VYXCALL GetStateSize() = 0;
  virtual bool VYXCALL SaveState(void* buffer) = 0;
  virtual bool VYXCALL LoadState(const void* buffer) = 0;
  virtual ~VyxDevice() = default;
};

class VyxSoundSource {
 public:
  virtual bool VYXCALL Connect(HostMixer* mixer) = 0;
  virtual bool VYXCALL SetRate(uint32_t rate) = 0;
  virtual void VYXCALL Mix(StereoFrame* frames, int32_t count) = 0;
};

class VyxPage {
 public:
  // Keeps site, fills the platform's property-sheet page record, returns true.
  virtual bool VYXCALL FillPageRecord(HostPageSite* site, void* record) = 0;
};

// The module file's single export.
using VyxCreateModuleFn = VyxModule* (*)(HostSystem* host);
extern "C" VYX_EXPORT VyxModule* VyxCreateModule(HostSystem* host);
