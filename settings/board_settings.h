// The 17 persisted user settings of the board and their place in the host's settings file.
//
//   section "VORLA"
//   Volume0-Volume2   tone voices "TAV ch1"-"TAV ch3"   stored as volume + 100 (default 100)
//   Volume3-Volume6   "PSG 1"-"PSG 4"                    stored as volume + 100 (default 100)
//   Volume7           "OPM"                              stored as volume + 100 (default 100)
//   Output0-Output7   PSG i+1 left (2i) / right (2i+1)   0 off, 1 on (default 1)
//   USE_ROMEO         FM writes to the real chip          0 off, other on (default 0)
//
// Volumes are in half-decibel steps, 0 = unity, -40 and below = mute. Nothing is validated or
// clamped on the way in: the device receives what the file holds.
#pragma once

#include <cstdint>
#include <string>

class ProfileFile;

struct BoardSettings {
  int32_t volume[8];
  int32_t output[8];
  int32_t use_romeo;
};
static_assert(sizeof(BoardSettings) == 17 * sizeof(int32_t), "17 int32 values in stored order");

inline constexpr char kSettingsSection[] = "VORLA";
inline constexpr int32_t kVolumeOffset = 100;

// The values of a missing file: unity volumes, every output on, USE_ROMEO off.
BoardSettings DefaultSettings();

// Reads all 17 keys (defaults for missing ones).
BoardSettings ReadSettings(ProfileFile& profile);

// Writes all 17 keys in order: Volume0-7, Output0-7, USE_ROMEO; then commits the file.
bool WriteSettings(ProfileFile& profile, const BoardSettings& settings);

// The keys of the section that the page neither shows nor saves (the file keeps them as they
// are), read by the module beside the page from the same read of the file.
inline constexpr char kLogKey[] = "LOG";
inline constexpr char kFmTimersKey[] = "FMTIMERS";
inline constexpr char kSaveStatesKey[] = "SAVESTATES";
inline constexpr char kChipSoundKey[] = "CHIPSOUND";
struct UnshownSettings {
  // "LOG": the register log the board keeps, a file name (.s98 or .vgm) or a folder; empty
  // when the key is missing.
  std::string log_target;
  // "FMTIMERS": 1 makes the FM timers count down (status flags, CSM key-ons); anything else
  // leaves them as the board defines them, never counting.
  bool fm_timers = false;
  // "SAVESTATES": 1 makes the board save and restore its state for the host; anything else
  // leaves it as defined, keeping none.
  bool save_states = false;
  // "CHIPSOUND": 1 makes the FM and the PSGs sound as the chips on the board did; anything else
  // leaves the board's sound as defined.
  bool chip_sound = false;
};
UnshownSettings ReadUnshownSettings(ProfileFile& profile);

// Whatever applies the settings to the board (the device).
class SettingsTarget {
 public:
  virtual void ApplySettings(const BoardSettings& settings) = 0;

 protected:
  ~SettingsTarget() = default;
};
