// The board's page "VOD" in the host's configuration dialog (dialog template 101).
//
//   sliders 1001 1003 1005  tone voices 1-3      labels 1002 1004 1006   range -40..+20
//   sliders 1007-1013 odd   PSG 1-4              labels 1008-1014 even   "Mute" at -40
//   slider  1023            OPM                  label  1024
//   check boxes 1015-1018   PSG 1-4 left,  1019-1022 PSG 1-4 right,  1025 USE_ROMEO
//
// The page holds the settings record and the path of the settings file; it loads them when
// the module is constructed, copies the controls into the record on apply and applies them to
// the device at once, and the module saves them at release.
#pragma once

#include <cstdint>
#include <string>

#include "vyx/vyx.h"
#include "settings/board_settings.h"
#include "settings/dialog_controls.h"

class DialogControls;

class ConfigPage : public VyxPage {
 public:
  ConfigPage() = default;
  ConfigPage(const ConfigPage&) = delete;
  ConfigPage& operator=(const ConfigPage&) = delete;

  // Reads the 17 values from `profile` (whose path the page saves to), keeps the device and
  // the instance handle and applies the values to the device.
  void Load(ProfileFile& profile, void* instance, SettingsTarget* device);
  // The same from the page's own path: set_path's, or the host's settings file.
  void Load(void* instance, SettingsTarget* device);
  // Writes the 17 values to the settings file.
  bool Save();

  bool VYXCALL FillPageRecord(HostPageSite* site, void* record) override;

  // The page's dialog procedure: 1 = handled, 0 = not.
  static intptr_t VYXCALL DialogProc(void* dialog_window, uint32_t message, uintptr_t wparam,
                                     intptr_t lparam);

  const BoardSettings& settings() const { return settings_; }
  const std::string& path() const { return path_; }
  // Tests and substitute hosts may point the page at another settings file before Load.
  void set_path(std::string path) { path_ = std::move(path); }

 private:
  intptr_t HandleMessage(void* dialog_window, DialogControls& controls, uint32_t message,
                         uintptr_t wparam, intptr_t lparam);
  void SetRanges(DialogControls& controls);
  void RefreshLabels(DialogControls& controls);

  void* instance_ = nullptr;
  HostPageSite* site_ = nullptr;
  std::string path_;
  BoardSettings settings_ = DefaultSettings();
  SettingsTarget* device_ = nullptr;
};
