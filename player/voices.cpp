#include "player/voices.h"

#include "common/ascii.h"

std::string VoiceName(int voice) {
  if (voice >= kVoiceFm && voice < kVoicePsg) return "fm" + std::to_string(voice - kVoiceFm + 1);
  if (voice >= kVoicePsg && voice < kVoiceTone) {
    const int i = voice - kVoicePsg;
    return "psg" + std::to_string(i / 3 + 1) + static_cast<char>('a' + i % 3);
  }
  if (voice >= kVoiceTone && voice < kVoiceCount) {
    return "tone" + std::to_string(voice - kVoiceTone + 1);
  }
  return "?";
}

namespace {

bool AddVoiceName(const std::string& name, VoiceSet* voices) {
  if (name == "fm") {
    for (int v = kVoiceFm; v < kVoicePsg; ++v) voices->set(v);
    return true;
  }
  if (name == "psg") {
    for (int v = kVoicePsg; v < kVoiceTone; ++v) voices->set(v);
    return true;
  }
  if (name == "tone") {
    for (int v = kVoiceTone; v < kVoiceCount; ++v) voices->set(v);
    return true;
  }
  if (name.size() == 4 && name.compare(0, 3, "psg") == 0 && name[3] >= '1' && name[3] <= '4') {
    const int first = kVoicePsg + 3 * (name[3] - '1');
    for (int v = first; v < first + 3; ++v) voices->set(v);
    return true;
  }
  for (int v = 0; v < kVoiceCount; ++v) {
    if (VoiceName(v) == name) {
      voices->set(v);
      return true;
    }
  }
  return false;
}

}  // namespace

bool ParseVoiceList(const std::string& list, VoiceSet* voices, std::string* error) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string item = list.substr(start, comma - start);
    // Spaces around an item are allowed; case does not matter.
    while (!item.empty() && item.front() == ' ') item.erase(item.begin());
    while (!item.empty() && item.back() == ' ') item.pop_back();
    item = AsciiLower(item);
    if (!item.empty() && !AddVoiceName(item, voices)) {
      *error = "unknown voice '" + item + "' (voices: fm1..fm8, psg1a..psg4c, tone1..tone3; "
               "groups: fm, psg, psg1..psg4, tone)";
      return false;
    }
    start = comma + 1;
  }
  return true;
}

VoiceSet SelectVoices(const VoiceSet& solo, const VoiceSet& mute) {
  VoiceSet voices = solo.any() ? solo : AllVoices();
  return voices & ~mute;
}
