// The simulated card on Linux: a sysfs tree in a temporary directory, read by PosixCardAccess;
// and the tests of what is particular to reaching the card through sysfs.
#include <fcntl.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <cinttypes>
#include <filesystem>
#include <map>

#include "romeo/card_access_posix.h"
#include "romeo/romeo_manager.h"
#include "tests/romeo_sim.h"
#include "tests/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr char kCardSlot[] = "0000:05:00.0";

class PosixSimCard;

// The platform's access, logging every call before passing it on; reads first put the value
// the test asked for into the register file, and the byte written there back afterwards.
class LoggedPosixAccess final : public PosixCardAccess {
 public:
  LoggedPosixAccess(const std::string& root, PosixSimCard& sim)
      : PosixCardAccess(root), sim_(sim) {}

  uint32_t FindPciDevice(uint32_t vendor, uint32_t device, uint32_t index) override;
  uint32_t ConfigReadLong(uint32_t location, uint32_t offset) override;
  void MemWriteChar(uint32_t address, uint32_t value) override;
  void MemWriteLong(uint32_t address, uint32_t value) override;
  uint8_t MemReadChar(uint32_t address) override;
  void Sleep(uint32_t milliseconds) override;
  uint32_t Milliseconds() override { return clock_; }
  void Lock() override;
  void Unlock() override;

 private:
  PosixSimCard& sim_;
  uint32_t clock_ = SimCard::kClockStart;
};

class PosixSimCard final : public SimCard {
 public:
  PosixSimCard(uint32_t device_id, uint32_t bar) {
    const fs::path devices = fs::path(dir_.path()) / "bus/pci/devices";
    fs::create_directories(devices);
    // An unrelated device first, without memory.
    MakeDevice(devices / "0000:00:00.0", 0x8086, 0x1237, 0);
    if (device_id != 0) {
      // As in sysfs, the bus's device entries are links to the device directories.
      const fs::path real = fs::path(dir_.path()) / "devices/pci0000:00" / kCardSlot;
      MakeDevice(real, 0x6809, device_id, bar);
      fs::create_directory_symlink(real, devices / kCardSlot);
      register_file_ = (real / "resource1").string();
    }
    access_ = std::make_unique<LoggedPosixAccess>(dir_.path(), *this);
  }

  CardAccess& access() override { return *access_; }
  void SetRead(uint32_t offset, uint8_t value) override { reads_[offset] = value; }
  void SetBusy(uint32_t offset, int count) override { busy_[offset] = count; }
  uint8_t Written(uint32_t offset) override { return Peek(offset); }

  // Called by the access before and after it reads kBase + offset.
  uint8_t BeforeRead(uint32_t offset) {
    const uint8_t written = Peek(offset);
    uint8_t value = reads_[offset];
    if (busy_[offset] > 0) {
      --busy_[offset];
      value |= 0x80;
    }
    Poke(offset, value);
    return written;
  }
  void AfterRead(uint32_t offset, uint8_t written) { Poke(offset, written); }
  bool InBlock(uint32_t address) const {
    return !register_file_.empty() && address >= kBase && address - kBase < kBlockSize;
  }
  const std::string& root() const { return dir_.path(); }
  const std::string& register_file() const { return register_file_; }

 private:
  static void MakeDevice(const fs::path& path, uint32_t vendor, uint32_t device, uint32_t bar) {
    fs::create_directories(path);
    char text[32];
    std::snprintf(text, sizeof text, "0x%04x\n", vendor);
    WriteAll((path / "vendor").string(), text);
    std::snprintf(text, sizeof text, "0x%04x\n", device);
    WriteAll((path / "device").string(), text);
    std::string config(64, '\0');
    const uint32_t dwords[][2] = {{0x00, vendor | device << 16}, {0x14, bar}};
    for (const auto& d : dwords) {
      for (int i = 0; i < 4; ++i) config[d[0] + i] = static_cast<char>(d[1] >> (8 * i));
    }
    WriteAll((path / "config").string(), config);
    // Line N describes resourceN: BAR 1 is the register block, the rest is unused.
    std::string resource;
    for (int n = 0; n < 13; ++n) {
      char line[80];
      const bool block = bar != 0 && n == 1;
      std::snprintf(line, sizeof line, "0x%016" PRIx64 " 0x%016" PRIx64 " 0x%016" PRIx64 "\n",
                    block ? uint64_t{kBase} : 0, block ? uint64_t{kBase + kBlockSize - 1} : 0,
                    block ? uint64_t{0x40200} : 0);
      resource += line;
    }
    WriteAll((path / "resource").string(), resource);
    WriteAll((path / "resource1").string(), std::string(kBlockSize, '\0'));
  }
  uint8_t Peek(uint32_t offset) {
    uint8_t byte = 0;
    int fd = open(register_file_.c_str(), O_RDONLY);
    if (fd >= 0) {
      EXPECT_EQ(pread(fd, &byte, 1, offset), 1);
      close(fd);
    }
    return byte;
  }
  void Poke(uint32_t offset, uint8_t value) {
    int fd = open(register_file_.c_str(), O_WRONLY);
    if (fd >= 0) {
      EXPECT_EQ(pwrite(fd, &value, 1, offset), 1);
      close(fd);
    }
  }

  TempDir dir_;
  std::string register_file_;
  std::map<uint32_t, uint8_t> reads_;
  std::map<uint32_t, int> busy_;
  std::unique_ptr<LoggedPosixAccess> access_;
};

uint32_t LoggedPosixAccess::FindPciDevice(uint32_t vendor, uint32_t device, uint32_t index) {
  sim_.log.push_back(SimCard::Find(vendor, device, index));
  return PosixCardAccess::FindPciDevice(vendor, device, index);
}

uint32_t LoggedPosixAccess::ConfigReadLong(uint32_t location, uint32_t offset) {
  sim_.log.push_back(SimCard::Config(offset));
  return PosixCardAccess::ConfigReadLong(location, offset);
}

void LoggedPosixAccess::MemWriteChar(uint32_t address, uint32_t value) {
  sim_.log.push_back(SimCard::Memory("w8", address, value));
  PosixCardAccess::MemWriteChar(address, value);
}

void LoggedPosixAccess::MemWriteLong(uint32_t address, uint32_t value) {
  sim_.log.push_back(SimCard::Memory("w32", address, value));
  PosixCardAccess::MemWriteLong(address, value);
}

uint8_t LoggedPosixAccess::MemReadChar(uint32_t address) {
  sim_.log.push_back(SimCard::Memory("r8", address));
  if (!sim_.InBlock(address)) return PosixCardAccess::MemReadChar(address);
  const uint8_t written = sim_.BeforeRead(address - SimCard::kBase);
  const uint8_t value = PosixCardAccess::MemReadChar(address);
  sim_.AfterRead(address - SimCard::kBase, written);
  return value;
}

void LoggedPosixAccess::Sleep(uint32_t milliseconds) {
  sim_.log.push_back(SimCard::Sleep(milliseconds));
  clock_ += milliseconds == 0 ? 1 : milliseconds;
}

void LoggedPosixAccess::Lock() {
  sim_.log.push_back("lock");
  PosixCardAccess::Lock();
}

void LoggedPosixAccess::Unlock() {
  sim_.log.push_back("unlock");
  PosixCardAccess::Unlock();
}

}  // namespace

std::unique_ptr<SimCard> SimCard::Create(uint32_t device_id, uint32_t bar) {
  return std::make_unique<PosixSimCard>(device_id, bar);
}

namespace {

TEST(RomeoSysfs, WithoutThePciTreeThereIsNoAccess) {
  TempDir empty;
  PosixCardAccess access(empty.path());
  RomeoManager manager(access);
  EXPECT_EQ(manager.detect_result(), RomeoManager::kNoAccess);
  EXPECT_EQ(PosixCardAccess("/nonexistent-sysfs").OpenDriver(), CardAccess::kNoDriver)
      << "Linux has no ROMEO driver";
}

TEST(RomeoSysfs, RegisterWritesLandInTheBarsResourceFile) {
  auto sim = SimCard::Create(0x8121);
  auto& card = static_cast<PosixSimCard&>(*sim);
  RomeoManager manager(card.access());
  ASSERT_EQ(manager.detect_result(), RomeoManager::kDetected);
  std::unique_ptr<ChipHandle> opn;
  ASSERT_EQ(manager.Request(5, &opn), RomeoManager::kGranted);
  opn->WriteRegister(0, 0x130, 0x5A);
  opn->WriteRegister(0, 0x2B, 0x80);
  const std::string block = ReadAll(card.register_file());
  ASSERT_EQ(block.size(), SimCard::kBlockSize);
  EXPECT_EQ(static_cast<uint8_t>(block[0x108]), 0x30) << "one byte of 0x130";
  EXPECT_EQ(static_cast<uint8_t>(block[0x10C]), 0x5A);
  EXPECT_EQ(static_cast<uint8_t>(block[0x100]), 0x2B);
  EXPECT_EQ(static_cast<uint8_t>(block[0x104]), 0x80);
  // The YM2151's reset control after detection: 0x80 as one little-endian dword.
  EXPECT_EQ(block.substr(0x1C, 4), std::string("\x80\0\0\0", 4));
}

TEST(RomeoSysfs, AddressesOutsideTheCardsBarsAreNotTouched) {
  auto sim = SimCard::Create(0x8121);
  RomeoManager manager(sim->access());
  ASSERT_EQ(manager.detect_result(), RomeoManager::kDetected);
  CardAccess& access = sim->access();
  EXPECT_EQ(access.MemReadChar(SimCard::kBase - 1), 0xFF);
  EXPECT_EQ(access.MemReadChar(SimCard::kBase + SimCard::kBlockSize), 0xFF);
  access.MemWriteLong(SimCard::kBase + SimCard::kBlockSize - 2, 0xFFFFFFFF);  // straddles the end
  EXPECT_EQ(sim->Written(SimCard::kBlockSize - 2), 0);
}

}  // namespace
