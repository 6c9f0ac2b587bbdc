// The reference host's services behind the host interfaces: a bus that dispatches ports by the
// connector table, a mixer that renders the source on demand, a timer queue on host time
// (microseconds, counted in rendered frames), a port service that reports interrupt requests,
// a page list with an in-memory configuration dialog, and the board's notices on standard error.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/host_services.h"
#include "output/output_file.h"
#include "vyx/vyx.h"

// The files of a run, which the board's own file (its register log) must be none of.
struct RunFiles {
  std::vector<RunFile> reads;        // files the run reads or has loaded
  std::vector<std::string> outputs;  // files the run writes
};

// The host's say on the board's switches, by key ("LOG", "FMTIMERS", "SAVESTATES", "CHIPSOUND"): what the
// run's command line asked for. A key not in it is left to the environment and settings file.
using HostSwitchValues = std::map<std::string, std::string>;

class ReferenceHost : public HostServiceSet, public HostPageSite, public HostNotices,
                      public HostFiles, public HostSwitches {
 public:
  ReferenceHost();

  // Told to the board through HostFiles::Refusal; set before the module is created.
  void set_run_files(RunFiles files) { run_files_ = std::move(files); }
  // Told to the board through HostSwitches when it is first used.
  void set_switches(HostSwitchValues switches) { switches_ = std::move(switches); }

  // Receives each block of rendered frames, in order; false stops the rendering (a failed
  // write): the wait under way and every later one render nothing more.
  using FrameSink = std::function<bool(const StereoFrame* frames, int32_t count)>;
  void set_frame_sink(FrameSink sink) { sink_ = std::move(sink); }
  // Receives report lines ("in 0x89 = 0x00", "irq frame 138").
  using ReportSink = std::function<void(const std::string& line)>;
  void set_report_sink(ReportSink sink) { report_ = std::move(sink); }
  void set_chunk(int32_t chunk) { chunk_ = chunk > 0 ? chunk : 1024; }

  // Held around every call into the module (handlers, the source's SetRate and Mix, event
  // routines, the page), so that an audio thread that renders and another thread that writes
  // ports never run module code at once. A caller takes it too around VyxCreateModule and
  // Release. Recursive: the module calls back into the host from inside a handler.
  std::recursive_mutex& module_lock() { return module_lock_; }

  // The emulated program's accesses and the passage of time.
  void SetRate(uint32_t rate);
  void PortOut(uint32_t port, uint32_t value);
  uint32_t PortIn(uint32_t port);
  // False when the frame sink stopped the rendering.
  bool Wait(uint64_t frames);
  // The user sets the page's controls and presses Apply; false with the reason in *why when no
  // page was offered or it could not be shown.
  bool ApplyPage(const int32_t volumes[8], const int32_t outputs[8], int32_t use_romeo,
                 std::string* why);

  // Uses the device at once, before anything plays (a state size asked, which changes
  // nothing): it asks for its switches and opens its register log now, so that a log it cannot
  // make is known (file_failure) before the run goes on.
  void UseDevice() { DeviceStateSize(); }
  // The device's saved state, as the emulator asks for it (GetStateSize, SaveState): false when
  // the device keeps none (a size of 0) or its SaveState fails.
  bool SaveDeviceState(std::vector<uint8_t>* state);
  // Hands a state to the device's LoadState; false when its size is not the device's state size
  // or the device refuses it.
  bool LoadDeviceState(const std::vector<uint8_t>& state);
  // The device's state size (0: it keeps none, or no device is attached).
  uint32_t DeviceStateSize();

  uint32_t rate() const { return rate_; }
  uint64_t frames_rendered() const { return frames_rendered_; }
  bool stopped() const { return stopped_; }
  bool attached() const { return device_ != nullptr; }
  bool has_source() const { return source_ != nullptr; }
  size_t pending_events() const { return events_.size(); }

  // HostBus
  bool VYXCALL Attach(VyxDevice* device, const Connector* table) override;
  void VYXCALL Detach(VyxDevice* device) override;
  // HostMixer
  bool VYXCALL AddSource(VyxSoundSource* source) override;
  bool VYXCALL RemoveSource(VyxSoundSource* source) override;
  void VYXCALL Update(VyxSoundSource* source) override;
  // HostTimerQueue
  bool VYXCALL AddEvent(int32_t count, void* owner, VyxEventRoutine routine, uint32_t argument,
                        uint32_t flag) override;
  void VYXCALL RemoveEvent(void* owner, VyxEventRoutine routine) override;
  int64_t VYXCALL GetTime() override;
  void VYXCALL RemoveEvents(void* owner) override;
  // HostPorts
  uint32_t VYXCALL In(uint32_t port) override;
  void VYXCALL Out(uint32_t port, uint32_t value) override;
  // HostPages
  bool VYXCALL AddPage(VyxPage* page) override;
  bool VYXCALL RemovePage(VyxPage* page) override;
  // HostPageSite
  void* VYXCALL GetDialogWindow() override { return nullptr; }
  int32_t VYXCALL GetPageCount() override { return page_ != nullptr ? 1 : 0; }
  void VYXCALL Applied() override {}
  void VYXCALL Activated(VyxPage*) override {}
  void VYXCALL Changed(void*) override {}
  // HostNotices: on standard error, "vorla: TEXT".
  void VYXCALL Notice(const char* text) override;
  // HostFiles: the temporary names join the ones removed on a signal; a failure is kept
  // (file_failure) for the run to end with.
  void VYXCALL Temporary(const char* path, int32_t held) override;
  void VYXCALL Failed(const char* text) override;
  void VYXCALL Complete(const char* temporary, const char* place) override;
  // The first file the module could not make or write, or empty.
  const std::string& file_failure() const { return file_failure_; }
  // A file of the run (set_run_files) as a refusal.
  const char* VYXCALL Refusal(const char* path) override;
  // HostSwitches: the value set_switches gave for the key, or null.
  const char* VYXCALL Switch(const char* key) override;

 private:
  struct Event {
    uint64_t due_frame;
    uint64_t sequence;
    void* owner;
    VyxEventRoutine routine;
    uint32_t argument;
  };

  // Beyond the six: the notices and the files.
  void* OfferOther(const VyxGuid& id) override;
  void Render(uint64_t frames);
  void RunDueEvents();
  bool NextDue(uint64_t* due) const;

  uint32_t rate_ = 44100;
  int32_t chunk_ = 1024;
  uint64_t frames_rendered_ = 0;
  bool stopped_ = false;
  uint64_t next_sequence_ = 0;
  std::vector<Event> events_;
  std::vector<StereoFrame> buffer_;

  VyxDevice* device_ = nullptr;
  std::map<uint32_t, VyxInHandler> in_handlers_;
  std::map<uint32_t, VyxOutHandler> out_handlers_;
  VyxSoundSource* source_ = nullptr;
  VyxPage* page_ = nullptr;
  std::string file_failure_;
  RunFiles run_files_;
  HostSwitchValues switches_;
  std::string refusal_;  // the last Refusal's text

  FrameSink sink_;
  ReportSink report_;
  std::recursive_mutex module_lock_;
};
