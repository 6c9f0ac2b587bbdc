// Fuzz target: the register-log writers in a round trip. Whatever the readers make of an input
// (a VGM, VGZ or S98 file) is written again as S98 and, when its waits are VGM samples, as VGM;
// read back, the copy must hold the same writes at the same ticks (a VGM copy: those of the FM
// chip and the first two PSGs).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "music/music_reader.h"
#include "reglog/s98_writer.h"
#include "reglog/vgm_writer.h"

namespace {

struct TimedWrite {
  uint64_t tick;
  uint8_t chip, reg, data;
  bool operator==(const TimedWrite& o) const {
    return tick == o.tick && chip == o.chip && reg == o.reg && data == o.data;
  }
};

// The log's writes with their ticks, those that `keep` accepts.
template <typename Keep>
std::vector<TimedWrite> Writes(const MusicLog& log, Keep keep) {
  std::vector<TimedWrite> out;
  uint64_t tick = 0;
  for (const MusicEvent& e : log.events) {
    tick += e.ticks;
    if (e.ticks == 0 && keep(e)) out.push_back({tick, e.chip, e.reg, e.data});
  }
  return out;
}

// Writes the log through the writer and reads it back; aborts when the writes differ.
template <typename Keep>
void RoundTrip(const MusicLog& log, RegisterLogWriter& writer, Keep keep) {
  for (const MusicEvent& e : log.events) {
    if (e.ticks != 0) {
      writer.Wait(e.ticks);
    } else {
      const bool written = writer.Write(e.chip, e.reg, e.data);
      if (written != keep(e)) std::abort();
    }
  }
  writer.Finish(LogTag{"title", "system", "Vorla", "notes"});
  MusicLog copy;
  std::string error;
  if (!ReadMusic(WholeLogFile(writer), "copy", &copy, &error)) std::abort();
  if (!copy.warnings.empty()) std::abort();
  if (copy.total_ticks != log.total_ticks) std::abort();
  if (Writes(copy, [](const MusicEvent&) { return true; }) != Writes(log, keep)) std::abort();
  if (copy.tag.dumper != "Vorla") std::abort();
}

// A chip the log does not have is written with a clock the readers accept.
uint32_t ClockOr(uint32_t clock, uint32_t absent) { return clock != 0 ? clock : absent; }
constexpr uint32_t kAbsentOpm = 3579545;
constexpr uint32_t kAbsentPsg = 1789772;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  MusicLog log;
  std::string error;
  if (!ReadMusic(bytes, "fuzz", &log, &error)) return 0;
  if (log.ticks_num > UINT32_MAX || log.ticks_den > UINT32_MAX) return 0;

  S98Layout s98;
  s98.timer_num = static_cast<uint32_t>(log.ticks_den);
  s98.timer_den = static_cast<uint32_t>(log.ticks_num);
  s98.opm_clock = ClockOr(log.opm_clock, kAbsentOpm);
  for (int i = 0; i < kMusicPsgCount; ++i) s98.psg_clock[i] = ClockOr(log.psg_clock[i], kAbsentPsg);
  S98Writer s98_writer(s98);
  RoundTrip(log, s98_writer, [](const MusicEvent&) { return true; });

  if (log.ticks_num == 44100 && log.ticks_den == 1 && log.total_ticks <= UINT32_MAX) {
    VgmWriter vgm_writer(VgmLayout{ClockOr(log.opm_clock, kAbsentOpm), ClockOr(log.psg_clock[0], kAbsentPsg)});
    RoundTrip(log, vgm_writer, [](const MusicEvent& e) {
      return e.chip == kChipOpm || ((e.chip == kChipPsg1 || e.chip == kChipPsg2) && e.reg < 0x80);
    });
  }
  return 0;
}
