#include "host/memory_dialog.h"

#include <algorithm>

intptr_t MemoryDialog::SendItemMessage(int id, uint32_t message, uintptr_t, intptr_t lparam) {
  Slider& s = sliders_[id];
  switch (message) {
    case kTbmGetPos:
      return s.position;
    case kTbmSetPos:
      s.position = std::clamp(static_cast<int32_t>(lparam), s.min, s.max);
      return 0;
    case kTbmSetRange: {
      // Minimum in the low, maximum in the high 16 bits, both signed.
      s.min = static_cast<int16_t>(static_cast<uint32_t>(lparam) & 0xFFFF);
      s.max = static_cast<int16_t>((static_cast<uint32_t>(lparam) >> 16) & 0xFFFF);
      s.position = std::clamp(s.position, s.min, std::max(s.min, s.max));
      return 0;
    }
    default:
      return 0;
  }
}

void MemoryDialog::MoveSlider(int id, int32_t position) {
  Slider& s = sliders_[id];
  s.position = std::clamp(position, s.min, std::max(s.min, s.max));
}

std::string MemoryDialog::label(int id) const {
  auto it = labels_.find(id);
  return it == labels_.end() ? std::string("0") : it->second;
}
