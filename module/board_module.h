// The module object that VyxCreateModule hands to the host: the board device, the
// configuration page with the settings, and the host services it was bound to.
#pragma once

#include "module/board_device.h"
#include "vyx/vyx.h"
#include "settings/config_page.h"

class BoardModule final : public VyxModule {
 public:
  // Constructs the device, the page, and loads and applies the settings. `settings_path`
  // empty means the host's settings file beside the host executable; `instance` is the module
  // file's instance handle, where the page finds its dialog template.
  BoardModule(const std::string& settings_path, void* instance);
  BoardModule(const BoardModule&) = delete;
  BoardModule& operator=(const BoardModule&) = delete;

  // Looks up the host services and binds the board to them; false when binding failed (then
  // nothing was attached, connected or offered, and the module must be destroyed unsaved).
  bool Bind(HostSystem* host);

  void VYXCALL Release() override;
  void* VYXCALL Query(void* value) override;

  BoardDevice& device() { return device_; }
  // The register log asked for: the host's say (at the first use), else VORLA_LOG, else the
  // settings file's "LOG" key.
  const std::string& log_target() const { return log_target_; }
  ConfigPage& page() { return page_; }

 private:
  ~BoardModule() = default;  // only Release (or a failed create) destroys the module
  // Tells the host, if it offers a place for such notices; otherwise nobody is told.
  void Notify(const std::string& text);
  // A log that could not be made or written: told as a failure where the host takes one (then
  // the host may end its run), otherwise as a notice (plays_on: saying the board plays on).
  void TellFailure(const std::string& text, bool plays_on);
  // The device's first use: the host's say on the switches, and the log opened.
  void FirstUse();
  // Opens the register log asked for; the settings file and the module file are never one.
  void StartLog();
  friend VyxModule* CreateBoardModule(HostSystem* host, const std::string& settings_path,
                                      void* instance);

  BoardDevice device_;
  ConfigPage page_;
  HostSystem* host_ = nullptr;
  HostBus* bus_ = nullptr;
  HostPages* pages_ = nullptr;
  HostFiles* files_ = nullptr;
  std::string settings_path_;
  std::string module_path_;  // the module file, where there is one
  std::string log_target_;
};

// VyxCreateModule's work, with the settings file open to choice (empty: the host's) and the
// instance handle of the module file (null where no module file is loaded, as in tests).
VyxModule* CreateBoardModule(HostSystem* host, const std::string& settings_path, void* instance);
