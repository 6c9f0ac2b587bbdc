#include "settings/config_page.h"

#include <cstring>

#include "settings/dialog_controls.h"
#include "platform/program_directory.h"
#include "settings/profile.h"

namespace {

// set-range packs the minimum in the low and the maximum in the high 16 bits: 0x14FFD8.
constexpr intptr_t kPackedRange =
    static_cast<intptr_t>((static_cast<uint32_t>(kSliderMax) << 16) |
                          (static_cast<uint32_t>(kSliderMin) & 0xFFFF));

// The page's check boxes: the eight PSG output boxes and USE_ROMEO.
bool IsCheckBox(int id) {
  for (int check : kOutputChecks) {
    if (check == id) return true;
  }
  return id == kUseRomeoCheck;
}

}  // namespace

void ConfigPage::Load(ProfileFile& profile, void* instance, SettingsTarget* device) {
  path_ = profile.path();
  settings_ = ReadSettings(profile);
  device_ = device;
  instance_ = instance;
  if (device_ != nullptr) device_->ApplySettings(settings_);
}

void ConfigPage::Load(void* instance, SettingsTarget* device) {
  ProfileFile profile(path_.empty() ? HostSettingsPath() : path_);
  Load(profile, instance, device);
}

bool ConfigPage::Save() {
  ProfileFile profile(path_);
  return WriteSettings(profile, settings_);
}

bool VYXCALL ConfigPage::FillPageRecord(HostPageSite* site, void* record) {
  site_ = site;
  if (record == nullptr) return true;
  PropSheetPageRecord page{};
  page.size = sizeof(PropSheetPageRecord);
  page.flags = 0;  // no title, no icon, no notification routine: the template's caption shows
  page.instance = instance_;
  page.template_id = reinterpret_cast<const char*>(static_cast<uintptr_t>(kDialogTemplateId));
  page.dialog_proc = &ConfigPage::DialogProc;
  // The dialog procedure finds its page through the record's application data, which the
  // platform hands to WM_INITDIALOG, and then through the dialog's user data.
  page.application_data = reinterpret_cast<intptr_t>(this);
  std::memcpy(record, &page, sizeof page);
  return true;
}

intptr_t VYXCALL ConfigPage::DialogProc(void* dialog_window, uint32_t message, uintptr_t wparam,
                                        intptr_t lparam) {
  DialogControls* controls = ControlsOfDialog(dialog_window);
  if (controls == nullptr) return 0;
  ConfigPage* page = nullptr;
  if (message == kWmInitDialog) {
    const auto* record = reinterpret_cast<const PropSheetPageRecord*>(lparam);
    if (record == nullptr) return 0;
    page = reinterpret_cast<ConfigPage*>(record->application_data);
    controls->SetUserData(page);
  } else {
    page = static_cast<ConfigPage*>(controls->GetUserData());
  }
  if (page == nullptr) return 0;
  return page->HandleMessage(dialog_window, *controls, message, wparam, lparam);
}

void ConfigPage::SetRanges(DialogControls& controls) {
  for (int slider : kVolumeSliders) controls.SendItemMessage(slider, kTbmSetRange, 1, kPackedRange);
}

void ConfigPage::RefreshLabels(DialogControls& controls) {
  for (int i = 0; i < 8; ++i) {
    auto position = static_cast<int32_t>(controls.SendItemMessage(kVolumeSliders[i], kTbmGetPos, 0, 0));
    if (position <= kSliderMin) {
      controls.SetItemText(kVolumeLabels[i], "Mute");
    } else {
      controls.SetItemInt(kVolumeLabels[i], position);
    }
  }
}

intptr_t ConfigPage::HandleMessage(void* dialog_window, DialogControls& controls, uint32_t message,
                                   uintptr_t wparam, intptr_t lparam) {
  switch (message) {
    case kWmInitDialog:
      // The range comes before the position, so negative volumes are not cut to the control's
      // default range. The labels keep the template's "0" until activation or a slider move.
      for (int i = 0; i < 8; ++i) {
        controls.SendItemMessage(kVolumeSliders[i], kTbmSetRange, 1, kPackedRange);
        controls.SendItemMessage(kVolumeSliders[i], kTbmSetPos, 0, settings_.volume[i]);
      }
      for (int i = 0; i < 8; ++i) {
        controls.CheckButton(kOutputChecks[i], static_cast<uint32_t>(settings_.output[i]));
      }
      controls.CheckButton(kUseRomeoCheck, static_cast<uint32_t>(settings_.use_romeo));
      return 1;

    case kWmNotify: {
      const auto* header = reinterpret_cast<const NotifyHeader*>(lparam);
      if (header == nullptr) return 1;
      if (header->code == kPsnSetActive) {
        SetRanges(controls);
        RefreshLabels(controls);
        if (site_ != nullptr) site_->Activated(this);
        return 1;
      }
      if (header->code == kPsnApply) {
        for (int i = 0; i < 8; ++i) {
          settings_.volume[i] =
              static_cast<int32_t>(controls.SendItemMessage(kVolumeSliders[i], kTbmGetPos, 0, 0));
        }
        for (int i = 0; i < 8; ++i) {
          settings_.output[i] = static_cast<int32_t>(controls.IsButtonChecked(kOutputChecks[i]));
        }
        settings_.use_romeo = static_cast<int32_t>(controls.IsButtonChecked(kUseRomeoCheck));
        if (device_ != nullptr) device_->ApplySettings(settings_);
        if (site_ != nullptr) site_->Applied();
        return 0;
      }
      return 1;
    }

    case kWmCommand: {
      const uint32_t code = (static_cast<uint32_t>(wparam) >> 16) & 0xFFFF;
      const int id = static_cast<int>(wparam & 0xFFFF);
      if (code != 0) return 0;  // only "button clicked"
      if (!IsCheckBox(id)) return 0;
      if (site_ != nullptr) site_->Changed(dialog_window);
      return 1;
    }

    case kWmHScroll:
      RefreshLabels(controls);
      if (site_ != nullptr) site_->Changed(dialog_window);
      return 1;

    default:
      return 0;
  }
}
