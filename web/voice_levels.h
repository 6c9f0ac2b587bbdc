// LevelChips: a song's chips, watched for the page's level view. Every write passes through to
// the chips and is kept: an FM channel's key-on, algorithm and carriers' total levels; a PSG
// channel's amplitude and mixer bits. From them each voice's loudness as its registers set it,
// 0 to 255 (a bar, not a measurement of the sound: an FM channel's envelope after its key-off
// and a PSG's envelope are not followed). A voice left out of the run shows 0.
//
// Copies (a seek's snapshots) keep what they saw; `live` points at the copy that played last.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "player/music_player.h"
#include "player/voices.h"

class LevelChips : public MusicChips {
 public:
  static constexpr int kVoices = 20;  // fm1..fm8, psg1a..psg4c

  LevelChips(std::unique_ptr<MusicChips> chips, const VoiceSet& voices, const LevelChips** live);

  void Write(uint8_t chip, uint8_t reg, uint8_t data) override;
  void Mix(StereoFrame* frames, int32_t count) override;
  uint64_t lead() const override { return chips_->lead(); }
  std::unique_ptr<MusicChips> Clone() const override;
  std::string Finish() override { return chips_->Finish(); }

  // Each voice's level, in the order above.
  std::array<uint8_t, kVoices> Levels() const;

 private:
  std::unique_ptr<MusicChips> chips_;
  VoiceSet voices_;
  const LevelChips** live_;
  uint8_t fm_keys_[8] = {};          // key-on bits 3-6 of register 0x08, by channel
  uint8_t fm_algorithm_[8] = {};
  uint8_t fm_total_level_[8][4] = {};  // by channel and slot (M1, M2, C1, C2)
  uint8_t psg_amplitude_[kMusicPsgCount][3] = {};
  uint8_t psg_mixer_[kMusicPsgCount] = {};
};
