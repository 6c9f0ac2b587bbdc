// The board through its module interface: a byte stream decoded into whatever a host and an
// emulated program may do to it, in any order and with any values.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "host/host_services.h"
#include "module/board_module.h"
#include "module/board_ports.h"

namespace {

// A host with every service, keeping just enough to run the board: handlers, one source,
// pending events.
class FuzzHost final : public HostServiceSet {
 public:
  struct Event {
    void* owner;
    VyxEventRoutine routine;
    uint32_t argument;
  };
  VyxDevice* device = nullptr;
  VyxSoundSource* source = nullptr;
  std::vector<Event> events;

  bool VYXCALL Attach(VyxDevice* d, const Connector*) override {
    device = d;
    return true;
  }
  void VYXCALL Detach(VyxDevice*) override { device = nullptr; }
  bool VYXCALL AddSource(VyxSoundSource* s) override {
    source = s;
    return true;
  }
  bool VYXCALL RemoveSource(VyxSoundSource*) override {
    source = nullptr;
    return true;
  }
  void VYXCALL Update(VyxSoundSource*) override {}
  bool VYXCALL AddEvent(int32_t, void* owner, VyxEventRoutine routine, uint32_t argument,
                        uint32_t) override {
    if (events.size() < 64) events.push_back({owner, routine, argument});
    return true;
  }
  void VYXCALL RemoveEvent(void*, VyxEventRoutine) override {}
  int64_t VYXCALL GetTime() override { return 0; }
  void VYXCALL RemoveEvents(void* owner) override {
    std::erase_if(events, [&](const Event& e) { return e.owner == owner; });
  }
  uint32_t VYXCALL In(uint32_t) override { return 0; }
  void VYXCALL Out(uint32_t, uint32_t) override {}
  bool VYXCALL AddPage(VyxPage*) override { return true; }
  bool VYXCALL RemovePage(VyxPage*) override { return true; }
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint32_t Take(int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | (pos_ < size_ ? data_[pos_++] : 0);
    return v;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzHost host;
  // A settings file that cannot exist: every run starts from the defaults and saves nothing.
  auto* module = static_cast<BoardModule*>(
      CreateBoardModule(&host, "/nonexistent-vorla-fuzz-dir/VYX.INI", nullptr));
  if (module == nullptr) __builtin_trap();
  BoardDevice& device = module->device();
  const DeviceDescriptor& descriptor = device.GetDescriptor();
  static std::vector<StereoFrame> frames(4096);

  Reader in(data, size);
  for (int step = 0; step < 4096 && !in.empty(); ++step) {
    switch (in.Take(1) % 10) {
      case 0: {  // a port write through any out handler, any port number and value
        uint32_t index = in.Take(1) % kOutHandlers;
        uint32_t port = in.Take(2);
        descriptor.out_handlers[index](&device, port, in.Take(4));
        break;
      }
      case 1: {  // a port read through any in handler
        uint32_t index = in.Take(1) % kInHandlers;
        descriptor.in_handlers[index](&device, in.Take(2));
        break;
      }
      case 2:  // the board's usual ports with byte values, to reach deep register states
        descriptor.out_handlers[kOutPsgData](&device, PsgDataPort(in.Take(1) & 3), in.Take(1));
        descriptor.out_handlers[kOutFmData](&device, kPortFmData, in.Take(1));
        break;
      case 3:
        descriptor.out_handlers[kOutFmAddress](&device, kPortFmAddress, in.Take(1));
        descriptor.out_handlers[kOutPsgAddress](&device, kPortPsgAddress, in.Take(1));
        break;
      case 4:
        device.SetRate(in.Take(4));
        break;
      case 5: {  // Mix of any size the host might pass, including 0 and negative counts
        int32_t count = static_cast<int32_t>(in.Take(2)) % 4096 - 64;
        std::memset(frames.data(), 0, frames.size() * sizeof(StereoFrame));
        device.Mix(frames.data(), count);
        break;
      }
      case 6: {
        BoardSettings settings;
        int32_t* values = reinterpret_cast<int32_t*>(&settings);
        for (int i = 0; i < 17; ++i) values[i] = static_cast<int32_t>(in.Take(4));
        device.ApplySettings(settings);
        break;
      }
      case 7:
        device.Connect((in.Take(1) & 1) ? static_cast<HostMixer*>(&host) : nullptr);
        break;
      case 8:
        if (!host.events.empty()) {
          FuzzHost::Event e = host.events.front();
          host.events.erase(host.events.begin());
          e.routine(e.owner, e.argument);
        }
        break;
      case 9:  // the chips' own sound switched, as a host's answer at the first use does
        device.SetChipSound((in.Take(1) & 1) != 0);
        break;
    }
  }
  module->Release();
  if (!host.events.empty()) __builtin_trap();  // an event outlived the board
  return 0;
}
