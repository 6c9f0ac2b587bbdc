#include "player/music_chips.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/board_ports.h"
#include "psg/step_kernel.h"

#include "player/chip_resampler.h"

namespace {

constexpr uint32_t kOpmPanRegister = 0x20;   // 0x20-0x27: bits 6-7 pan
constexpr uint8_t kPanBits = 0xC0;
constexpr uint8_t kPsgAmplitudeA = 8;         // 8-10: channels A-C

uint8_t FmMutedChannels(const VoiceSet& voices) {
  uint8_t muted = 0;
  for (int ch = 0; ch < 8; ++ch) {
    if (!voices[kVoiceFm + ch]) muted |= static_cast<uint8_t>(1u << ch);
  }
  return muted;
}

// The data of an FM write with the pan bits of a left-out channel cleared.
uint8_t FmData(uint8_t muted, uint8_t reg, uint8_t data) {
  if ((reg & 0xF8) == kOpmPanRegister && ((muted >> (reg & 7)) & 1)) {
    return static_cast<uint8_t>(data & ~kPanBits);
  }
  return data;
}

}  // namespace

DirectChips::DirectChips(const MusicLog& log, uint32_t rate, const VoiceSet& voices,
                         const ChipsOptions& options)
    : rate_(rate), band_limited_(options.resample) {
  fm_muted_ = FmMutedChannels(voices);
  size_t fm_latency = 0;
  if (log.opm_clock != 0) {
    opm_on_ = fm_muted_ != 0xFF;
    fm_factor_ = GainFactor(options.gain_db + options.fm_gain_db) * log.volume_factor() *
                 log.opm_volume;
    fm_latency = SetUpOpm(log.opm_clock, rate, options.resample);
  }
  bool any_psg = false;
  for (int i = 0; i < kMusicPsgCount; ++i) {
    if (!log.has_psg(i)) continue;
    any_psg = true;
    if (options.ay_curve && log.psg_is_ay(i)) psg_[i].SetType(Psg::Type::kAy8910);
    // Band-limited, the PSG plays as the chip does (output, noise, levels, counter rules).
    if (band_limited_) psg_[i].SetChipTrue(true);
    // The Psg clock is half the AY's master clock: the AY's tone is master / (16 x TP).
    psg_[i].SetClock(log.psg_clock[i] / 2, rate);
    // The chips' output is one-sided: it passes a DC blocker.
    psg_output_[i] = std::make_unique<PsgOutput>(rate, band_limited_, band_limited_);
    if (options.psg_stereo != PsgStereo::kMono && options.stereo_width > 0) {
      psg_output_[i]->SetPan(PsgPan(options.psg_stereo, options.stereo_width));
    }
    psg_factor_[i] = GainFactor(options.gain_db + options.psg_gain_db) * log.volume_factor() *
                     log.psg_volume[i];
    const unsigned mask = PsgChannelMask(voices, i);
    psg_[i].SetChannelMask(mask);
    psg_on_[i] = mask != 0;
  }
  // Both chips reach the output equally late, so that their notes stay together; the player
  // makes up for that latency by writing that far ahead.
  const size_t psg_latency = any_psg && band_limited_ ? StepKernel::kDelay : 0;
  lead_ = std::max(fm_latency, psg_latency);
  if (log.opm_clock != 0) fm_delay_ = FrameDelay(lead_ - fm_latency);
  if (any_psg) psg_delay_ = FrameDelay(lead_ - psg_latency);
}

size_t DirectChips::SetUpOpm(uint32_t clock, uint32_t rate, bool resample) {
  opm_clock_ = clock;
  size_t latency = 0;
  if (resample) {
    // At clock / 64 the chip's rate ratio rounds to exactly 1: one frame a chip sample.
    const double chip_rate = clock / 64.0;
    opm_.Init(clock, static_cast<uint32_t>(std::lround(chip_rate)));
    opm_resampler_ = std::make_unique<ChipResampler>(
        clock, 64, rate, [this](StereoFrame* f, int32_t n) { opm_.Mix(f, n); });
    if (opm_resampler_->ok()) {
      latency = opm_resampler_->latency();
    } else {
      opm_resampler_.reset();
    }
  }
  if (opm_resampler_ == nullptr) opm_.Init(clock, rate);
  // Converted from its own rate, the FM plays as the chip does (OpmChip::SetChipTrue).
  opm_.SetChipTrue(opm_resampler_ != nullptr);
  // The chip's timers run, so that a song's CSM writes sound as recorded.
  opm_.SetTimersCounting(true);
  return latency;
}

DirectChips::DirectChips(const DirectChips& other)
    : MusicChips(),
      rate_(other.rate_),
      band_limited_(other.band_limited_),
      fm_delay_(other.fm_delay_),
      psg_delay_(other.psg_delay_),
      fm_factor_(other.fm_factor_),
      opm_on_(other.opm_on_),
      fm_muted_(other.fm_muted_),
      lead_(other.lead_) {
  std::copy(std::begin(other.psg_), std::end(other.psg_), psg_);
  // Each PSG's output stage as it stands: placement, filters and the steps on their way out.
  for (int i = 0; i < kMusicPsgCount; ++i) {
    if (other.psg_output_[i] != nullptr) {
      psg_output_[i] = std::make_unique<PsgOutput>(*other.psg_output_[i]);
    }
  }
  std::copy(std::begin(other.psg_factor_), std::end(other.psg_factor_), psg_factor_);
  std::copy(std::begin(other.psg_on_), std::end(other.psg_on_), psg_on_);
  if (other.opm_clock_ == 0) return;
  // The converter's latency is the same for the same rates: the delays copied still fit it.
  SetUpOpm(other.opm_clock_, rate_, other.opm_resampler_ != nullptr);
  opm_ = other.opm_;
}

std::unique_ptr<MusicChips> DirectChips::Clone() const {
  return std::unique_ptr<MusicChips>(new DirectChips(*this));
}

DirectChips::~DirectChips() = default;

void DirectChips::Write(uint8_t chip, uint8_t reg, uint8_t data) {
  if (chip == kChipOpm) {
    data = FmData(fm_muted_, reg, data);
    opm_.Write(reg, data);
  } else if (chip >= kChipPsg1 && chip < kChipPsg1 + kMusicPsgCount) {
    psg_[chip - kChipPsg1].SetRegister(reg, data);
  }
}

template <class Render>
void DirectChips::MixScaled(double factor, StereoFrame* frames, int32_t count, Render render) {
  if (factor == 1) {
    render(frames, count);
    return;
  }
  scaled_.assign(static_cast<size_t>(count), StereoFrame{0, 0});
  render(scaled_.data(), count);
  AddScaled(scaled_.data(), frames, count, factor);
}

void DirectChips::MixPsgs(StereoFrame* frames, int32_t count) {
  // A chip with every voice left out adds only zeros: it need not run.
  for (int i = 0; i < kMusicPsgCount; ++i) {
    if (!psg_on_[i]) continue;
    MixScaled(psg_factor_[i], frames, count, [this, i](StereoFrame* f, int32_t n) {
      psg_output_[i]->Mix(psg_[i], f, n);
    });
  }
}

void DirectChips::MixFm(StereoFrame* frames, int32_t count) {
  MixScaled(fm_factor_, frames, count, [this](StereoFrame* f, int32_t n) {
    if (opm_resampler_ != nullptr) {
      opm_resampler_->Mix(f, n);
    } else {
      opm_.Mix(f, n);
    }
  });
}

template <class Render>
void DirectChips::MixHeld(FrameDelay& delay, StereoFrame* frames, int32_t count, Render render) {
  if (delay.frames() == 0) {
    render(frames, count);
    return;
  }
  held_.assign(static_cast<size_t>(count), StereoFrame{0, 0});
  render(held_.data(), count);
  delay.Pass(held_.data(), frames, count);
}

void DirectChips::Mix(StereoFrame* frames, int32_t count) {
  bool any_psg = false;
  for (bool on : psg_on_) any_psg = any_psg || on;
  if (any_psg) {
    MixHeld(psg_delay_, frames, count, [this](StereoFrame* f, int32_t n) { MixPsgs(f, n); });
  }
  if (opm_on_) {
    MixHeld(fm_delay_, frames, count, [this](StereoFrame* f, int32_t n) { MixFm(f, n); });
  }
}

std::unique_ptr<BoardChips> BoardChips::Create(const LoadedBoard::Factory& factory,
                                               uint32_t rate, const VoiceSet& voices,
                                               double gain_db, const RunFiles& run_files,
                                               const HostSwitchValues& switches,
                                               const MusicLog* retune_for, std::string* error) {
  std::unique_ptr<BoardChips> chips(new BoardChips());
  if (retune_for != nullptr) {
    chips->retune_ = std::make_unique<BoardRetune>(
        *retune_for, [raw = chips.get()](uint8_t chip, uint8_t reg, uint8_t data) {
          raw->WriteBoard(chip, reg, data);
        });
  }
  chips->fm_muted_ = FmMutedChannels(voices);
  chips->factor_ = GainFactor(gain_db);
  for (int i = 0; i < kMusicPsgCount; ++i) {
    chips->psg_muted_[i] = static_cast<uint8_t>(~PsgChannelMask(voices, i) & 7u);
  }
  ReferenceHost& host = chips->board_.host();
  host.SetRate(rate);
  host.set_run_files(run_files);
  host.set_switches(switches);
  host.set_frame_sink([raw = chips.get()](const StereoFrame* frames, int32_t count) {
    if (raw->factor_ != 1) {
      AddScaled(frames, raw->out_, count, raw->factor_);
    } else {
      for (int32_t i = 0; i < count; ++i) {
        raw->out_[i].left += frames[i].left;
        raw->out_[i].right += frames[i].right;
      }
    }
    raw->out_ += count;
    return true;
  });
  if (!chips->board_.Create(factory)) {
    *error = "VyxCreateModule returned null (the board refused to bind)";
    return nullptr;
  }
  host.UseDevice();
  if (!host.file_failure().empty()) {
    *error = host.file_failure();
    return nullptr;
  }
  return chips;
}

BoardChips::~BoardChips() = default;

std::string BoardChips::Finish() {
  board_.Release();
  return board_.host().file_failure();
}

void BoardChips::Write(uint8_t chip, uint8_t reg, uint8_t data) {
  if (retune_ != nullptr) {
    retune_->Write(chip, reg, data);
  } else {
    WriteBoard(chip, reg, data);
  }
}

void BoardChips::WriteBoard(uint8_t chip, uint8_t reg, uint8_t data) {
  if (chip == kChipOpm) {
    board_.host().PortOut(kPortFmAddress, reg);
    board_.host().PortOut(kPortFmData, FmData(fm_muted_, reg, data));
  } else if (chip >= kChipPsg1 && chip < kChipPsg1 + kMusicPsgCount) {
    const int index = chip - kChipPsg1;
    if (reg >= kPsgAmplitudeA && reg < kPsgAmplitudeA + 3 &&
        ((psg_muted_[index] >> (reg - kPsgAmplitudeA)) & 1)) {
      data = 0;
    }
    board_.host().PortOut(PsgAddressPort(index), reg);
    board_.host().PortOut(PsgDataPort(index), data);
  }
}

void BoardChips::Mix(StereoFrame* frames, int32_t count) {
  // The host renders into its own zeroed buffer and hands the frames, block by block, to the
  // sink, which adds them into these.
  out_ = frames;
  board_.host().Wait(static_cast<uint64_t>(count));
  out_ = nullptr;
}
