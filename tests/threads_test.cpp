// Two threads at the board, as in the emulator: one renders audio while the other writes ports
// and applies the configuration page. The host serialises every call into the module with its
// lock; under ThreadSanitizer this test proves that nothing races.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "host/loaded_board.h"
#include "module/board_module.h"
#include "tests/temp_dir.h"

namespace {

TEST(Threads, RenderingWhileWritingPortsAndApplyingThePage) {
  TempDir dir;
  LoadedBoard board;
  ReferenceHost& host = board.host();
  std::atomic<int64_t> peak{0};
  host.set_frame_sink([&](const StereoFrame* frames, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
      int64_t v = frames[i].left < 0 ? -int64_t{frames[i].left} : frames[i].left;
      if (v > peak.load()) peak.store(v);
    }
    return true;
  });
  std::atomic<int> irqs{0};
  host.set_report_sink([&](const std::string& line) { irqs += line.rfind("irq", 0) == 0; });
  ASSERT_TRUE(board.Create([&](HostSystem* system) {
    return CreateBoardModule(system, dir.File("VYX.INI"), nullptr);
  }));

  // The tone voice sounds from the start, so that whatever the two threads' timing the audio
  // thread renders it.
  host.PortOut(0x0F, 0x36);
  host.PortOut(0x0C, 0x00);
  host.PortOut(0x0C, 0x10);
  host.PortOut(0x02, 0x08);

  std::atomic<bool> started{false};
  std::thread audio([&] {
    while (!started) std::this_thread::yield();
    for (int i = 0; i < 400; ++i) host.Wait(256);
  });
  int applies = 0;
  for (int round = 0; round < 300; ++round) {
    host.PortOut(0x0F, 0x36);
    host.PortOut(0x0C, round & 0xFF);
    host.PortOut(0x0C, 0x10);
    host.PortOut(0x02, 0x08 | (round & 7));
    host.PortOut(0xA0, 8);
    host.PortOut(0xA1, round & 15);
    host.PortOut(0x88, 0x28);
    host.PortOut(0x89, round & 0x7F);
    host.PortOut(0x86, round & 2);
    host.PortIn(0xA1);
    host.PortIn(0x89);
    if (round % 16 == 0) {
      int32_t volumes[8] = {round % 20, 0, 0, -(round % 40), 0, 0, 0, 0};
      int32_t outputs[8] = {1, 1, 1, 0, 1, 1, 1, 1};
      std::string why;
      ASSERT_TRUE(host.ApplyPage(volumes, outputs, 0, &why)) << why;
      ++applies;
    }
    started = true;
  }
  audio.join();
  board.Release();
  EXPECT_EQ(host.frames_rendered(), 400u * 256);
  EXPECT_EQ(applies, 19);
  EXPECT_GT(peak.load(), 0) << "the tone voices sounded";
  EXPECT_GT(irqs.load(), 0) << "the interrupt was switched on and raised";
}

// The board is made and released under the host's lock, so that no audio thread is inside
// the module meanwhile; a module that refuses, or a file that does not load, is no board.
TEST(Threads, LoadedBoardCreatesAndReleasesUnderTheHostsLock) {
  TempDir dir;
  LoadedBoard board;
  ReferenceHost& host = board.host();
  const auto locked_elsewhere = [&host] {
    bool locked = true;
    std::thread other([&] {
      if (host.module_lock().try_lock()) {
        locked = false;
        host.module_lock().unlock();
      }
    });
    other.join();
    return locked;
  };
  EXPECT_FALSE(locked_elsewhere());
  bool locked_at_create = false;
  ASSERT_TRUE(board.Create([&](HostSystem* system) {
    locked_at_create = locked_elsewhere();
    return CreateBoardModule(system, dir.File("VYX.INI"), nullptr);
  }));
  EXPECT_TRUE(locked_at_create);
  EXPECT_TRUE(host.attached());
  board.Release();
  EXPECT_FALSE(host.attached());
  EXPECT_FALSE(host.has_source());
  EXPECT_EQ(board.module(), nullptr);

  EXPECT_FALSE(board.Create([](HostSystem*) { return static_cast<VyxModule*>(nullptr); }));
  EXPECT_FALSE(board.Create()) << "no module file was loaded";
  std::string error;
  EXPECT_FALSE(board.Load(dir.File("none.vyx"), &error));
  EXPECT_NE(error.find("cannot load module file"), std::string::npos) << error;
}

}  // namespace
