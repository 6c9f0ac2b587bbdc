// The board's saved state: every part of the board that shapes what it plays next, in the
// cores' common byte form (common/state_bytes.h), magic "VBRD":
//
//   rate                 32-bit, the host's rate when the state was made
//   tone generator       its own state, after its 32-bit length
//   PSG 1-4              each: address latch (32-bit), its own state after its length
//   FM                   address latch (32-bit), the registers as written (FmRegisterFile),
//                        the chip's own state after its length (timers and LFO included)
//   control              its own state after its length
//   interrupt            pending (8-bit), host time units until its event (32-bit signed)
//
// Every part is a fixed size, so a state always has one size (GetStateSize). What the user set
// (volumes, routing, the FM timers switch, USE_ROMEO) is no part of it: after a load the parts
// take the current settings and the host's current rate again.
#include <cstring>

#include "common/le_bytes.h"
#include "common/state_bytes.h"
#include "module/board_clocks.h"
#include "module/board_device.h"

namespace {

constexpr uint32_t kBoardStateMagic = StateMagic("VBRD");
constexpr uint16_t kBoardStateVersion = 1;
constexpr size_t kMaxPartState = 1u << 20;  // far above any part's state

}  // namespace

int32_t BoardDevice::InterruptDueIn() const {
  if (!control_.armed() || timer_queue_ == nullptr) return 0;
  const int64_t due = interrupt_armed_at_ + BoardControl::kPeriod - timer_queue_->GetTime();
  return static_cast<int32_t>(due < 0 ? 0 : due > BoardControl::kPeriod ? BoardControl::kPeriod
                                                                       : due);
}

std::vector<uint8_t> BoardDevice::StateBytes() const {
  StateWriter out(kBoardStateMagic, kBoardStateVersion);
  out.U32(rate_);
  out.Nested(tone_.Save());
  for (const PsgSlot& slot : psgs_) {
    out.U32(slot.latch);
    out.Nested(slot.psg.Save());
  }
  out.U32(fm_latch_);
  fm_registers_.Save(out);
  out.Nested(opm_.SaveState());
  out.Nested(control_.Save());
  out.Bool(control_.armed());
  out.I32(InterruptDueIn());
  return out.Finish();
}

bool BoardDevice::LoadStateBytes(const uint8_t* data, size_t size) {
  StateReader in(data, size, kBoardStateMagic, kBoardStateVersion);
  const uint32_t saved_rate = in.U32(1, UINT32_MAX);
  // Every part decoded into a copy; the board takes them only when all of them are good.
  const uint8_t* part = nullptr;
  size_t part_size = 0;
  TimerTone tone = tone_;
  in.Nested(&part, &part_size, kMaxPartState);
  in.Require(tone.Restore(part, part_size));
  Psg psgs[kPsgCount] = {psgs_[0].psg, psgs_[1].psg, psgs_[2].psg, psgs_[3].psg};
  uint32_t psg_latches[kPsgCount] = {};
  for (int i = 0; i < kPsgCount; ++i) {
    psg_latches[i] = in.U32();
    in.Nested(&part, &part_size, kMaxPartState);
    in.Require(psgs[i].Restore(part, part_size));
  }
  const uint32_t fm_latch = in.U32();
  FmRegisterFile fm_registers;
  fm_registers.Load(in);
  OpmChip opm(opm_);
  in.Nested(&part, &part_size, kMaxPartState);
  in.Require(opm.LoadState(part, part_size));
  BoardControl control = control_;
  in.Nested(&part, &part_size, kMaxPartState);
  in.Require(control.Restore(part, part_size));
  const bool pending = in.Bool();
  const int32_t due_in = in.I32(0, BoardControl::kPeriod);
  in.Require(pending == control.armed());
  if (!in.Finish()) return false;

  Update();  // what is due is rendered with the state that was playing
  tone_ = tone;
  for (int i = 0; i < kPsgCount; ++i) {
    PsgChanging(i);
    psgs_[i].psg = psgs[i];
    psgs_[i].latch = psg_latches[i];
  }
  fm_latch_ = fm_latch;
  fm_registers_ = fm_registers;
  FmChanging();
  opm_ = opm;
  control_ = control;
  AfterLoad(saved_rate, pending, due_in);
  return true;
}

void BoardDevice::AfterLoad(uint32_t saved_rate, bool pending, int32_t due_in) {
  for (int c = 0; c < TimerTone::kVoices; ++c) tone_.SetVolume(c, tone_volume_[c]);
  for (PsgSlot& slot : psgs_) {
    slot.psg.SetVolume(ChipVolume(slot.volume));
    slot.psg.SetRouting(slot.routing);
  }
  ApplyFmVolume();
  opm_.SetTimersCounting(fm_timers_counting_);
  if (fm_sound_ != nullptr) {
    // The chips' own sound: each chip back in its behaviour (a state keeps the one it was made
    // with) and at its rate, its sound going on from the state.
    if (saved_rate != rate_) tone_.SetRate(kBoardToneClock, rate_);
    for (int i = 0; i < kPsgCount; ++i) SetChipSoundPsg(i);
    fm_sound_->Restart();
  } else {
    // The board as defined: a state made with the chips' own sound goes on in the board's
    // variants, the FM at the host's rate (its noise at the chip's full rate until register 6
    // is written again). For a state of the board's own, these change nothing.
    for (PsgSlot& slot : psgs_) {
      slot.psg.SetChipTrue(false);
      slot.psg.SetType(Psg::Type::kYm2149);
    }
    opm_.SetRate(kBoardFmClock, rate_);
    opm_.SetChipTrue(false);
    if (saved_rate != rate_) {
      // Made at another rate: the parts go on at the host's, as after its SetRate.
      tone_.SetRate(kBoardToneClock, rate_);
      for (PsgSlot& slot : psgs_) slot.psg.SetClock(kBoardPsgClock, rate_);
    }
  }
  // The interrupt's event: the one pending now is withdrawn, the state's armed with the time it
  // had left.
  if (timer_queue_ != nullptr) {
    void* owner = event_owner();
    timer_queue_->RemoveEvents(owner);
    if (pending) {
      timer_queue_->AddEvent(due_in, owner, &BoardDevice::PeriodicInterrupt, 1, 0);
      interrupt_armed_at_ = timer_queue_->GetTime() - (BoardControl::kPeriod - due_in);
    }
  }
  // The real chip and the log hear the registers as writes.
  if (RealChipPlays()) {
    real_chip_->Reset();
    fm_registers_.Replay([this](uint32_t address, uint32_t value) {
      real_chip_->WriteRegister(0, address, value);
    });
  }
  if (log_ != nullptr) {
    fm_registers_.Replay([this](uint32_t address, uint32_t value) {
      log_->FmWrite(address, value);
    });
    for (int i = 0; i < kPsgCount; ++i) {
      for (uint32_t reg = 0; reg < 16; ++reg) log_->PsgWrite(i, reg, psgs_[i].psg.GetRegister(reg));
    }
  }
}

uint32_t BoardDevice::GetStateSize() {
  FirstUse();
  if (!save_states_) return 0;
  // Every part has one size: the first state made tells it for good.
  if (state_size_ == 0) state_size_ = static_cast<uint32_t>(StateBytes().size());
  return state_size_;
}

bool BoardDevice::SaveState(void* buffer) {
  FirstUse();
  if (!save_states_ || buffer == nullptr) return false;
  // The chips as they are at the present.
  if (fm_sound_ != nullptr) fm_sound_->CatchUp();
  for (auto& sound : psg_sound_) {
    if (sound != nullptr) sound->CatchUp();
  }
  const std::vector<uint8_t> state = StateBytes();
  std::memcpy(buffer, state.data(), state.size());
  return true;
}

bool BoardDevice::LoadState(const void* buffer) {
  FirstUse();
  if (!save_states_ || buffer == nullptr) return false;
  // The host's buffer holds GetStateSize() bytes; nothing past the header is read unless the
  // header names a state of exactly that size.
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  const size_t size = GetStateSize();
  if (Le32(bytes) != kBoardStateMagic || Le32(bytes + 8) != size - StateWriter::kHeaderSize - 4) {
    return false;
  }
  return LoadStateBytes(bytes, size);
}
