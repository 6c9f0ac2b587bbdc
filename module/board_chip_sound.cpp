// The board heard as the chips on it sounded, on request: the FM chip in its own variant at its
// own rate (clock / 64) converted to the host's, each PSG in the chips' behaviour on the
// AY-3-8910's output curve, band-limited and DC-blocked; the tone voices, the volumes, the
// routing and the interrupt as the board defines them. Neither adds delay (chip_sound/).
#include "module/board_device.h"

void BoardDevice::SetChipSound(bool on) {
  if (on == chip_sound_) return;
  chip_sound_ = on;
  // Before Init the chips are not set up yet: Init starts it.
  if (!initialized_) return;
  if (on && rate_ >= kMinChipSoundRate) {
    StartChipSound();
  } else if (!on && fm_sound_ != nullptr) {
    StopChipSound();
  }
}

void BoardDevice::StartChipSound() {
  for (int i = 0; i < kPsgCount; ++i) {
    SetChipSoundPsg(i);
    psg_sound_[i] = std::make_unique<PsgChipSound>(&psgs_[i].psg, rate_);
  }
  fm_sound_ = std::make_unique<FmChipSound>(&opm_, kBoardFmClock, rate_);
  ApplyFmVolume();
}

void BoardDevice::ApplyFmVolume() {
  if (fm_sound_ != nullptr) {
    // The volume is applied after the conversion, to the chip's sound at unity.
    fm_sound_->SetVolume(ChipVolume(fm_volume_));
    opm_.SetVolume(0);
  } else {
    opm_.SetVolume(ChipVolume(fm_volume_));
  }
}

void BoardDevice::SetChipSoundPsg(int index) {
  Psg& psg = psgs_[index].psg;
  // The behaviour first: the clock then sets every step for it.
  psg.SetChipTrue(true);
  psg.SetType(Psg::Type::kAy8910);
  psg.SetClock(kBoardPsgClock, rate_);
}

void BoardDevice::StopChipSound() {
  FmChanging();
  fm_sound_.reset();
  ApplyFmVolume();
  // The rate first: a chip that changes variant derives its pitches at the rate it then has.
  opm_.SetRate(kBoardFmClock, rate_);
  opm_.SetChipTrue(false);
  for (int i = 0; i < kPsgCount; ++i) {
    PsgChanging(i);  // at the present before it goes on as the board's
    Psg& psg = psgs_[i].psg;
    psg.SetChipTrue(false);
    psg.SetType(Psg::Type::kYm2149);
    psg.SetClock(kBoardPsgClock, rate_);
    psg_sound_[i].reset();
  }
}
