#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "module/board_device.h"
#include "tests/core_state.h"
#include "tests/recording_host.h"

namespace {

BoardSettings Settings(int32_t volume, int32_t output) {
  BoardSettings s{};
  for (int i = 0; i < 8; ++i) {
    s.volume[i] = volume;
    s.output[i] = output;
  }
  return s;
}

// A device bound to a recording host: attached, connected, initialised.
struct Board {
  RecordingHost host;
  BoardDevice device{"VRLA"};
  Board() {
    device.Init(&host, 0x105, &host);
    host.Attach(&device, BoardDevice::ConnectorTable());
    device.Connect(&host);
    host.calls.clear();
  }
  void Out(uint32_t port, uint32_t value) { host.PortOut(port, value); }
  uint32_t In(uint32_t port) { return host.PortIn(port); }
  std::vector<StereoFrame> Render(int frames) {
    std::vector<StereoFrame> out(static_cast<size_t>(frames), StereoFrame{0, 0});
    device.Mix(out.data(), frames);
    return out;
  }
  // PSG `k` channel A: a tone at full level.
  void PsgTone(int k) {
    const uint32_t addr = 0xA0 + 2 * static_cast<uint32_t>(k);
    const uint32_t regs[][2] = {{0, 0x40}, {1, 0}, {7, 0x3E}, {8, 15}};
    for (const auto& r : regs) {
      Out(addr, r[0]);
      Out(addr + 1, r[1]);
    }
  }
  // FM channel 0: algorithm 7 (all operators to the output), both sides, keyed on.
  void FmTone() {
    const uint32_t regs[][2] = {{0x20, 0xC7}, {0x28, 0x4A}, {0x60, 0}, {0x68, 0}, {0x70, 0},
                                {0x78, 0},    {0x80, 31},   {0x88, 31}, {0x90, 31}, {0x98, 31},
                                {0x40, 1},    {0x48, 1},    {0x50, 1},  {0x58, 1},  {0x08, 0x78}};
    for (const auto& r : regs) {
      Out(0x88, r[0]);
      Out(0x89, r[1]);
    }
  }
};

int64_t Energy(const std::vector<StereoFrame>& frames, bool left) {
  int64_t sum = 0;
  for (const StereoFrame& f : frames) sum += std::llabs(left ? f.left : f.right);
  return sum;
}

TEST(BoardDevice, IdentityAndState) {
  BoardDevice device("VRLA");
  EXPECT_EQ(std::memcmp(device.GetId().chars, "VRLA", 4), 0);
  EXPECT_EQ(device.GetStateSize(), 0u);
  EXPECT_FALSE(device.SaveState(nullptr));
  EXPECT_FALSE(device.LoadState(nullptr));
}

TEST(BoardDevice, ConnectorTableHas33EntriesInOrder) {
  const Connector* t = BoardDevice::ConnectorTable();
  const uint16_t ports[33] = {0x108, 0x02, 0x0C, 0x0D, 0x0E, 0x0F, 0xA0, 0xA1, 0xA1, 0xA2, 0xA3,
                              0xA3,  0xA4, 0xA5, 0xA5, 0xA6, 0xA7, 0xA7, 0x81, 0x83, 0x84, 0x85,
                              0x86,  0x87, 0x80, 0x82, 0x84, 0x86, 0x88, 0x89, 0x89, 0x8A, 0x8A};
  const uint8_t kinds[33] = {2, 2, 2, 2, 2, 2, 2, 2, 1, 2, 2, 1, 2, 2, 1, 2, 2,
                             1, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 2, 2, 1, 2, 1};
  const uint8_t indexes[33] = {0, 1, 2, 2, 2, 3, 4, 5, 0, 4, 5, 0, 4, 5, 0, 4, 5,
                               0, 8, 8, 8, 8, 8, 8, 2, 2, 2, 2, 6, 7, 1, 9, 3};
  for (int i = 0; i < 33; ++i) {
    EXPECT_EQ(t[i].port, ports[i]) << i;
    EXPECT_EQ(t[i].kind, kinds[i]) << i;
    EXPECT_EQ(t[i].index, indexes[i]) << i;
  }
  const uint8_t* end = reinterpret_cast<const uint8_t*>(&t[33]);
  EXPECT_EQ(end[0] | end[1] | end[2] | end[3], 0);
  // The byte layout the host reads: port little-endian, kind, index.
  const uint8_t* first = reinterpret_cast<const uint8_t*>(t);
  EXPECT_EQ(first[0], 0x08);
  EXPECT_EQ(first[1], 0x01);
  EXPECT_EQ(first[2], 2);
  EXPECT_EQ(first[3], 0);
}

TEST(BoardDevice, UpdateComesOnlyBeforeSoundChanges) {
  Board b;
  b.Out(0x02, 0x08);
  b.Out(0x02, 0xFF);  // bit 3 unchanged
  EXPECT_EQ(b.host.Count("Update"), 1);
  b.Out(0x02, 0x00);
  EXPECT_EQ(b.host.Count("Update"), 2);
  b.host.calls.clear();
  for (uint32_t port : {0x0Fu, 0xA0u, 0x88u, 0x81u, 0x86u, 0x8Au}) b.Out(port, 0);
  for (uint32_t port : {0xA1u, 0x89u, 0x80u, 0x8Au}) b.In(port);
  EXPECT_EQ(b.host.Count("Update"), 0);
  for (uint32_t port : {0x0Cu, 0x0Du, 0x0Eu, 0xA1u, 0xA3u, 0xA5u, 0xA7u, 0x89u}) b.Out(port, 0);
  EXPECT_EQ(b.host.Count("Update"), 8);
  b.device.ApplySettings(Settings(0, 1));
  EXPECT_EQ(b.host.Count("Update"), 9);
}

TEST(BoardDevice, NoMixerMeansNoUpdateButStateStillChanges) {
  BoardDevice device("VRLA");
  RecordingHost host;
  device.Init(&host, 0x105, &host);
  host.Attach(&device, BoardDevice::ConnectorTable());
  host.PortOut(0x0F, 0x30);
  host.PortOut(0x0C, 0x34);
  EXPECT_EQ(Look(device.tone()).voice[0].period, 0x34 << 15);
  EXPECT_EQ(host.Count("Update"), 0);
}

TEST(BoardDevice, PsgLatchesKeepTheWholeValue) {
  Board b;
  b.Out(0xA2, 0x13);  // PSG 2, latch 19
  EXPECT_EQ(b.device.psg_slot(1).latch, 0x13u);
  b.Out(0xA3, 0x55);  // register 19 does not exist: nothing
  EXPECT_EQ(b.device.psg_slot(1).psg.GetRegister(3), 0u);
  b.Out(0xA2, 0x03);
  b.Out(0xA3, 0x0A);
  b.Out(0xA2, 0x13);
  EXPECT_EQ(b.In(0xA3), 0x0Au) << "reads use the latch modulo 16";
  EXPECT_EQ(b.In(0xA1), 0u) << "PSG 1 is separate";
}

TEST(BoardDevice, StatusAndNullPorts) {
  Board b;
  EXPECT_EQ(b.In(0x89) & ~3u, 0u);
  EXPECT_EQ(b.In(0x8A), 0u);
  b.Out(0x8A, 0xFF);
  EXPECT_TRUE(b.host.calls.empty());
  EXPECT_EQ(b.In(0x80), 0u);
  EXPECT_EQ(b.In(0x82), 2u);
}

TEST(BoardDevice, ResetPortResetsGeneratorsButKeepsSettings) {
  Board b;
  BoardSettings s = Settings(-10, 1);
  s.output[0] = 0;
  s.use_romeo = 1;
  b.device.ApplySettings(s);
  b.Out(0x0F, 0x30);
  b.Out(0x0C, 0x00);
  b.Out(0x0C, 0x10);
  b.Out(0x02, 0x08);
  b.Out(0xA0, 0x05);
  b.Out(0x88, 0x20);
  b.Out(0x81, 0x05);
  b.host.calls.clear();
  b.Out(0x108, 0x00);
  EXPECT_EQ(Look(b.device.tone()).voice[0].period, 0);
  EXPECT_FALSE(Look(b.device.tone()).output_enabled);
  EXPECT_EQ(b.device.psg_slot(0).latch, 0u);
  EXPECT_EQ(b.device.fm_latch(), 0u);
  EXPECT_EQ(Look(b.device.control()).select, 0u);
  EXPECT_EQ(Look(b.device.tone()).voice[0].volume, 206);
  EXPECT_EQ(b.device.psg_slot(0).volume, -10);
  EXPECT_EQ(b.device.psg_slot(0).routing, 2u);
  EXPECT_EQ(b.device.fm_volume(), -10);
  EXPECT_TRUE(b.device.use_romeo());
  EXPECT_EQ(b.host.Count("Update"), 0) << "a reset renders nothing first";
}

TEST(BoardDevice, PsgMixRulesFollowVolumeAndRouting) {
  Board b;
  b.PsgTone(0);
  BoardSettings s = Settings(0, 1);
  s.volume[3] = -39;
  b.device.ApplySettings(s);
  auto quiet = b.Render(2000);
  EXPECT_GT(Energy(quiet, true), 0);
  EXPECT_GT(Energy(quiet, false), 0);
  s.volume[3] = -40;
  b.device.ApplySettings(s);
  EXPECT_EQ(Energy(b.Render(2000), true), 0);
  s.volume[3] = 0;
  s.output[0] = 0;  // right only
  b.device.ApplySettings(s);
  auto right = b.Render(2000);
  EXPECT_EQ(Energy(right, true), 0);
  EXPECT_GT(Energy(right, false), 0);
  s.output[1] = 0;
  b.device.ApplySettings(s);
  EXPECT_EQ(Energy(b.Render(2000), false), 0);
}

TEST(BoardDevice, FmVolumeMuteSilencesTheChip) {
  Board b;
  b.FmTone();
  BoardSettings s = Settings(0, 1);
  b.device.ApplySettings(s);
  EXPECT_GT(Energy(b.Render(2000), true), 0);
  s.volume[7] = -40;
  b.device.ApplySettings(s);
  EXPECT_EQ(Energy(b.Render(2000), true), 0);
  s.volume[7] = -39;
  b.device.ApplySettings(s);
  EXPECT_GT(Energy(b.Render(2000), true), 0);
}

TEST(BoardDevice, UseRomeoWithoutACardStillPlaysTheEmulatedChip) {
  Board b;
  b.FmTone();
  BoardSettings s = Settings(0, 1);
  s.use_romeo = 1;
  b.device.ApplySettings(s);
  EXPECT_TRUE(b.device.use_romeo());
  EXPECT_GT(Energy(b.Render(2000), true), 0);
}

TEST(BoardDevice, RateZeroKeepsThePreviousRate) {
  Board b;
  b.device.SetRate(22050);
  const int32_t step = Look(b.device.tone()).step;
  EXPECT_TRUE(b.device.SetRate(0));
  EXPECT_EQ(Look(b.device.tone()).step, step);
  EXPECT_TRUE(b.device.SetRate(0xFFFFFFFF));  // any rate is accepted, nothing overflows
  EXPECT_TRUE(b.device.SetRate(1));
  b.FmTone();
  b.PsgTone(0);
  b.Render(100);
}

TEST(BoardDevice, ConnectReplacesTheMixer) {
  Board b;
  b.device.Connect(&b.host);
  EXPECT_EQ(b.host.calls, (std::vector<std::string>{"RemoveSource", "AddSource"}));
  b.device.Connect(nullptr);
  EXPECT_EQ(b.host.calls.back(), "RemoveSource");
  EXPECT_EQ(b.device.mixer(), nullptr);
}

TEST(BoardDevice, InterruptThroughTheControlPorts) {
  Board b;
  b.Out(0x86, 0x02);
  ASSERT_EQ(b.host.outs.size(), 1u);
  EXPECT_EQ(b.host.outs[0], std::make_pair(0x105u, 1u));
  ASSERT_EQ(b.host.events.size(), 1u);
  EXPECT_EQ(b.host.events[0].owner, static_cast<void*>(static_cast<VyxDevice*>(&b.device)));
  b.Out(0x108, 0);  // a reset withdraws nothing: the event runs out once
  EXPECT_TRUE(b.host.Expire());
  EXPECT_EQ(b.host.outs.size(), 1u);
  EXPECT_TRUE(b.host.events.empty());
}

// With save states on, a state is the whole board: one that is damaged anywhere, cut short or
// one byte longer is refused and changes nothing; the settings stay the user's.
TEST(BoardDevice, SaveStatesAreWholeAndTheSettingsStayTheUsers) {
  Board b;
  b.device.SetSaveStates(true);
  b.PsgTone(1);
  b.FmTone();
  b.Render(300);
  const std::vector<uint8_t> good = b.device.StateBytes();
  ASSERT_EQ(good.size(), b.device.GetStateSize());
  std::vector<uint8_t> through_host(good.size());
  ASSERT_TRUE(b.device.SaveState(through_host.data()));
  EXPECT_EQ(through_host, good);
  for (const std::vector<uint8_t>& bad : Damaged(good)) {
    ASSERT_FALSE(b.device.LoadStateBytes(bad.data(), bad.size()));
  }
  std::vector<uint8_t> foreign = good;
  foreign[0] = 'X';
  EXPECT_FALSE(b.device.LoadState(foreign.data()));
  EXPECT_EQ(b.device.StateBytes(), good);
  // Muted since the save: the load keeps the mute.
  b.device.ApplySettings(Settings(-40, 1));
  ASSERT_TRUE(b.device.LoadState(good.data()));
  EXPECT_EQ(Energy(b.Render(500), true), 0);
  b.device.ApplySettings(Settings(0, 1));
  EXPECT_GT(Energy(b.Render(500), true), 0);
}

}  // namespace
