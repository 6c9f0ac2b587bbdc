#include "module/board_module.h"

#include <new>

#include "output/output_file.h"
#include "platform/environment.h"
#include "platform/program_directory.h"
#include "settings/profile.h"

namespace {

// A switch of the settings file that the environment overrides with "1" or "0".
bool Switch(const char* variable, bool in_settings) {
  const std::string value = EnvironmentValue(variable);
  return value == "1" || (value != "0" && in_settings);
}

}  // namespace

BoardModule::BoardModule(const std::string& settings_path, void* instance) : device_("VRLA") {
  // One read of the settings file serves the page and the keys it does not show.
  settings_path_ = settings_path.empty() ? HostSettingsPath() : settings_path;
  module_path_ = ModuleFilePath(instance);
  ProfileFile profile(settings_path_);
  page_.Load(profile, instance, &device_);
  const UnshownSettings unshown = ReadUnshownSettings(profile);
  // The environment wins over the settings file; the host's own say, asked at the first use,
  // over both.
  log_target_ = EnvironmentValue("VORLA_LOG");
  if (log_target_.empty()) log_target_ = unshown.log_target;
  device_.SetFmTimersCounting(Switch("VORLA_FMTIMERS", unshown.fm_timers));
  device_.SetSaveStates(Switch("VORLA_SAVESTATES", unshown.save_states));
  device_.SetChipSound(Switch("VORLA_CHIPSOUND", unshown.chip_sound));
}

bool BoardModule::Bind(HostSystem* host) {
  host_ = host;
  if (host == nullptr) return false;
  // Every service is looked up before any is tested.
  auto* bus = static_cast<HostBus*>(host->FindService(kHostBusId));
  auto* mixer = static_cast<HostMixer*>(host->FindService(kHostMixerId));
  auto* timer_queue = static_cast<HostTimerQueue*>(host->FindService(kHostTimerQueueId));
  auto* ports = static_cast<HostPorts*>(host->FindService(kHostPortsId));
  auto* pages = static_cast<HostPages*>(host->FindService(kHostPagesId));
  if (bus == nullptr || mixer == nullptr) return false;
  if (!device_.Init(ports, kHostInterruptPort, timer_queue)) return false;
  device_.SetFirstUse([this] { FirstUse(); });
  if (!bus->Attach(&device_, BoardDevice::ConnectorTable())) return false;
  bus_ = bus;
  device_.Connect(mixer);
  pages_ = pages;
  if (pages_ != nullptr) pages_->AddPage(&page_);
  return true;
}

void BoardModule::FirstUse() {
  // Looked up only now: while the module is created the host sees the five services asked.
  auto* switches = static_cast<HostSwitches*>(host_->FindService(kHostSwitchesId));
  if (switches != nullptr) {
    if (const char* log = switches->Switch(kLogKey); log != nullptr) log_target_ = log;
    if (const char* on = switches->Switch(kFmTimersKey); on != nullptr) {
      device_.SetFmTimersCounting(std::string(on) == "1");
    }
    if (const char* on = switches->Switch(kSaveStatesKey); on != nullptr) {
      device_.SetSaveStates(std::string(on) == "1");
    }
    if (const char* on = switches->Switch(kChipSoundKey); on != nullptr) {
      device_.SetChipSound(std::string(on) == "1");
    }
  }
  if (!log_target_.empty()) StartLog();
}

void BoardModule::StartLog() {
  // Looked up only when there is a log to tell of.
  files_ = static_cast<HostFiles*>(host_->FindService(kHostFilesId));
  // The settings file keeps its own safe save, and the module file is loaded: neither is a log.
  for (const std::string& own : {settings_path_, module_path_}) {
    if (!own.empty() && SameFile(log_target_, own)) {
      TellFailure("cannot create the register log " + log_target_ + ": it is " +
                  (own == settings_path_ ? "the settings file " : "the module file ") + own,
                  true);
      return;
    }
  }
  // Nor is a file that the host's run reads or writes itself.
  if (const char* refusal = files_ != nullptr ? files_->Refusal(log_target_.c_str()) : nullptr;
      refusal != nullptr) {
    TellFailure("cannot create the register log " + log_target_ + ": " + refusal, true);
    return;
  }
  HostFiles* files = files_;
  BoardLog::TemporaryWatch watch;
  if (files != nullptr) {
    watch.held = [files](const std::string& path, bool held) {
      files->Temporary(path.c_str(), held ? 1 : 0);
    };
    watch.complete = [files](const std::string& temporary, const std::string& place) {
      files->Complete(temporary.c_str(), place.c_str());
    };
  }
  if (std::string error; !device_.StartLog(log_target_, std::move(watch), &error)) {
    TellFailure(error, true);
  }
}

void BoardModule::TellFailure(const std::string& text, bool plays_on) {
  if (files_ != nullptr) {
    files_->Failed(text.c_str());
  } else {
    Notify(plays_on ? text + "; the board plays on without it" : text);
  }
}

void BoardModule::Notify(const std::string& text) {
  if (host_ == nullptr) return;
  auto* notices = static_cast<HostNotices*>(host_->FindService(kHostNoticesId));
  if (notices != nullptr) notices->Notice(text.c_str());
}

void BoardModule::Release() {
  // A board never used asks its host nothing; the log that the environment or the settings
  // file asked for is still made, empty.
  device_.SetFirstUse([this] {
    if (!log_target_.empty()) StartLog();
  });
  device_.FirstUse();
  device_.Connect(nullptr);
  if (bus_ != nullptr) bus_->Detach(&device_);
  // Nothing reaches the board any more: the log is complete.
  bool failed = false;
  if (std::string notice = device_.StopLog(&failed); failed) {
    TellFailure(notice, false);
  } else if (!notice.empty()) {
    Notify(notice);
  }
  // No interrupt event may reach the device once it is gone.
  if (device_.timer_queue() != nullptr) device_.timer_queue()->RemoveEvents(device_.event_owner());
  page_.Save();
  if (pages_ != nullptr) pages_->RemovePage(&page_);
  delete this;
}

void* BoardModule::Query(void*) { return nullptr; }

VyxModule* CreateBoardModule(HostSystem* host, const std::string& settings_path, void* instance) {
  auto* module = new (std::nothrow) BoardModule(settings_path, instance);
  if (module == nullptr) return nullptr;
  if (!module->Bind(host)) {
    delete module;
    return nullptr;
  }
  return module;
}
