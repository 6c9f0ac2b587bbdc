// The emulated sound board as the host sees it: a device on the I/O bus with a connector table
// and port handlers, and a sound source that adds the board's output into the host's frames.
//
//   0x108       out  reset the board (any value)
//   0x02        out  ----x--- tone output enable
//   0x0C-0x0E   out  tone counter 0-2 data          0x0F  out  tone control word
//   0xA0/2/4/6  out  PSG 1-4 address latch          0xA1/3/5/7  out/in  PSG 1-4 data
//   0x81,0x83-0x87  out  control registers          0x80/2/4/6  in  control read-back
//   0x88        out  FM address latch               0x89  out FM data, in FM status (bits 0-1)
//   0x8A        out/in  nothing / reads 0
//
// The device owns its generators by value and mixes them in a fixed order: the tone voices,
// PSG 1 to 4 (each only when its volume is above -40 and its routing is not 0), then the FM
// chip. Register writes that change the sound first ask the connected mixer to Update, so that
// everything up to the present is rendered with the old register values.
//
// When the process has a ROMEO card, Init asks it for the real YM2151. With that chip held and
// USE_ROMEO on, every FM data write goes to the card as well and the real chip plays the FM part
// instead of the emulated one; every board reset resets the real chip. The device gives the
// chip back when it is destroyed.
//
// Save states are off unless switched on (SetSaveStates): then the device's state is the whole
// board (module/board_state.cpp), and otherwise it keeps none, as the board is defined.
//
// The chips' own sound is off unless switched on (SetChipSound): then the FM and the PSGs render
// as the chips on the board sounded (module/board_chip_sound.cpp), through chip_sound/.
//
// While a register log is open (StartLog), the FM and PSG data writes and the board resets are
// logged at the frame the mixer has reached; Mix tells the log how far that is.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <memory>
#include <vector>

#include "chip_sound/fm_chip_sound.h"
#include "chip_sound/psg_chip_sound.h"
#include "control/board_control.h"
#include "fm/opm_chip.h"
#include "module/board_clocks.h"
#include "module/board_log.h"
#include "module/fm_register_file.h"
#include "vyx/vyx.h"
#include "psg/psg.h"
#include "romeo/romeo_manager.h"
#include "settings/board_settings.h"
#include "tone/timer_tone.h"

class BoardDevice final : public VyxDevice, public VyxSoundSource, public SettingsTarget {
 public:
  static constexpr uint32_t kInitialRate = 44100;
  static constexpr int kPsgCount = 4;
  static constexpr int kConnectorCount = 33;
  // The lowest host rate the chips' own sound plays at: the FM chip renders 62,400 frames a
  // second whatever the rate, and a host rate far below the audible band has no use for them.
  static constexpr uint32_t kMinChipSoundRate = 8000;

  struct PsgSlot {
    Psg psg;
    int32_t volume = 0;
    uint32_t latch = 0;
    uint32_t routing = 0;
  };

  explicit BoardDevice(const char (&id)[5]);
  ~BoardDevice() override = default;
  BoardDevice(const BoardDevice&) = delete;
  BoardDevice& operator=(const BoardDevice&) = delete;

  // VyxDevice
  const DeviceId& VYXCALL GetId() override { return id_; }
  const DeviceDescriptor& VYXCALL GetDescriptor() override;
  // Switched off: 0, false and false. On: the size of the whole board's state, which SaveState
  // writes into a buffer of that size and LoadState takes back (false, and nothing changed, for
  // bytes that are no state of this board).
  uint32_t VYXCALL GetStateSize() override;
  bool VYXCALL SaveState(void* buffer) override;
  bool VYXCALL LoadState(const void* buffer) override;

  // VyxSoundSource
  bool VYXCALL Connect(HostMixer* mixer) override;
  bool VYXCALL SetRate(uint32_t rate) override;
  void VYXCALL Mix(StereoFrame* frames, int32_t count) override;

  // Called by the module and the page.
  bool Init(HostPorts* ports, uint32_t interrupt_port, HostTimerQueue* timer_queue);
  void Reset();
  void ApplySettings(const BoardSettings& settings) override;
  // Opens the register log that `target` names, from now on; false with the reason in *error
  // (the board then plays on without one). `watch` hears of its temporary file (BoardLog).
  bool StartLog(const std::string& target, BoardLog::TemporaryWatch watch, std::string* error);
  // Completes and closes the log, if one is open; what the user should hear of it, or empty
  // (*failed: the log could not be written).
  std::string StopLog(bool* failed);
  // The FM timers count down (off by default: as the board is defined, they never do).
  void SetFmTimersCounting(bool on) {
    FmChanging();
    fm_timers_counting_ = on;
    opm_.SetTimersCounting(on);
  }
  const BoardLog* log() const { return log_.get(); }
  // Save states on request (off by default).
  void SetSaveStates(bool on) { save_states_ = on; }
  // The chips' own sound on request (off by default): the FM and the PSGs render as the chips
  // did, converted and band-limited to the host's rate with no delay; the board's volumes,
  // routing and interrupt as defined. At host rates below kMinChipSoundRate the board sounds
  // as defined until the rate is up again.
  void SetChipSound(bool on);
  bool chip_sound() const { return chip_sound_; }
  // `hook` runs once, at the device's first use: the first Mix, port access, event or state
  // request after this call, or FirstUse. The module asks its host for the switches then, as it
  // may not while it is created. Safe when the host's threads use the device at once.
  void SetFirstUse(std::function<void()> hook) { first_use_ = std::move(hook); }
  void FirstUse() {
    if (!first_use_done_.load(std::memory_order_acquire)) RunFirstUse();
  }
  // The board's state as bytes (the switch aside), and LoadState for bytes of a known size.
  std::vector<uint8_t> StateBytes() const;
  bool LoadStateBytes(const uint8_t* data, size_t size);

  // The 33 connector entries and the terminating all-zero entry.
  static const Connector* ConnectorTable();

  // The timer-queue owner that BoardControl's events carry (the device interface).
  void* event_owner() { return static_cast<VyxDevice*>(this); }
  HostTimerQueue* timer_queue() const { return timer_queue_; }
  HostMixer* mixer() const { return mixer_; }

  const TimerTone& tone() const { return tone_; }
  const PsgSlot& psg_slot(int index) const { return psgs_[index]; }
  const OpmChip& opm() const { return opm_; }
  const BoardControl& control() const { return control_; }
  int32_t fm_volume() const { return fm_volume_; }
  uint32_t fm_latch() const { return fm_latch_; }
  bool use_romeo() const { return use_romeo_; }
  RomeoManager* romeo() const { return romeo_; }
  bool holds_real_chip() const { return real_chip_ != nullptr; }

 private:
  // In handlers.
  static uint32_t VYXCALL InPsgData(VyxDevice* device, uint32_t port);
  static uint32_t VYXCALL InFmStatus(VyxDevice* device, uint32_t port);
  static uint32_t VYXCALL InControl(VyxDevice* device, uint32_t port);
  static uint32_t VYXCALL InNull(VyxDevice* device, uint32_t port);
  // Out handlers.
  static void VYXCALL OutReset(VyxDevice* device, uint32_t port, uint32_t value);
  static void VYXCALL OutToneEnable(VyxDevice* device, uint32_t port, uint32_t value);
  static void VYXCALL OutToneCounter(VyxDevice* device, uint32_t port, uint32_t value);
  static void VYXCALL OutToneControl(VyxDevice* device, uint32_t port, uint32_t value);
  static void VYXCALL OutPsgAddress(VyxDevice* device, uint32_t port, uint32_t value);
  static void VYXCALL OutPsgData(VyxDevice* device, uint32_t port, uint32_t value);
  static void VYXCALL OutFmAddress(VyxDevice* device, uint32_t port, uint32_t value);
  static void VYXCALL OutFmData(VyxDevice* device, uint32_t port, uint32_t value);
  static void VYXCALL OutControl(VyxDevice* device, uint32_t port, uint32_t value);
  static void VYXCALL OutNull(VyxDevice* device, uint32_t port, uint32_t value);
  // The periodic-interrupt event routine; owner is the device interface.
  static void VYXCALL PeriodicInterrupt(void* owner, uint32_t argument);

  static constexpr int32_t kMuteAt = -40;  // this setting and below silence a source
  // The volume a chip is given for a setting: silent at kMuteAt and below.
  static int32_t ChipVolume(int32_t setting) { return setting <= kMuteAt ? -200 : setting; }
  static BoardDevice* From(VyxDevice* device) {
    BoardDevice* self = static_cast<BoardDevice*>(device);
    self->FirstUse();
    return self;
  }
  void RunFirstUse();
  // Renders what is due with the old registers before a change.
  void Update() {
    if (mixer_ != nullptr) mixer_->Update(this);
  }
  // The PSG index of a port: (port - 0xA0) / 2 or (port - 0xA1) / 2, kept inside the board.
  static int PsgIndex(uint32_t port, uint32_t base);
  // After a state was taken: the settings' values again, the host's rate, and the registers
  // written out to the real chip and the log; the interrupt's event re-armed.
  void AfterLoad(uint32_t saved_rate, bool pending, int32_t due_in);
  // Host time units until the pending interrupt event, for a state.
  int32_t InterruptDueIn() const;
  // The chips' own sound: each chip set to its behaviour, and back to the board's.
  void StartChipSound();
  void StopChipSound();
  // The FM volume setting, on the chip or, with the chips' own sound, after its conversion.
  void ApplyFmVolume();
  // PSG index in the chips' behaviour, on the AY-3-8910's curve, at the host's rate.
  void SetChipSoundPsg(int index);
  // With the chips' own sound: before a chip changes, it is brought to the present and what it
  // rendered ahead is dropped.
  void FmChanging() {
    if (fm_sound_ != nullptr) fm_sound_->Settle();
  }
  void PsgChanging(int index) {
    if (psg_sound_[index] != nullptr) psg_sound_[index]->Changed();
  }
  // The real chip plays the FM part: it is held and the user switched it on.
  bool RealChipPlays() const { return real_chip_ != nullptr && use_romeo_; }

  DeviceId id_;
  HostMixer* mixer_ = nullptr;
  HostTimerQueue* timer_queue_ = nullptr;
  TimerTone tone_;
  int32_t tone_volume_[TimerTone::kVoices] = {};  // as last applied
  PsgSlot psgs_[kPsgCount];
  OpmChip opm_;
  bool fm_timers_counting_ = false;  // as set on opm_
  int32_t fm_volume_ = 0;
  uint32_t fm_latch_ = 0;
  FmRegisterFile fm_registers_;  // what the program wrote, for a restored state
  BoardControl control_;
  RomeoManager* romeo_ = nullptr;
  std::unique_ptr<ChipHandle> real_chip_;  // freed with the device, which frees the chip
  bool use_romeo_ = false;
  uint32_t rate_ = kInitialRate;    // the output rate in force
  std::unique_ptr<BoardLog> log_;   // null unless a register log was asked for
  bool save_states_ = false;
  std::function<void()> first_use_;
  std::once_flag first_use_once_;
  std::atomic<bool> first_use_done_{false};
  uint32_t state_size_ = 0;  // known from the first state made
  int64_t interrupt_armed_at_ = 0;  // host time of the last arming, kept with save states on
  bool initialized_ = false;  // Init has run
  bool chip_sound_ = false;
  std::unique_ptr<FmChipSound> fm_sound_;  // null unless the chips' own sound is on
  std::unique_ptr<PsgChipSound> psg_sound_[kPsgCount];
};
