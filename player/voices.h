// The board's voices as users name them for --mute, --solo and --stems:
//   fm1..fm8        the FM chip's channels             group fm
//   psg1a..psg4c    PSG 1-4, channels A-C              groups psg1..psg4, psg (all four)
//   tone1..tone3    the interval-timer tone voices     group tone
#pragma once

#include <bitset>
#include <string>
#include <vector>

inline constexpr int kVoiceFm = 0;      // fm1 = 0 .. fm8 = 7
inline constexpr int kVoicePsg = 8;     // psg1a = 8, psg1b = 9, .. psg4c = 19
inline constexpr int kVoiceTone = 20;   // tone1 = 20 .. tone3 = 22
inline constexpr int kVoiceCount = 23;

using VoiceSet = std::bitset<kVoiceCount>;

inline VoiceSet AllVoices() { return VoiceSet().set(); }

std::string VoiceName(int voice);

// Adds the voices that a comma-separated list names; false with a message naming the bad
// item. An empty list adds nothing.
bool ParseVoiceList(const std::string& list, VoiceSet* voices, std::string* error);

// The voices that sound: all of them, or only the solo ones when any are given, less the muted.
VoiceSet SelectVoices(const VoiceSet& solo, const VoiceSet& mute);

// Bits 0-2 of a PSG's channel mask (channels A-C) from the voice set.
inline unsigned PsgChannelMask(const VoiceSet& voices, int psg) {
  unsigned mask = 0;
  for (int c = 0; c < 3; ++c) {
    if (voices[kVoicePsg + 3 * psg + c]) mask |= 1u << c;
  }
  return mask;
}
