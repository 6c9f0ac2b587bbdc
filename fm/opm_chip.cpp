#include "fm/opm_chip.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "fm/fm_convert.h"
#include "fm/fm_tables.h"

OpmChip::OpmChip() { Bind(); }

OpmChip::OpmChip(const OpmChip& other) { *this = other; }

OpmChip& OpmChip::operator=(const OpmChip& other) {
  if (this == &other) return *this;
  volume_factor_ = other.volume_factor_;
  rate_ratio_ = other.rate_ratio_;
  test_register_ = other.test_register_;
  lfo_frequency_ = other.lfo_frequency_;
  lfo_increment_ = other.lfo_increment_;
  lfo_phase_ = other.lfo_phase_;
  lfo_prev_phase_ = other.lfo_prev_phase_;
  lfo_sample_count_ = other.lfo_sample_count_;
  lfo_waveform_ = other.lfo_waveform_;
  pmd_ = other.pmd_;
  amd_ = other.amd_;
  noise_control_ = other.noise_control_;
  noise_counter_ = other.noise_counter_;
  noise_shift_ = other.noise_shift_;
  lfsr_ = other.lfsr_;
  lfsr_steps_ = other.lfsr_steps_;
  std::copy(std::begin(other.key_code_), std::end(other.key_code_), key_code_);
  std::copy(std::begin(other.key_fraction_), std::end(other.key_fraction_), key_fraction_);
  std::copy(std::begin(other.pan_), std::end(other.pan_), pan_);
  std::copy(std::begin(other.channels_), std::end(other.channels_), channels_);
  params_ = other.params_;
  timer_ = other.timer_;
  Bind();
  return *this;
}

void OpmChip::Bind() {
  for (FmChannel& channel : channels_) channel.BindChip(&params_);
  params_.regather = true;
  lfo_indexed_step_ = kNoLfoStep;
  timer_.SetHooks({this, &OpmChip::TimerAOverflow, nullptr});
}

bool OpmChip::Init(uint32_t clock, uint32_t rate) {
  SetRate(clock, rate);
  Reset();
  volume_factor_ = kUnityVolume;
  return true;
}

bool OpmChip::SetRate(uint32_t clock, uint32_t rate) {
  if (rate == 0) return true;
  uint64_t timer_clock = clock / 64;
  // Rounded to the nearest 1/128; only a rate of a few Hz could exceed 32 bits.
  rate_ratio_ = SaturateToUint32((timer_clock * 128 + rate / 2) / rate);
  timer_.SetTime(clock, rate);
  params_.SetRatio(rate_ratio_);
  return true;
}

void OpmChip::Reset() {
  for (uint32_t address = 0; address < 256; ++address) Write(address, 0);
  Write(0x19, 0x80);  // PMD 0; AMD is already 0
  timer_.Clear();
  noise_shift_ = 12345;
  noise_counter_ = 0;
  for (FmChannel& channel : channels_) channel.Reset();
  params_.regather = true;
}

void OpmChip::SetChipTrue(bool on) {
  // Set again, it changes nothing: a restored state plays on as it was.
  if (on == params_.chip_true) return;
  params_.chip_true = on;
  params_.regather = true;
  lfo_indexed_step_ = kNoLfoStep;
  // Every operator derives its pitch again; envelopes and the mix follow from their next step.
  for (int ch = 0; ch < kChannels; ++ch) channels_[ch].SetPitch(key_code_[ch], key_fraction_[ch]);
}

void OpmChip::SetVolume(int32_t setting) {
  if (setting > 20) setting = 20;
  if (setting <= -192) {
    volume_factor_ = 0;
    return;
  }
  volume_factor_ = SaturateToInt32(kUnityVolume * std::pow(10.0, setting / 40.0));
}

void OpmChip::TimerAOverflow(void* owner) {
  auto* chip = static_cast<OpmChip*>(owner);
  if (!chip->timer_.csm()) return;
  chip->params_.regather = true;
  for (FmChannel& channel : chip->channels_) {
    channel.WriteKeys(0, false);
    channel.WriteKeys(15, false);
  }
}

void OpmChip::Write(uint32_t address, uint32_t data) {
  if (address >= 256) return;
  data &= 0xFF;
  params_.regather = true;
  if (address >= 0x40) {
    WriteOperator(address, data);
  } else if (address >= 0x20) {
    WriteChannel(address, data);
  } else {
    WriteControl(address, data);
  }
}

void OpmChip::WriteControl(uint32_t address, uint32_t data) {
  switch (address) {
    case 0x01:
      test_register_ = static_cast<uint8_t>(data);
      if (data & 2) {
        lfo_phase_ = 0;
        lfo_prev_phase_ = 0xFFFFFFFF;
      }
      break;
    case 0x08: WriteKeys(data); break;
    case 0x0F:
      noise_control_ = static_cast<uint8_t>(data);
      noise_counter_ = 0;
      break;
    case 0x10: case 0x11: case 0x12: case 0x14: timer_.Write(address, data); break;
    case 0x18: {
      lfo_frequency_ = static_cast<uint8_t>(data);
      uint64_t increment = static_cast<uint64_t>((data & 15) + 16) * rate_ratio_ * 32;
      lfo_increment_ = SaturateToUint32(increment >> (15 - (data >> 4)));
      break;
    }
    case 0x19:
      lfo_indexed_step_ = kNoLfoStep;
      if (data & 0x80) {
        pmd_ = data & 0x7F;
      } else {
        amd_ = data & 0x7F;
      }
      break;
    case 0x1B:
      lfo_indexed_step_ = kNoLfoStep;
      lfo_waveform_ = data & 3;  // bits 6-7 drive the chip's control outputs: unused
      break;
    default:  // no function
      break;
  }
}

void OpmChip::WriteKeys(uint32_t data) {
  // bit 0 M1, 1 C1, 2 M2, 3 C2; timer A owns the key-on in CSM mode
  channels_[data & 7].WriteKeys((data >> 3) & 15, timer_.csm());
}

void OpmChip::WriteChannel(uint32_t address, uint32_t data) {
  const uint32_t ch = address & 7;
  FmChannel& channel = channels_[ch];
  switch (address >> 3) {
    case 0x20 >> 3:
      channel.SetFeedback(FeedbackShifts[(data >> 3) & 7]);
      channel.SelectAlgorithm(data & 7);
      pan_[ch] = static_cast<uint8_t>(data >> 6);
      break;
    case 0x28 >> 3:
      key_code_[ch] = static_cast<uint8_t>(data);
      channel.SetPitch(key_code_[ch], key_fraction_[ch]);
      break;
    case 0x30 >> 3:
      key_fraction_[ch] = static_cast<uint8_t>(data >> 2);
      channel.SetPitch(key_code_[ch], key_fraction_[ch]);
      break;
    default:  // 0x38-0x3F
      // PMS arrives in bits 4-6 and AMS in bits 0-1; the channel wants them the other way.
      channel.SetLfoSensitivity(((data >> 4) | (data << 4)) & 0xFF);
      break;
  }
}

void OpmChip::WriteOperator(uint32_t address, uint32_t data) {
  channels_[address & 7].WriteOperator(SlotOrder[(address >> 3) & 3], address >> 5, data,
                                       timer_.csm());
}
