// The ROMEO manager against a simulated card reached through the platform's own access (sysfs
// on Linux, pcidebug.dll on Windows), and in driver mode against a driver of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "romeo/romeo_manager.h"
#include "tests/romeo_sim.h"

namespace {

using Log = std::vector<std::string>;

// The YM2151's reset at card base + `block`: hold, wait, probe, run, wait, status.
Log OpmReset() {
  return {"w32 +0x1c 0x0", "sleep 150", "r8 +0x5", "w32 +0x1c 0x80", "sleep 150", "r8 +0x4"};
}

Log Plus(Log a, const Log& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Only the lines starting with `prefix`.
Log Only(const Log& log, const std::string& prefix) {
  Log out;
  for (const std::string& line : log) {
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  }
  return out;
}

TEST(RomeoDetection, FindsTheCardAndResetsItsYm2151) {
  auto sim = SimCard::Create(0x8121);
  RomeoManager manager(sim->access());
  EXPECT_EQ(manager.detect_result(), RomeoManager::kDetected);
  EXPECT_TRUE(manager.memory_mapped());
  EXPECT_EQ(manager.card_base(), SimCard::kBase);
  EXPECT_EQ(manager.opm_port().base(), SimCard::kBase);
  EXPECT_TRUE(manager.opm_port().present());
  EXPECT_EQ(sim->log, Plus({"find 0x6809 0x8121 0", "config 0x14"}, OpmReset()));
}

TEST(RomeoDetection, TheSecondDeviceIdIsSearchedOnlyWhenTheFirstIsMissing) {
  auto sim = SimCard::Create(0x2151);
  RomeoManager manager(sim->access());
  EXPECT_EQ(manager.detect_result(), RomeoManager::kDetected);
  EXPECT_EQ(manager.card_base(), SimCard::kBase);
  EXPECT_EQ(sim->log, Plus({"find 0x6809 0x8121 0", "find 0x6809 0x2151 0", "config 0x14"},
                           OpmReset()));
}

TEST(RomeoDetection, NoCardOrAZeroBaseFailsWithoutTouchingMemory) {
  for (uint32_t device_id : {0u, 0x8121u}) {
    auto sim = SimCard::Create(device_id, device_id == 0 ? SimCard::kBase : 0);
    {
      RomeoManager manager(sim->access());
      EXPECT_EQ(manager.detect_result(), RomeoManager::kNoCard) << device_id;
      RomeoManager* previous = SetProcessRomeoManager(&manager);
      EXPECT_EQ(GetRomeoManager(), nullptr) << "a failed detection offers no manager";
      SetProcessRomeoManager(previous);
      std::unique_ptr<ChipHandle> handle;
      EXPECT_EQ(manager.Request(2, &handle), RomeoManager::kOpmUnavailable);
    }
    EXPECT_TRUE(Only(sim->log, "w").empty()) << device_id;
    EXPECT_TRUE(Only(sim->log, "sleep").empty()) << "no delay without a card";
  }
}

TEST(RomeoDetection, TheProcessManagerIsOfferedOnlyAfterASuccessfulDetection) {
  auto sim = SimCard::Create(0x8121);
  RomeoManager manager(sim->access());
  RomeoManager* previous = SetProcessRomeoManager(&manager);
  EXPECT_EQ(GetRomeoManager(), &manager);
  SetProcessRomeoManager(nullptr);
  EXPECT_EQ(GetRomeoManager(), nullptr);
  SetProcessRomeoManager(previous);
}

TEST(RomeoPresence, ANonZeroByteDuringOrAfterTheResetMeansNoYm2151) {
  for (uint32_t offset : {0x5u, 0x4u}) {
    auto sim = SimCard::Create(0x8121);
    sim->SetRead(offset, 0x01);
    {
      RomeoManager manager(sim->access());
      EXPECT_EQ(manager.detect_result(), RomeoManager::kDetected);
      EXPECT_FALSE(manager.opm_port().present()) << offset;
      std::unique_ptr<ChipHandle> handle;
      EXPECT_EQ(manager.Request(2, &handle), RomeoManager::kOpmUnavailable) << offset;
      EXPECT_EQ(handle, nullptr);
      sim->log.clear();
    }
    EXPECT_TRUE(sim->log.empty()) << "an absent chip is not reset at unload";
  }
}

TEST(RomeoRequest, EachChipIsHandedOutOnceUntilItsHandleIsGone) {
  auto sim = SimCard::Create(0x8121);
  RomeoManager manager(sim->access());
  std::unique_ptr<ChipHandle> opm, again, opn, other;
  EXPECT_EQ(manager.Request(2, &opm), RomeoManager::kGranted);
  ASSERT_NE(opm, nullptr);
  EXPECT_EQ(&opm->port(), &manager.opm_port());
  EXPECT_EQ(manager.Request(2, &again), RomeoManager::kOpmUnavailable);
  EXPECT_EQ(again, nullptr);
  // Any code but 2 asks for the OPN-family chip.
  EXPECT_EQ(manager.Request(5, &opn), RomeoManager::kGranted);
  ASSERT_NE(opn, nullptr);
  EXPECT_EQ(&opn->port(), &manager.opn_port());
  EXPECT_EQ(manager.Request(0, &other), RomeoManager::kOpnUnavailable);
  EXPECT_EQ(manager.Request(-1, &other), RomeoManager::kOpnUnavailable);
  EXPECT_TRUE(Only(sim->log, "lock").empty()) << "Request takes no lock";
  // A destroyed handle gives its chip back.
  opm.reset();
  EXPECT_FALSE(manager.opm_port().in_use());
  EXPECT_EQ(manager.Request(2, &again), RomeoManager::kGranted);
}

TEST(RomeoWrites, Ym2151AddressThenDataOnceTheChipIsNotBusy) {
  auto sim = SimCard::Create(0x8121);
  RomeoManager manager(sim->access());
  std::unique_ptr<ChipHandle> opm;
  ASSERT_EQ(manager.Request(2, &opm), RomeoManager::kGranted);
  sim->SetBusy(0x4, 2);
  sim->log.clear();
  EXPECT_TRUE(opm->WriteRegister(0, 0x28, 0x4A));
  EXPECT_EQ(sim->log, (Log{"r8 +0x4", "yield", "r8 +0x4", "yield", "r8 +0x4", "w8 +0x0 0x28",
                           "w8 +0x4 0x4a"}));
  EXPECT_EQ(sim->Written(0x0), 0x28);
  EXPECT_EQ(sim->Written(0x4), 0x4A);
}

TEST(RomeoWrites, OpnRegistersGoToTheirBank) {
  auto sim = SimCard::Create(0x8121);
  RomeoManager manager(sim->access());
  std::unique_ptr<ChipHandle> opn;
  ASSERT_EQ(manager.Request(3, &opn), RomeoManager::kGranted);
  ASSERT_EQ(manager.opn_port().base(), SimCard::kBase + 0x100);
  sim->log.clear();
  opn->WriteRegister(0, 0x130, 0x5A);
  opn->WriteRegister(0, 0xFF, 0x11);
  opn->WriteRegister(0, 0x100, 0x22);
  // The status is read before the address and again before the data; the register number
  // is passed on whole.
  EXPECT_EQ(sim->log, (Log{"r8 +0x100", "w8 +0x108 0x130", "r8 +0x100", "w8 +0x10c 0x5a",
                           "r8 +0x100", "w8 +0x100 0xff", "r8 +0x100", "w8 +0x104 0x11",
                           "r8 +0x100", "w8 +0x108 0x100", "r8 +0x100", "w8 +0x10c 0x22"}));
  EXPECT_EQ(sim->Written(0x108), 0x00);
  EXPECT_EQ(sim->Written(0x10C), 0x22);
}

TEST(RomeoWrites, OpnResetMutesBothBanksThenPulsesTheResetControl) {
  auto sim = SimCard::Create(0x8121);
  RomeoManager manager(sim->access());
  std::unique_ptr<ChipHandle> opn;
  ASSERT_EQ(manager.Request(5, &opn), RomeoManager::kGranted);
  sim->log.clear();
  EXPECT_EQ(opn->ResetUnlocked(1234), 1);
  Log expected = {"w8 +0x100 0x7", "w8 +0x104 0x3f"};
  for (uint32_t reg : {0x40u, 0x41u, 0x42u, 0x44u, 0x45u, 0x46u, 0x48u, 0x49u, 0x4Au, 0x4Cu,
                       0x4Du, 0x4Eu}) {
    expected.push_back(SimCard::Memory("w8", SimCard::kBase + 0x100, reg));
    expected.push_back("w8 +0x104 0x7f");
    expected.push_back(SimCard::Memory("w8", SimCard::kBase + 0x108, reg + 0x100));
    expected.push_back("w8 +0x10c 0x7f");
  }
  expected.insert(expected.end(), {"w32 +0x11c 0x0", "w32 +0x11c 0x80"});
  EXPECT_EQ(Only(sim->log, "w"), expected);
  EXPECT_EQ(Only(sim->log, "r8").size(), 50u) << "25 writes, two status reads each";
  EXPECT_EQ(Log(sim->log.end() - 4, sim->log.end()),
            (Log{"w32 +0x11c 0x0", "sleep 150", "w32 +0x11c 0x80", "sleep 150"}));
  EXPECT_TRUE(Only(sim->log, "lock").empty());
}

TEST(RomeoWrites, HandleResetHoldsTheLockAndChecksPresenceAgain) {
  auto sim = SimCard::Create(0x8121);
  RomeoManager manager(sim->access());
  std::unique_ptr<ChipHandle> opm;
  ASSERT_EQ(manager.Request(2, &opm), RomeoManager::kGranted);
  sim->SetRead(0x5, 0xFF);
  sim->log.clear();
  opm->Reset();
  EXPECT_EQ(sim->log, Plus(Plus({"lock"}, OpmReset()), {"unlock"}));
  EXPECT_FALSE(manager.opm_port().present());
  sim->SetRead(0x5, 0x00);
  sim->log.clear();
  EXPECT_EQ(opm->ResetUnlocked(0), 1);
  EXPECT_EQ(sim->log, OpmReset());
  EXPECT_TRUE(manager.opm_port().present());
}

TEST(RomeoBusyWait, AChipThatStaysBusyCostsOneWriteNotTheThread) {
  auto sim = SimCard::Create(0x8121);
  RomeoManager manager(sim->access());
  std::unique_ptr<ChipHandle> opm, opn;
  ASSERT_EQ(manager.Request(2, &opm), RomeoManager::kGranted);
  ASSERT_EQ(manager.Request(5, &opn), RomeoManager::kGranted);
  sim->SetBusy(0x4, 1 << 30);
  sim->log.clear();
  opm->WriteRegister(0, 0x08, 0x78);
  // The clock advances a millisecond a yield, across its wrap-around.
  EXPECT_EQ(Only(sim->log, "yield").size(), RomeoManager::kBusyWaitLimitMs);
  EXPECT_TRUE(Only(sim->log, "w").empty()) << "the write is given up";
  sim->SetBusy(0x4, 0);
  sim->log.clear();
  opm->WriteRegister(0, 0x08, 0x78);
  EXPECT_EQ(sim->log, (Log{"r8 +0x4", "w8 +0x0 0x8", "w8 +0x4 0x78"})) << "the next one goes";
  sim->SetBusy(0x100, 1 << 30);
  sim->log.clear();
  opn->WriteRegister(0, 0x28, 0xF0);
  EXPECT_TRUE(Only(sim->log, "w").empty());
}

TEST(RomeoUnload, OnlyAFreeYm2151IsReset) {
  auto sim = SimCard::Create(0x8121);
  auto manager = std::make_unique<RomeoManager>(sim->access());
  sim->log.clear();
  manager.reset();
  EXPECT_EQ(sim->log, OpmReset()) << "never handed out";

  manager = std::make_unique<RomeoManager>(sim->access());
  std::unique_ptr<ChipHandle> opm;
  ASSERT_EQ(manager->Request(2, &opm), RomeoManager::kGranted);
  opm.reset();
  sim->log.clear();
  manager.reset();
  EXPECT_EQ(sim->log, OpmReset()) << "handed out, then given back";

  manager = std::make_unique<RomeoManager>(sim->access());
  ASSERT_EQ(manager->Request(2, &opm), RomeoManager::kGranted);
  sim->log.clear();
  ChipHandle* held = opm.release();
  manager.reset();
  EXPECT_TRUE(sim->log.empty()) << "a chip still held is left as it is";
  ::operator delete(held);  // its manager is gone: the storage only
}

// A machine with the ROMEO driver: every call is recorded, and memory is never expected.
class DriverAccess final : public CardAccess {
 public:
  static constexpr DriverHandle kDriver = 0x5C;
  bool driver_present = true;
  bool library_present = false;
  Log calls;
  std::vector<std::vector<uint8_t>> records;

  DriverHandle OpenDriver() override {
    calls.push_back("open");
    return driver_present ? kDriver : kNoDriver;
  }
  void SendDriverRequest(DriverHandle driver, const uint8_t (&record)[8]) override {
    EXPECT_EQ(driver, kDriver);
    records.emplace_back(record, record + 8);
  }
  void CloseDriver(DriverHandle driver) override {
    EXPECT_EQ(driver, kDriver);
    calls.push_back("close");
  }
  bool OpenPciAccess() override {
    calls.push_back("load");
    return library_present;
  }
  uint32_t FindPciDevice(uint32_t, uint32_t, uint32_t) override { return Unexpected("find"); }
  uint32_t ConfigReadLong(uint32_t, uint32_t) override { return Unexpected("config"); }
  void MemWriteChar(uint32_t, uint32_t) override { Unexpected("w8"); }
  void MemWriteLong(uint32_t, uint32_t) override { Unexpected("w32"); }
  uint8_t MemReadChar(uint32_t) override { return static_cast<uint8_t>(Unexpected("r8")); }
  void Sleep(uint32_t milliseconds) override { calls.push_back(SimCard::Sleep(milliseconds)); }
  uint32_t Milliseconds() override { return 0; }
  void Lock() override { calls.push_back("lock"); }
  void Unlock() override { calls.push_back("unlock"); }

 private:
  uint32_t Unexpected(const char* what) {
    ADD_FAILURE() << what << " without the access layer";
    return 0xFFFFFFFF;
  }
};

TEST(RomeoDriverMode, OnlyTheOpnChipIsReachableThroughTheDriver) {
  DriverAccess access;
  {
    RomeoManager manager(access);
    EXPECT_EQ(manager.detect_result(), RomeoManager::kDetected);
    EXPECT_FALSE(manager.memory_mapped());
    EXPECT_EQ(manager.card_base(), 0u);
    EXPECT_EQ(access.calls, Log{"open"}) << "no library, and the YM2151 reset does nothing";
    std::unique_ptr<ChipHandle> opm, opn;
    EXPECT_EQ(manager.Request(2, &opm), RomeoManager::kOpmUnavailable);
    ASSERT_EQ(manager.Request(5, &opn), RomeoManager::kGranted);
    opn->WriteRegister(0, 0x130, 0x5A);
    ASSERT_EQ(access.records.size(), 1u);
    EXPECT_EQ(access.records[0], (std::vector<uint8_t>{0x30, 0x01, 0, 0, 0x5A, 0, 0, 0}));
    // The reset mutes through the driver, and there is no reset control to pulse.
    access.records.clear();
    opn->Reset();
    ASSERT_EQ(access.records.size(), 25u);
    EXPECT_EQ(access.records[0], (std::vector<uint8_t>{7, 0, 0, 0, 63, 0, 0, 0}));
    EXPECT_EQ(access.records[2], (std::vector<uint8_t>{0x40, 0x01, 0, 0, 127, 0, 0, 0}));
    EXPECT_EQ(access.records[24], (std::vector<uint8_t>{0x4E, 0x01, 0, 0, 127, 0, 0, 0}));
    access.calls.clear();
  }
  EXPECT_EQ(access.calls, Log{"close"});
}

TEST(RomeoDriverMode, NeitherDriverNorLibraryMeansNoManager) {
  DriverAccess access;
  access.driver_present = false;
  {
    RomeoManager manager(access);
    EXPECT_EQ(manager.detect_result(), RomeoManager::kNoAccess);
    RomeoManager* previous = SetProcessRomeoManager(&manager);
    EXPECT_EQ(GetRomeoManager(), nullptr);
    SetProcessRomeoManager(previous);
  }
  EXPECT_EQ(access.calls, (Log{"open", "load"})) << "no close, no reset, no delay";
}

}  // namespace
