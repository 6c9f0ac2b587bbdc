// The board with a ROMEO card in the process: the real YM2151 taken at Init, FM data writes
// sent to it, the emulated FM left out of the mix, board resets reaching the real chip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "module/board_device.h"
#include "module/board_module.h"
#include "romeo/romeo_manager.h"
#include "tests/recording_host.h"
#include "tests/romeo_sim.h"
#include "tests/temp_dir.h"

namespace {

using Log = std::vector<std::string>;

// A simulated card whose manager is the process's for the test's duration.
struct ProcessCard {
  std::unique_ptr<SimCard> sim;
  std::unique_ptr<RomeoManager> manager;
  RomeoManager* previous;
  explicit ProcessCard(uint32_t device_id = 0x8121) : sim(SimCard::Create(device_id)) {
    manager = std::make_unique<RomeoManager>(sim->access());
    previous = SetProcessRomeoManager(manager.get());
    sim->log.clear();
  }
  ~ProcessCard() { SetProcessRomeoManager(previous); }
  Log Writes() const {
    Log out;
    for (const std::string& line : sim->log) {
      if (line.rfind("w8", 0) == 0) out.push_back(line);
    }
    return out;
  }
};

struct Board {
  RecordingHost host;
  std::unique_ptr<BoardDevice> device = std::make_unique<BoardDevice>("VRLA");
  explicit Board(bool use_romeo) {
    BoardSettings s{};
    for (int i = 0; i < 8; ++i) s.output[i] = 1;
    s.use_romeo = use_romeo ? 1 : 0;
    device->ApplySettings(s);
    device->Init(&host, 0x105, &host);
    host.Attach(device.get(), BoardDevice::ConnectorTable());
    device->Connect(&host);
  }
  void Fm(uint32_t reg, uint32_t value) {
    host.PortOut(0x88, reg);
    host.PortOut(0x89, value);
  }
  // Channel 0, algorithm 7, both sides, keyed on.
  void FmTone() {
    const uint32_t regs[][2] = {{0x20, 0xC7}, {0x28, 0x4A}, {0x60, 0}, {0x68, 0}, {0x70, 0},
                                {0x78, 0},    {0x80, 31},   {0x88, 31}, {0x90, 31}, {0x98, 31},
                                {0x40, 1},    {0x48, 1},    {0x50, 1},  {0x58, 1},  {0x08, 0x78}};
    for (const auto& r : regs) Fm(r[0], r[1]);
  }
  int64_t Energy(int frames = 2000) {
    std::vector<StereoFrame> out(static_cast<size_t>(frames), StereoFrame{0, 0});
    device->Mix(out.data(), frames);
    int64_t sum = 0;
    for (const StereoFrame& f : out) sum += std::llabs(f.left) + std::llabs(f.right);
    return sum;
  }
  void SetUseRomeo(bool on) {
    BoardSettings s{};
    for (int i = 0; i < 8; ++i) s.output[i] = 1;
    s.use_romeo = on ? 1 : 0;
    device->ApplySettings(s);
  }
};

Log LockedOpmReset() {
  return {"lock",           "w32 +0x1c 0x0", "sleep 150", "r8 +0x5",
          "w32 +0x1c 0x80", "sleep 150",     "r8 +0x4",   "unlock"};
}

TEST(RomeoBoard, InitTakesTheYm2151AndResetsIt) {
  ProcessCard card;
  Board board(false);
  EXPECT_EQ(board.device->romeo(), card.manager.get());
  EXPECT_TRUE(board.device->holds_real_chip());
  EXPECT_TRUE(card.manager->opm_port().in_use());
  EXPECT_EQ(card.sim->log, LockedOpmReset()) << "Init's reset reaches the real chip";
}

TEST(RomeoBoard, WithUseRomeoEveryFmWriteReachesBothChipsAndOnlyTheRealOnePlays) {
  ProcessCard card;
  Board board(true);
  card.sim->log.clear();
  board.FmTone();
  const Log writes = card.Writes();
  ASSERT_EQ(writes.size(), 30u) << "an address and a data write for each of the 15";
  EXPECT_EQ(Log(writes.begin(), writes.begin() + 4),
            (Log{"w8 +0x0 0x20", "w8 +0x4 0xc7", "w8 +0x0 0x28", "w8 +0x4 0x4a"}));
  EXPECT_EQ(Log(writes.end() - 2, writes.end()), (Log{"w8 +0x0 0x8", "w8 +0x4 0x78"}));
  EXPECT_EQ(board.host.Count("Update"), 15) << "each data write renders what is due first";
  EXPECT_EQ(board.Energy(), 0) << "the emulated FM is not mixed";
  // The emulated chip had the same writes: switched back, it sounds at once.
  board.SetUseRomeo(false);
  EXPECT_GT(board.Energy(), 0);
  card.sim->log.clear();
  board.Fm(0x08, 0x00);
  EXPECT_TRUE(card.Writes().empty()) << "with USE_ROMEO off nothing goes to the card";
}

TEST(RomeoBoard, EveryBoardResetResetsTheRealChipWhateverUseRomeo) {
  ProcessCard card;
  Board board(false);
  for (bool use_romeo : {false, true}) {
    board.SetUseRomeo(use_romeo);
    card.sim->log.clear();
    board.host.PortOut(0x108, 0);
    EXPECT_EQ(card.sim->log, LockedOpmReset()) << use_romeo;
  }
}

TEST(RomeoBoard, ARestoredStateIsWrittenToTheRealChip) {
  ProcessCard card;
  Board board(true);
  board.device->SetSaveStates(true);
  board.FmTone();
  const std::vector<uint8_t> state = board.device->StateBytes();
  board.Fm(0x20, 0x00);
  board.Fm(0x08, 0x00);
  card.sim->log.clear();
  ASSERT_TRUE(board.device->LoadStateBytes(state.data(), state.size()));
  const Log& log = card.sim->log;
  ASSERT_GE(log.size(), LockedOpmReset().size());
  EXPECT_EQ(Log(log.begin(), log.begin() + 8), LockedOpmReset()) << "silenced first";
  // Every register once (0x19 twice: AMD and PMD; 0x08 once a channel), the keys last.
  const Log writes = card.Writes();
  ASSERT_EQ(writes.size(), 2u * (7 + 2 + 224 + 1 + 8));
  const auto at = std::find(writes.begin(), writes.end(), "w8 +0x0 0x20");
  ASSERT_NE(at, writes.end());
  EXPECT_EQ(*(at + 1), "w8 +0x4 0xc7");
  EXPECT_EQ(Log(writes.end() - 16, writes.end() - 14), (Log{"w8 +0x0 0x8", "w8 +0x4 0x78"}));
}

TEST(RomeoBoard, ASecondBoardGetsNoChipAndPlaysFmItself) {
  ProcessCard card;
  Board first(true);
  Board second(true);
  EXPECT_TRUE(first.device->holds_real_chip());
  EXPECT_FALSE(second.device->holds_real_chip());
  card.sim->log.clear();
  second.FmTone();
  EXPECT_TRUE(card.sim->log.empty());
  EXPECT_GT(second.Energy(), 0);
  second.host.PortOut(0x108, 0);
  EXPECT_TRUE(card.sim->log.empty()) << "its resets do not reach the card";
}

TEST(RomeoBoard, ADestroyedBoardGivesTheChipBack) {
  ProcessCard card;
  Board first(true);
  first.device.reset();
  EXPECT_FALSE(card.manager->opm_port().in_use());
  Board next(true);
  EXPECT_TRUE(next.device->holds_real_chip());
}

TEST(RomeoBoard, AReleasedModuleGivesTheChipBackToTheNextOne) {
  ProcessCard card;
  TempDir dir;
  WriteAll(dir.File("VYX.INI"), "[VORLA]\nUSE_ROMEO=1\n");
  for (int round = 0; round < 2; ++round) {
    RecordingHost host;
    auto* module = static_cast<BoardModule*>(CreateBoardModule(&host, dir.File("VYX.INI"), nullptr));
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(module->device().holds_real_chip()) << round;
    EXPECT_TRUE(module->device().use_romeo());
    module->Release();
    EXPECT_FALSE(card.manager->opm_port().in_use()) << round;
  }
}

TEST(RomeoBoard, ACardWithoutAYm2151LeavesTheFmEmulated) {
  auto sim = SimCard::Create(0x8121);
  sim->SetRead(0x5, 0x20);
  RomeoManager manager(sim->access());
  RomeoManager* previous = SetProcessRomeoManager(&manager);
  {
    Board board(true);
    EXPECT_FALSE(board.device->holds_real_chip());
    board.FmTone();
    EXPECT_GT(board.Energy(), 0);
  }
  SetProcessRomeoManager(previous);
}

TEST(RomeoBoard, WithoutAManagerTheBoardIsAsBefore) {
  RomeoManager* previous = SetProcessRomeoManager(nullptr);
  {
    Board board(true);
    EXPECT_EQ(board.device->romeo(), nullptr);
    EXPECT_FALSE(board.device->holds_real_chip());
    board.FmTone();
    EXPECT_GT(board.Energy(), 0) << "USE_ROMEO on but no card: FM is emulated and mixed";
  }
  SetProcessRomeoManager(previous);
}

}  // namespace
