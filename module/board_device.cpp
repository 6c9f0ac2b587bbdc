#include "module/board_device.h"

#include <cstring>

#include "module/board_ports.h"

namespace {

constexpr Connector kConnectors[BoardDevice::kConnectorCount + 1] = {
    {kPortReset, kConnectorOut, kOutReset},
    {kPortToneEnable, kConnectorOut, kOutToneEnable},
    {kPortToneCounter, kConnectorOut, kOutToneCounter},
    {kPortToneCounter + 1, kConnectorOut, kOutToneCounter},
    {kPortToneCounter + 2, kConnectorOut, kOutToneCounter},
    {kPortToneControl, kConnectorOut, kOutToneControl},
    {PsgAddressPort(0), kConnectorOut, kOutPsgAddress},
    {PsgDataPort(0), kConnectorOut, kOutPsgData},
    {PsgDataPort(0), kConnectorIn, kInPsgData},
    {PsgAddressPort(1), kConnectorOut, kOutPsgAddress},
    {PsgDataPort(1), kConnectorOut, kOutPsgData},
    {PsgDataPort(1), kConnectorIn, kInPsgData},
    {PsgAddressPort(2), kConnectorOut, kOutPsgAddress},
    {PsgDataPort(2), kConnectorOut, kOutPsgData},
    {PsgDataPort(2), kConnectorIn, kInPsgData},
    {PsgAddressPort(3), kConnectorOut, kOutPsgAddress},
    {PsgDataPort(3), kConnectorOut, kOutPsgData},
    {PsgDataPort(3), kConnectorIn, kInPsgData},
    {kPortControl + 1, kConnectorOut, kOutControl},
    {kPortControl + 3, kConnectorOut, kOutControl},
    {kPortControl + 4, kConnectorOut, kOutControl},
    {kPortControl + 5, kConnectorOut, kOutControl},
    {kPortControl + 6, kConnectorOut, kOutControl},
    {kPortControl + 7, kConnectorOut, kOutControl},
    {kPortControl + 0, kConnectorIn, kInControl},
    {kPortControl + 2, kConnectorIn, kInControl},
    {kPortControl + 4, kConnectorIn, kInControl},
    {kPortControl + 6, kConnectorIn, kInControl},
    {kPortFmAddress, kConnectorOut, kOutFmAddress},
    {kPortFmData, kConnectorOut, kOutFmData},
    {kPortFmData, kConnectorIn, kInFmStatus},
    {kPortNull, kConnectorOut, kOutNull},
    {kPortNull, kConnectorIn, kInNull},
    {0, 0, 0},
};

}  // namespace

BoardDevice::BoardDevice(const char (&id)[5]) {
  std::memcpy(id_.chars, id, 4);
  tone_.SetAllVolumes(0);
  for (PsgSlot& slot : psgs_) {
    slot.volume = 0;
    slot.psg.SetVolume(0);
  }
  opm_.SetVolume(0);
  fm_volume_ = 0;
}

const Connector* BoardDevice::ConnectorTable() { return kConnectors; }

const DeviceDescriptor& BoardDevice::GetDescriptor() {
  // In the order of the handler indices of the port map.
  static constexpr VyxInHandler kIn[kInHandlers] = {&InPsgData, &InFmStatus, &InControl,
                                                    &InNull};
  static constexpr VyxOutHandler kOut[kOutHandlers] = {
      &OutReset,      &OutToneEnable, &OutToneCounter, &OutToneControl, &OutPsgAddress,
      &OutPsgData,    &OutFmAddress,  &OutFmData,      &OutControl,     &OutNull,
  };
  static constexpr DeviceDescriptor kDescriptor = {kIn, kOut};
  return kDescriptor;
}

bool BoardDevice::Init(HostPorts* ports, uint32_t interrupt_port, HostTimerQueue* timer_queue) {
  timer_queue_ = timer_queue;
  control_.Bind(ports, interrupt_port, timer_queue);
  if (!opm_.Init(kBoardFmClock, kInitialRate)) return false;
  romeo_ = GetRomeoManager();
  // A refusal (no YM2151 on the card, or another board holds it) leaves the FM part emulated.
  if (romeo_ != nullptr) romeo_->Request(RomeoManager::kOpmCode, &real_chip_);
  Reset();
  initialized_ = true;
  if (chip_sound_ && rate_ >= kMinChipSoundRate) StartChipSound();
  return true;
}

void BoardDevice::Reset() {
  tone_.Reset();
  for (int i = 0; i < kPsgCount; ++i) {
    PsgSlot& slot = psgs_[i];
    slot.latch = 0;
    PsgChanging(i);
    slot.psg.Reset();
    slot.psg.SetVolume(ChipVolume(slot.volume));
  }
  fm_latch_ = 0;
  fm_registers_.Clear();
  FmChanging();
  opm_.Reset();
  ApplyFmVolume();
  control_.Reset();
  // Whether or not it plays now: USE_ROMEO may be switched on later.
  if (real_chip_ != nullptr) real_chip_->Reset();
  if (log_ != nullptr) log_->BoardReset();
}

bool BoardDevice::SetRate(uint32_t rate) {
  if (rate != 0) rate_ = rate;
  if (chip_sound_ && initialized_) {
    // The chips' own sound serves the usual rates; below them the board sounds as defined.
    const bool served = rate_ >= kMinChipSoundRate;
    if (!served && fm_sound_ != nullptr) StopChipSound();
    if (served && fm_sound_ == nullptr) StartChipSound();
  }
  if (log_ != nullptr) log_->SetRate(rate);
  tone_.SetRate(kBoardToneClock, rate);
  for (int i = 0; i < kPsgCount; ++i) {
    if (psg_sound_[i] != nullptr) psg_sound_[i]->SetRate(rate);
    psgs_[i].psg.SetClock(kBoardPsgClock, rate);
  }
  if (fm_sound_ != nullptr) {
    fm_sound_->SetRate(rate);  // the chip stays at its own rate
  } else {
    opm_.SetRate(kBoardFmClock, rate);
  }
  return true;
}

bool BoardDevice::Connect(HostMixer* mixer) {
  if (mixer_ != nullptr) mixer_->RemoveSource(this);
  mixer_ = mixer;
  if (mixer_ != nullptr) mixer_->AddSource(this);
  return true;
}

void BoardDevice::RunFirstUse() {
  std::call_once(first_use_once_, [this] {
    if (first_use_) first_use_();
    first_use_done_.store(true, std::memory_order_release);
  });
}

void BoardDevice::Mix(StereoFrame* frames, int32_t count) {
  FirstUse();
  tone_.Mix(frames, count);
  for (int i = 0; i < kPsgCount; ++i) {
    PsgSlot& slot = psgs_[i];
    if (slot.volume <= kMuteAt || slot.routing == 0) continue;
    if (psg_sound_[i] != nullptr) {
      psg_sound_[i]->Mix(frames, count, slot.routing);
    } else {
      slot.psg.Mix(frames, count);
    }
  }
  if (!RealChipPlays()) {
    if (fm_sound_ != nullptr) {
      fm_sound_->Mix(frames, count);
    } else {
      opm_.Mix(frames, count);
    }
  } else if (fm_sound_ != nullptr) {
    fm_sound_->Skip(count);
  } else {
    opm_.AdvanceTimers(count);  // the status and CSM key-ons of counting timers
  }
  if (log_ != nullptr) log_->Advance(count);
}

void BoardDevice::ApplySettings(const BoardSettings& settings) {
  Update();
  for (int c = 0; c < TimerTone::kVoices; ++c) {
    tone_volume_[c] = settings.volume[c];
    tone_.SetVolume(c, tone_volume_[c]);
  }
  for (int i = 0; i < kPsgCount; ++i) {
    PsgSlot& slot = psgs_[i];
    slot.volume = settings.volume[3 + i];
    PsgChanging(i);
    slot.psg.SetVolume(ChipVolume(slot.volume));
    // The flags are combined as they stand; the page writes only 0 and 1.
    slot.routing = static_cast<uint32_t>(settings.output[2 * i]) |
                   (static_cast<uint32_t>(settings.output[2 * i + 1]) << 1);
    slot.psg.SetRouting(slot.routing);
  }
  fm_volume_ = settings.volume[7];
  ApplyFmVolume();
  use_romeo_ = settings.use_romeo != 0;
}

bool BoardDevice::StartLog(const std::string& target, BoardLog::TemporaryWatch watch,
                           std::string* error) {
  log_ = BoardLog::Open(target, rate_, std::move(watch), error);
  if (log_ != nullptr && fm_timers_counting_) log_->NoteCountingTimers();
  return log_ != nullptr;
}

std::string BoardDevice::StopLog(bool* failed) {
  *failed = false;
  if (log_ == nullptr) return std::string();
  std::string notice = log_->Close();
  *failed = log_->failed();
  log_.reset();
  return notice;
}

int BoardDevice::PsgIndex(uint32_t port, uint32_t base) {
  // The connector table only routes 0xA0-0xA7 here; a host that calls a handler for another
  // port still gets a PSG of this board, never one outside it.
  return static_cast<int>(((port - base) / 2) & 3);
}

uint32_t BoardDevice::InPsgData(VyxDevice* device, uint32_t port) {
  BoardDevice* self = From(device);
  PsgSlot& slot = self->psgs_[PsgIndex(port, kPortPsgData)];
  return slot.psg.GetRegister(slot.latch & 15);
}

uint32_t BoardDevice::InFmStatus(VyxDevice* device, uint32_t) {
  BoardDevice* self = From(device);
  // Counting timers: the read sees the time of the read, as a write does.
  if (self->fm_timers_counting_) {
    self->Update();
    if (self->fm_sound_ != nullptr) self->fm_sound_->CatchUp();
  }
  return self->opm_.status() & 3;
}

uint32_t BoardDevice::InControl(VyxDevice* device, uint32_t port) {
  return From(device)->control_.Read(port & 15);
}

uint32_t BoardDevice::InNull(VyxDevice*, uint32_t) { return 0; }

void BoardDevice::OutReset(VyxDevice* device, uint32_t, uint32_t) { From(device)->Reset(); }

void BoardDevice::OutToneEnable(VyxDevice* device, uint32_t, uint32_t value) {
  BoardDevice* self = From(device);
  // The new state is stored first; only a change asks the mixer to catch up.
  if (self->tone_.SetOutputEnable((value & 0x08) != 0)) self->Update();
}

void BoardDevice::OutToneCounter(VyxDevice* device, uint32_t port, uint32_t value) {
  BoardDevice* self = From(device);
  self->Update();
  self->tone_.WriteCounter(static_cast<int>((port - kPortToneCounter) & 3), value);
}

void BoardDevice::OutToneControl(VyxDevice* device, uint32_t, uint32_t value) {
  From(device)->tone_.WriteControl(value);
}

void BoardDevice::OutPsgAddress(VyxDevice* device, uint32_t port, uint32_t value) {
  From(device)->psgs_[PsgIndex(port, kPortPsgAddress)].latch = value;
}

void BoardDevice::OutPsgData(VyxDevice* device, uint32_t port, uint32_t value) {
  BoardDevice* self = From(device);
  const int index = PsgIndex(port, kPortPsgData);
  PsgSlot& slot = self->psgs_[index];
  self->Update();
  self->PsgChanging(index);
  slot.psg.SetRegister(slot.latch, value);
  if (self->log_ != nullptr) self->log_->PsgWrite(index, slot.latch, value);
}

void BoardDevice::OutFmAddress(VyxDevice* device, uint32_t, uint32_t value) {
  From(device)->fm_latch_ = value;
}

void BoardDevice::OutFmData(VyxDevice* device, uint32_t, uint32_t value) {
  BoardDevice* self = From(device);
  self->Update();
  self->FmChanging();
  self->opm_.Write(self->fm_latch_, value);
  self->fm_registers_.Write(self->fm_latch_, value);
  if (self->log_ != nullptr) self->log_->FmWrite(self->fm_latch_, value);
  if (self->RealChipPlays()) self->real_chip_->WriteRegister(0, self->fm_latch_, value);
}

void BoardDevice::OutControl(VyxDevice* device, uint32_t port, uint32_t value) {
  BoardDevice* self = From(device);
  if (self->control_.ControlWrite(port & 15, value) ==
      BoardControl::InterruptChange::kSwitchedOn) {
    PeriodicInterrupt(self->event_owner(), 1);
  }
}

void BoardDevice::OutNull(VyxDevice*, uint32_t, uint32_t) {}

void BoardDevice::PeriodicInterrupt(void* owner, uint32_t) {
  BoardDevice* self = From(static_cast<VyxDevice*>(owner));
  self->control_.PeriodicInterrupt(owner, &BoardDevice::PeriodicInterrupt);
  // A state says when the next event is due; the host's time is asked only for that.
  if (self->save_states_ && self->control_.armed() && self->timer_queue_ != nullptr) {
    self->interrupt_armed_at_ = self->timer_queue_->GetTime();
  }
}
