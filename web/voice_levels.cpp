#include "web/voice_levels.h"

#include <algorithm>

namespace {

// The slots (M1, M2, C1, C2 = bits 0-3) that reach the output, by algorithm.
constexpr uint8_t kCarriers[8] = {0x8, 0x8, 0x8, 0x8, 0xC, 0xE, 0xE, 0xF};
// Key-on bits 3-6 name the slots C2, M2, C1, M1 from the top: as slot bits.
uint8_t KeyedSlots(uint8_t keys) {
  return static_cast<uint8_t>(((keys >> 3) & 1) | (((keys >> 5) & 1) << 1) |
                              (((keys >> 4) & 1) << 2) | (((keys >> 6) & 1) << 3));
}

// A total level (0.75 dB steps) or a PSG amplitude (3 dB steps on the board's curve) shown
// over 48 dB.
uint8_t Bar(double db_down) {
  return static_cast<uint8_t>(std::clamp(255.0 * (1.0 - db_down / 48.0), 0.0, 255.0));
}

}  // namespace

LevelChips::LevelChips(std::unique_ptr<MusicChips> chips, const VoiceSet& voices,
                       const LevelChips** live)
    : chips_(std::move(chips)), voices_(voices), live_(live) {
  for (uint8_t& mixer : psg_mixer_) mixer = 0x3F;  // power-on: every source off
}

void LevelChips::Write(uint8_t chip, uint8_t reg, uint8_t data) {
  if (chip == kChipOpm) {
    const int ch = reg & 7;
    if (reg == 0x08) {
      fm_keys_[data & 7] = data & 0x78;
    } else if ((reg & 0xF8) == 0x20) {
      fm_algorithm_[ch] = data & 7;
    } else if (reg >= 0x60 && reg < 0x80) {
      fm_total_level_[ch][(reg >> 3) & 3] = data & 0x7F;
    }
  } else if (chip >= kChipPsg1 && chip < kChipPsg1 + kMusicPsgCount) {
    const int psg = chip - kChipPsg1;
    if (reg == 7) psg_mixer_[psg] = data;
    if (reg >= 8 && reg < 11) psg_amplitude_[psg][reg - 8] = data & 0x1F;
  }
  chips_->Write(chip, reg, data);
}

void LevelChips::Mix(StereoFrame* frames, int32_t count) {
  *live_ = this;
  chips_->Mix(frames, count);
}

std::unique_ptr<MusicChips> LevelChips::Clone() const {
  std::unique_ptr<MusicChips> chips = chips_->Clone();
  if (chips == nullptr) return nullptr;
  auto copy = std::make_unique<LevelChips>(std::move(chips), voices_, live_);
  std::copy(std::begin(fm_keys_), std::end(fm_keys_), copy->fm_keys_);
  std::copy(std::begin(fm_algorithm_), std::end(fm_algorithm_), copy->fm_algorithm_);
  std::copy(&fm_total_level_[0][0], &fm_total_level_[0][0] + 32, &copy->fm_total_level_[0][0]);
  std::copy(&psg_amplitude_[0][0], &psg_amplitude_[0][0] + 3 * kMusicPsgCount,
            &copy->psg_amplitude_[0][0]);
  std::copy(std::begin(psg_mixer_), std::end(psg_mixer_), copy->psg_mixer_);
  return copy;
}

std::array<uint8_t, LevelChips::kVoices> LevelChips::Levels() const {
  std::array<uint8_t, kVoices> levels{};
  for (int ch = 0; ch < 8; ++ch) {
    const uint8_t sounding = KeyedSlots(fm_keys_[ch]) & kCarriers[fm_algorithm_[ch]];
    if (!voices_[kVoiceFm + ch] || sounding == 0) continue;
    int loudest = 127;
    for (int slot = 0; slot < 4; ++slot) {
      if ((sounding >> slot) & 1) loudest = std::min<int>(loudest, fm_total_level_[ch][slot]);
    }
    if (loudest < 127) levels[ch] = Bar(0.75 * loudest);
  }
  for (int psg = 0; psg < kMusicPsgCount; ++psg) {
    for (int c = 0; c < 3; ++c) {
      const int voice = kVoicePsg + 3 * psg + c;
      const bool source_on =
          ((psg_mixer_[psg] >> c) & 1) == 0 || ((psg_mixer_[psg] >> (c + 3)) & 1) == 0;
      if (!voices_[voice] || !source_on) continue;
      const uint8_t amplitude = psg_amplitude_[psg][c];
      // Bit 4: the envelope sets the level, which sweeps the whole range; shown full.
      if (amplitude & 0x10) {
        levels[voice - kVoiceFm] = 255;
      } else if (amplitude != 0) {
        levels[voice - kVoiceFm] = Bar(3.0 * (15 - amplitude));
      }
    }
  }
  return levels;
}
