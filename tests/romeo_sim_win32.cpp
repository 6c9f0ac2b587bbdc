// The simulated card on Windows: the tests' pcidebug.dll beside the test program, reached by
// Win32CardAccess exactly as the real library would be. The test side loads the library too, to
// set the machine up and to hear of every call the library receives.
#include <windows.h>
#include <gtest/gtest.h>

#include "romeo/card_access_win32.h"
#include "tests/romeo_pcidebug_sim.h"
#include "tests/romeo_sim.h"

namespace {

template <typename Fn>
Fn Export(HMODULE library, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

class Win32SimCard;

// The platform's access with sleeps that only log and a clock of the test's own.
class LoggedWin32Access final : public Win32CardAccess {
 public:
  explicit LoggedWin32Access(SimCard& sim) : sim_(sim) {}
  void Sleep(uint32_t milliseconds) override {
    sim_.log.push_back(SimCard::Sleep(milliseconds));
    clock_ += milliseconds == 0 ? 1 : milliseconds;
  }
  uint32_t Milliseconds() override { return clock_; }
  void Lock() override {
    sim_.log.push_back("lock");
    Win32CardAccess::Lock();
  }
  void Unlock() override {
    sim_.log.push_back("unlock");
    Win32CardAccess::Unlock();
  }

 private:
  SimCard& sim_;
  uint32_t clock_ = SimCard::kClockStart;
};

class Win32SimCard final : public SimCard {
 public:
  Win32SimCard(uint32_t device_id, uint32_t bar) : access_(*this) {
    // Loaded here before the access loads it, and kept: the process keeps it anyway.
    HMODULE library = LoadLibraryA("pcidebug.dll");
    EXPECT_NE(library, nullptr) << "the simulated pcidebug.dll belongs beside the test program";
    if (library == nullptr) return;
    set_read_ = Export<SimSetReadFn>(library, "SimSetRead");
    set_busy_ = Export<SimSetBusyFn>(library, "SimSetBusy");
    written_ = Export<SimWrittenFn>(library, "SimWritten");
    Export<SimConfigureFn>(library, "SimConfigure")(device_id, bar, &Observe, this);
  }

  CardAccess& access() override { return access_; }
  void SetRead(uint32_t offset, uint8_t value) override { set_read_(offset, value); }
  void SetBusy(uint32_t offset, int count) override { set_busy_(offset, count); }
  uint8_t Written(uint32_t offset) override { return static_cast<uint8_t>(written_(offset)); }

 private:
  static void __cdecl Observe(void* context, uint32_t call, uint32_t a, uint32_t b,
                              uint32_t c) {
    Log& log = static_cast<Win32SimCard*>(context)->log;
    switch (call) {
      case kSimFind: log.push_back(Find(a, b, c)); break;
      case kSimConfig: log.push_back(Config(b)); break;
      case kSimWrite8: log.push_back(Memory("w8", a, b)); break;
      case kSimWrite16: log.push_back(Memory("w16", a, b)); break;
      case kSimWrite32: log.push_back(Memory("w32", a, b)); break;
      case kSimRead8: log.push_back(Memory("r8", a)); break;
      case kSimRead16: log.push_back(Memory("r16", a)); break;
      case kSimRead32: log.push_back(Memory("r32", a)); break;
      default: log.push_back("unknown call"); break;
    }
  }
  using Log = std::vector<std::string>;

  LoggedWin32Access access_;
  SimSetReadFn set_read_ = nullptr;
  SimSetBusyFn set_busy_ = nullptr;
  SimWrittenFn written_ = nullptr;
};

}  // namespace

std::unique_ptr<SimCard> SimCard::Create(uint32_t device_id, uint32_t bar) {
  return std::make_unique<Win32SimCard>(device_id, bar);
}
