// An in-memory configuration dialog: sliders that clamp their position to their range, check
// boxes that hold their state, labels that hold their text. The reference host hands it to the
// page's dialog procedure as the dialog window.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "vyx/vyx_page.h"

class MemoryDialog : public DialogControls {
 public:
  struct Slider {
    int32_t min = 0;
    int32_t max = 100;  // a new trackbar's default range
    int32_t position = 0;
  };

  intptr_t SendItemMessage(int id, uint32_t message, uintptr_t wparam, intptr_t lparam) override;
  void CheckButton(int id, uint32_t state) override { checks_[id] = state; }
  uint32_t IsButtonChecked(int id) override { return checks_[id]; }
  void SetItemInt(int id, int32_t value) override { labels_[id] = std::to_string(value); }
  void SetItemText(int id, const char* text) override { labels_[id] = text ? text : ""; }
  void SetUserData(void* data) override { user_data_ = data; }
  void* GetUserData() override { return user_data_; }

  // What the user does: drag a slider (the control keeps it within its range), click a box.
  void MoveSlider(int id, int32_t position);
  const Slider& slider(int id) { return sliders_[id]; }
  std::string label(int id) const;

 private:
  std::map<int, Slider> sliders_;
  std::map<int, uint32_t> checks_;
  std::map<int, std::string> labels_;
  void* user_data_ = nullptr;
};
