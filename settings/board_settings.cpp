#include "settings/board_settings.h"

#include <cstdint>
#include <climits>
#include <string>

#include "settings/profile.h"

namespace {

// Widened so that extreme stored or applied values never overflow.
std::string Decimal(int64_t value) { return std::to_string(value); }

// "Volume0", "Output7": the stem and the decimal index.
std::string Key(const char* stem, int index) { return stem + std::to_string(index); }

}  // namespace

BoardSettings DefaultSettings() {
  BoardSettings settings{};
  for (int i = 0; i < 8; ++i) {
    settings.volume[i] = 0;
    settings.output[i] = 1;
  }
  settings.use_romeo = 0;
  return settings;
}

BoardSettings ReadSettings(ProfileFile& profile) {
  BoardSettings settings{};
  for (int i = 0; i < 8; ++i) {
    int64_t stored = profile.GetInt(kSettingsSection, Key("Volume", i).c_str(), kVolumeOffset);
    // A stored value near the int32 minimum cannot take the offset off; it stays the minimum.
    int64_t volume = stored - kVolumeOffset;
    settings.volume[i] = volume < INT32_MIN ? INT32_MIN : static_cast<int32_t>(volume);
  }
  for (int i = 0; i < 8; ++i) {
    settings.output[i] = profile.GetInt(kSettingsSection, Key("Output", i).c_str(), 1);
  }
  settings.use_romeo = profile.GetInt(kSettingsSection, "USE_ROMEO", 0);
  return settings;
}

bool WriteSettings(ProfileFile& profile, const BoardSettings& settings) {
  for (int i = 0; i < 8; ++i) {
    profile.WriteString(kSettingsSection, Key("Volume", i).c_str(),
                        Decimal(int64_t{settings.volume[i]} + kVolumeOffset).c_str());
  }
  for (int i = 0; i < 8; ++i) {
    profile.WriteString(kSettingsSection, Key("Output", i).c_str(),
                        Decimal(settings.output[i]).c_str());
  }
  profile.WriteString(kSettingsSection, "USE_ROMEO", Decimal(settings.use_romeo).c_str());
  return profile.Commit();
}

UnshownSettings ReadUnshownSettings(ProfileFile& profile) {
  UnshownSettings unshown;
  unshown.log_target = profile.GetString(kSettingsSection, kLogKey);
  unshown.fm_timers = profile.GetInt(kSettingsSection, kFmTimersKey, 0) == 1;
  unshown.save_states = profile.GetInt(kSettingsSection, kSaveStatesKey, 0) == 1;
  unshown.chip_sound = profile.GetInt(kSettingsSection, kChipSoundKey, 0) == 1;
  return unshown;
}
