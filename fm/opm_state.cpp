// OpmChip's saved state in the cores' common form (common/state_bytes.h, magic "OPMS"): the
// chip's own fields, then the timer, then the eight channels with their operators.
#include <algorithm>

#include "fm/opm_chip.h"

namespace {

constexpr uint32_t kOpmStateMagic = StateMagic("OPMS");
constexpr uint16_t kOpmStateVersion = 2;

}  // namespace

std::vector<uint8_t> OpmChip::SaveState() const {
  StateWriter out(kOpmStateMagic, kOpmStateVersion);
  Save(out);
  return out.Finish();
}

bool OpmChip::LoadState(const uint8_t* data, size_t size) {
  // Decoded into a copy, taken over only when every field was in range.
  OpmChip loaded(*this);
  StateReader in(data, size, kOpmStateMagic, kOpmStateVersion);
  loaded.Load(in);
  if (!in.Finish()) return false;
  *this = loaded;
  return true;
}

void OpmChip::Save(StateWriter& out) const {
  out.I32(volume_factor_);
  out.U32(rate_ratio_);
  out.U8(test_register_);
  out.U8(lfo_frequency_);
  out.U32(lfo_increment_);  // as of the last 0x18 write: a new rate reaches it only then
  out.U32(lfo_phase_);
  out.U32(lfo_prev_phase_);
  out.U32(lfo_sample_count_);
  out.U8(lfo_waveform_);
  out.U8(pmd_);
  out.U8(amd_);
  out.U8(noise_control_);
  out.I32(noise_counter_);
  out.U32(noise_shift_);
  for (int ch = 0; ch < kChannels; ++ch) {
    out.U8(key_code_[ch]);
    out.U8(key_fraction_[ch]);
    out.U8(pan_[ch]);
  }
  out.Bool(params_.chip_true);
  out.U8(static_cast<uint32_t>(params_.am_index));
  out.U8(static_cast<uint32_t>(params_.pm_index));
  timer_.Save(out);
  for (const FmChannel& channel : channels_) channel.Save(out);
}

void OpmChip::Load(StateReader& in) {
  volume_factor_ = in.I32(0, 51810);  // SetVolume's range: silence to +10 dB
  rate_ratio_ = in.U32();
  test_register_ = static_cast<uint8_t>(in.U8());
  lfo_frequency_ = static_cast<uint8_t>(in.U8());
  lfo_increment_ = in.U32();
  lfo_phase_ = in.U32();
  lfo_prev_phase_ = in.U32();
  lfo_sample_count_ = in.U32();
  lfo_waveform_ = in.U8(0, 3);
  pmd_ = in.U8(0, 127);
  amd_ = in.U8(0, 127);
  noise_control_ = static_cast<uint8_t>(in.U8());
  noise_counter_ = in.I32(0, 4096);  // NoiseStep keeps it there
  noise_shift_ = in.U32(0, 0xFFFF);
  for (int ch = 0; ch < kChannels; ++ch) {
    key_code_[ch] = static_cast<uint8_t>(in.U8());
    key_fraction_[ch] = static_cast<uint8_t>(in.U8(0, 63));
    pan_[ch] = static_cast<uint8_t>(in.U8(0, 3));
  }
  // The variant and the ratio before the channels: their derived values depend on both.
  params_.chip_true = in.Bool();
  params_.am_index = static_cast<int32_t>(in.U8());
  params_.pm_index = static_cast<int32_t>(in.U8());
  params_.SetRatio(rate_ratio_);
  timer_.Load(in);
  for (FmChannel& channel : channels_) channel.Load(in);
}
