#include "host/reference_host.h"

#include "host/page_apply.h"
#include "output/output_file.h"
#include "output/output_run.h"
#include "text/shown_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

ReferenceHost::ReferenceHost() { buffer_.resize(static_cast<size_t>(chunk_)); }

void* ReferenceHost::OfferOther(const VyxGuid& id) {
  if (id == kHostNoticesId) return static_cast<HostNotices*>(this);
  if (id == kHostFilesId) return static_cast<HostFiles*>(this);
  if (id == kHostSwitchesId) return static_cast<HostSwitches*>(this);
  return nullptr;
}

bool ReferenceHost::Attach(VyxDevice* device, const Connector* table) {
  if (device == nullptr || table == nullptr || device_ != nullptr) return false;
  const DeviceDescriptor& descriptor = device->GetDescriptor();
  std::map<uint32_t, VyxInHandler> ins;
  std::map<uint32_t, VyxOutHandler> outs;
  for (const Connector* c = table; !IsConnectorTableEnd(*c); ++c) {
    if (c->kind == kConnectorIn) {
      ins[c->port] = descriptor.in_handlers[c->index];
    } else if (c->kind == kConnectorOut) {
      outs[c->port] = descriptor.out_handlers[c->index];
    } else {
      return false;  // a kind the bus does not know: refuse the whole table
    }
  }
  device_ = device;
  in_handlers_ = std::move(ins);
  out_handlers_ = std::move(outs);
  return true;
}

void ReferenceHost::Detach(VyxDevice* device) {
  if (device != device_) return;
  device_ = nullptr;
  in_handlers_.clear();
  out_handlers_.clear();
}

bool ReferenceHost::AddSource(VyxSoundSource* source) {
  if (source == nullptr) return false;
  std::lock_guard<std::recursive_mutex> lock(module_lock_);
  source_ = source;
  source_->SetRate(rate_);
  return true;
}

bool ReferenceHost::RemoveSource(VyxSoundSource* source) {
  if (source != source_ || source == nullptr) return false;
  source_ = nullptr;
  return true;
}

// Frames are rendered eagerly by Wait, so nothing is ever due when a handler asks.
void ReferenceHost::Update(VyxSoundSource*) {}

bool ReferenceHost::AddEvent(int32_t count, void* owner, VyxEventRoutine routine,
                             uint32_t argument, uint32_t) {
  if (routine == nullptr) return false;
  // count microseconds from now, rounded up to a frame boundary at the current rate.
  uint64_t micros = count > 0 ? static_cast<uint64_t>(count) : 0;
  uint64_t delay = (micros * rate_ + 999999) / 1000000;
  events_.push_back({frames_rendered_ + delay, next_sequence_++, owner, routine, argument});
  return true;
}

void ReferenceHost::RemoveEvent(void* owner, VyxEventRoutine routine) {
  std::erase_if(events_, [&](const Event& e) { return e.owner == owner && e.routine == routine; });
}

int64_t ReferenceHost::GetTime() {
  return static_cast<int64_t>(frames_rendered_ * 1000000 / (rate_ ? rate_ : 1));
}

void ReferenceHost::RemoveEvents(void* owner) {
  std::erase_if(events_, [&](const Event& e) { return e.owner == owner; });
}

uint32_t ReferenceHost::In(uint32_t) { return 0xFF; }

void ReferenceHost::Out(uint32_t port, uint32_t value) {
  if (port == kHostInterruptPort && value == 1 && report_) {
    report_("irq frame " + std::to_string(frames_rendered_));
  }
}

bool ReferenceHost::AddPage(VyxPage* page) {
  if (page == nullptr) return false;
  page_ = page;
  return true;
}

bool ReferenceHost::RemovePage(VyxPage* page) {
  if (page != page_ || page == nullptr) return false;
  page_ = nullptr;
  return true;
}

void ReferenceHost::SetRate(uint32_t rate) {
  std::lock_guard<std::recursive_mutex> lock(module_lock_);
  rate_ = rate;
  if (source_ != nullptr) source_->SetRate(rate);
}

void ReferenceHost::PortOut(uint32_t port, uint32_t value) {
  // The lock first: the handler maps change under it when the module attaches or detaches.
  std::lock_guard<std::recursive_mutex> lock(module_lock_);
  auto it = out_handlers_.find(port);
  if (it == out_handlers_.end()) return;
  it->second(device_, port, value);
}

uint32_t ReferenceHost::PortIn(uint32_t port) {
  uint32_t value = 0xFF;  // an open bus
  {
    std::lock_guard<std::recursive_mutex> lock(module_lock_);
    auto it = in_handlers_.find(port);
    if (it != in_handlers_.end()) value = it->second(device_, port);
  }
  if (report_) {
    char line[64];
    std::snprintf(line, sizeof line, "in 0x%02x = 0x%02x", port, value);
    report_(line);
  }
  return value;
}

const char* ReferenceHost::Switch(const char* key) {
  const auto it = key != nullptr ? switches_.find(key) : switches_.end();
  return it != switches_.end() ? it->second.c_str() : nullptr;
}

uint32_t ReferenceHost::DeviceStateSize() {
  std::lock_guard<std::recursive_mutex> lock(module_lock_);
  return device_ != nullptr ? device_->GetStateSize() : 0;
}

bool ReferenceHost::SaveDeviceState(std::vector<uint8_t>* state) {
  std::lock_guard<std::recursive_mutex> lock(module_lock_);
  const uint32_t size = DeviceStateSize();
  if (size == 0) return false;
  state->assign(size, 0);
  return device_->SaveState(state->data());
}

bool ReferenceHost::LoadDeviceState(const std::vector<uint8_t>& state) {
  std::lock_guard<std::recursive_mutex> lock(module_lock_);
  const uint32_t size = DeviceStateSize();
  return size != 0 && state.size() == size && device_->LoadState(state.data());
}

bool ReferenceHost::NextDue(uint64_t* due) const {
  if (events_.empty()) return false;
  uint64_t best = events_.front().due_frame;
  for (const Event& e : events_) best = std::min(best, e.due_frame);
  *due = best;
  return true;
}

void ReferenceHost::RunDueEvents() {
  // Events due at the same frame run in the order they were armed; one armed by a routine and
  // already due runs in the same pass.
  for (;;) {
    auto it = events_.end();
    for (auto e = events_.begin(); e != events_.end(); ++e) {
      if (e->due_frame > frames_rendered_) continue;
      if (it == events_.end() || e->due_frame < it->due_frame ||
          (e->due_frame == it->due_frame && e->sequence < it->sequence)) {
        it = e;
      }
    }
    if (it == events_.end()) return;
    Event event = *it;
    events_.erase(it);
    event.routine(event.owner, event.argument);
  }
}

void ReferenceHost::Render(uint64_t frames) {
  while (frames > 0 && !stopped_) {
    int32_t n = static_cast<int32_t>(std::min<uint64_t>(frames, static_cast<uint64_t>(chunk_)));
    if (buffer_.size() < static_cast<size_t>(n)) buffer_.resize(static_cast<size_t>(n));
    std::memset(buffer_.data(), 0, sizeof(StereoFrame) * static_cast<size_t>(n));
    if (source_ != nullptr) source_->Mix(buffer_.data(), n);
    if (sink_ && !sink_(buffer_.data(), n)) stopped_ = true;
    frames_rendered_ += static_cast<uint64_t>(n);
    frames -= static_cast<uint64_t>(n);
  }
}

bool ReferenceHost::Wait(uint64_t frames) {
  // The whole wait: its Mix calls and event routines run module code, and a handler called from
  // another thread may arm events while this one walks them.
  std::lock_guard<std::recursive_mutex> lock(module_lock_);
  const uint64_t target = frames_rendered_ + frames;
  RunDueEvents();
  for (;;) {
    uint64_t due = 0;
    // A wait that crosses an event's frame is split there; each part is chunked from its start.
    if (stopped_) return false;
    if (NextDue(&due) && due < target) {
      Render(due - frames_rendered_);
      RunDueEvents();
      continue;
    }
    Render(target - frames_rendered_);
    RunDueEvents();
    return !stopped_;
  }
}

bool ReferenceHost::ApplyPage(const int32_t volumes[8], const int32_t outputs[8],
                              int32_t use_romeo, std::string* why) {
  if (page_ == nullptr) {
    *why = "the module offered no configuration page";
    return false;
  }
  std::lock_guard<std::recursive_mutex> lock(module_lock_);
  return ApplyThroughPage(page_, this, volumes, outputs, use_romeo, why);
}

void ReferenceHost::Notice(const char* text) {
  if (text != nullptr) std::fprintf(stderr, "vorla: %s\n", ShownText(text).c_str());
}

void ReferenceHost::Temporary(const char* path, int32_t held) {
  if (path == nullptr) return;
  if (held != 0) {
    HoldTemporaryName(path);
  } else {
    ReleaseTemporaryName(path);
  }
}

void ReferenceHost::Complete(const char* temporary, const char* place) {
  // Put in place with the run's other outputs, by vorla at the end of a run that succeeded.
  if (temporary != nullptr && place != nullptr) AwaitCommit(temporary, place);
}

void ReferenceHost::Failed(const char* text) {
  if (text != nullptr && file_failure_.empty()) file_failure_ = text;
}

const char* ReferenceHost::Refusal(const char* path) {
  if (path == nullptr || *path == '\0') return nullptr;
  // A folder: the board makes new names of its own in it.
  const std::string target = path;
  std::error_code ec;
  if (target.back() == '/' || target.back() == '\\' ||
      std::filesystem::is_directory(target, ec)) {
    return nullptr;
  }
  for (const RunFile& read : run_files_.reads) {
    if (!read.path.empty() && SameFile(target, read.path)) {
      refusal_ = "it is " + read.role + " " + read.path;
      return refusal_.c_str();
    }
  }
  for (const std::string& output : run_files_.outputs) {
    if (!output.empty() && SameFile(target, output)) {
      refusal_ = "it is the output " + output + " of the same run";
      return refusal_.c_str();
    }
  }
  return nullptr;
}
