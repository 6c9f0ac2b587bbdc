#include "reglog/s98_writer.h"

#include "common/le_bytes.h"

namespace {

constexpr uint32_t kTypeOpm = 5;
constexpr uint32_t kTypePsg = 1;   // YM2149-compatible PSG
constexpr uint8_t kWaitOne = 0xFF;
constexpr uint8_t kWaitMany = 0xFE;
constexpr uint8_t kEnd = 0xFD;
// Readers take at most five 7-bit groups after FE; longer waits are split.
constexpr uint64_t kMaxWaitCommand = (uint64_t{1} << 35) - 1 + 2;

// The header's 32-bit fields; a larger count keeps its low 32 bits.
void Store32(std::vector<uint8_t>* bytes, size_t offset, uint64_t value) {
  PutLe32(bytes->data() + offset, static_cast<uint32_t>(value));
}

}  // namespace

void S98Writer::Wait(uint64_t ticks) {
  total_ticks_ += ticks;
  while (ticks > 0) {
    const uint64_t n = ticks < kMaxWaitCommand ? ticks : kMaxWaitCommand;
    ticks -= n;
    if (n == 1) {
      Put(kWaitOne);
      continue;
    }
    Put(kWaitMany);
    uint64_t v = n - 2;
    while (v >= 0x80) {
      Put(static_cast<uint8_t>(0x80 | (v & 0x7F)));
      v >>= 7;
    }
    Put(static_cast<uint8_t>(v));
  }
}

bool S98Writer::Write(uint8_t chip, uint8_t reg, uint8_t data) {
  if (chip > kChipPsg4) return false;
  Put(static_cast<uint8_t>(2 * chip));
  Put(reg);
  Put(data);
  return true;
}

void S98Writer::Finish(const LogTag& tag) {
  Put(kEnd);
  tag_offset_ = kHeaderSize + stream_size();
  const std::string bom = "\xEF\xBB\xBF";
  std::string text = "[S98]" + bom;
  auto line = [&text](const char* key, const std::string& value) {
    if (value.empty()) return;
    // A value may not break its line: other line ends become spaces.
    std::string v = value;
    for (char& c : v) {
      if (c == '\n' || c == '\r' || c == 0) c = ' ';
    }
    text += std::string(key) + "=" + v + "\n";
  };
  line("title", tag.title);
  line("system", tag.system);
  line("s98by", tag.dumper);
  line("comment", tag.notes);
  for (char c : text) Put(static_cast<uint8_t>(c));
  Put(0);
}

std::vector<uint8_t> S98Writer::Header() const {
  std::vector<uint8_t> h(kHeaderSize, 0);
  h[0] = 'S';
  h[1] = '9';
  h[2] = '8';
  h[3] = '3';
  Store32(&h, 0x04, layout_.timer_num);
  Store32(&h, 0x08, layout_.timer_den);
  Store32(&h, 0x10, tag_offset_);
  Store32(&h, 0x14, kHeaderSize);
  Store32(&h, 0x1C, 5);
  Store32(&h, 0x20, kTypeOpm);
  Store32(&h, 0x24, layout_.opm_clock);
  for (int i = 0; i < kMusicPsgCount; ++i) {
    Store32(&h, 0x30 + 16 * static_cast<size_t>(i), kTypePsg);
    Store32(&h, 0x34 + 16 * static_cast<size_t>(i), layout_.psg_clock[i]);
  }
  return h;
}
