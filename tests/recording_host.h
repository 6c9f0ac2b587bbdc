// A host that records every call the module makes to it, in order, and whose services can be
// withheld or made to refuse, for the tests of binding, release and the port handlers.
#pragma once

#include <string>
#include <vector>

#include "host/host_services.h"
#include "vyx/vyx.h"

class RecordingHost final : public HostServiceSet {
 public:
  struct Event {
    int32_t count;
    void* owner;
    VyxEventRoutine routine;
    uint32_t argument;
    uint32_t flag;
  };

  std::vector<std::string> calls;
  bool has_bus = true, has_mixer = true, has_timer_queue = true, has_ports = true,
       has_pages = true, attach_ok = true;
  VyxDevice* device = nullptr;
  const Connector* table = nullptr;
  VyxSoundSource* source = nullptr;
  VyxPage* page = nullptr;
  std::vector<Event> events;
  std::vector<std::pair<uint32_t, uint32_t>> outs;

  bool VYXCALL Attach(VyxDevice* d, const Connector* t) override {
    calls.push_back("Attach");
    if (!attach_ok) return false;
    device = d;
    table = t;
    return true;
  }
  void VYXCALL Detach(VyxDevice* d) override {
    calls.push_back("Detach");
    if (d == device) device = nullptr;
  }
  bool VYXCALL AddSource(VyxSoundSource* s) override {
    calls.push_back("AddSource");
    source = s;
    return true;
  }
  bool VYXCALL RemoveSource(VyxSoundSource* s) override {
    calls.push_back("RemoveSource");
    if (s == source) source = nullptr;
    return true;
  }
  void VYXCALL Update(VyxSoundSource*) override { calls.push_back("Update"); }
  bool VYXCALL AddEvent(int32_t count, void* owner, VyxEventRoutine routine, uint32_t argument,
                        uint32_t flag) override {
    calls.push_back("AddEvent");
    events.push_back({count, owner, routine, argument, flag});
    return true;
  }
  void VYXCALL RemoveEvent(void*, VyxEventRoutine) override { calls.push_back("RemoveEvent"); }
  int64_t VYXCALL GetTime() override { return 0; }
  void VYXCALL RemoveEvents(void* owner) override {
    calls.push_back("RemoveEvents");
    std::erase_if(events, [&](const Event& e) { return e.owner == owner; });
  }
  uint32_t VYXCALL In(uint32_t) override { return 0; }
  void VYXCALL Out(uint32_t port, uint32_t value) override {
    calls.push_back("Out");
    outs.emplace_back(port, value);
  }
  bool VYXCALL AddPage(VyxPage* p) override {
    calls.push_back("AddPage");
    page = p;
    return true;
  }
  bool VYXCALL RemovePage(VyxPage* p) override {
    calls.push_back("RemovePage");
    if (p == page) page = nullptr;
    return true;
  }

  // Expires the oldest pending event, as the host's timer queue would.
  bool Expire() {
    if (events.empty()) return false;
    Event e = events.front();
    events.erase(events.begin());
    e.routine(e.owner, e.argument);
    return true;
  }

  // The port handler the connector table names, or null.
  VyxOutHandler OutHandler(uint32_t port) const { return FindOutHandler(device, table, port); }
  VyxInHandler InHandler(uint32_t port) const { return FindInHandler(device, table, port); }
  void PortOut(uint32_t port, uint32_t value) {
    if (auto h = OutHandler(port)) h(device, port, value);
  }
  uint32_t PortIn(uint32_t port) {
    auto h = InHandler(port);
    return h ? h(device, port) : 0xFF;
  }

  int Count(const std::string& call) const {
    int n = 0;
    for (const auto& c : calls) n += c == call;
    return n;
  }

 private:
  void* Offer(const char* name, void* service) override {
    calls.push_back(std::string("FindService ") + name);
    const std::string n = name;
    const bool present = n == "bus"     ? has_bus
                         : n == "mixer" ? has_mixer
                         : n == "ports" ? has_ports
                         : n == "pages" ? has_pages
                                        : has_timer_queue;
    return present ? service : nullptr;
  }
  void* OfferOther(const VyxGuid&) override {
    calls.push_back("FindService unknown");
    return nullptr;
  }
};
