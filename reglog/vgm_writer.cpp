#include "reglog/vgm_writer.h"

#include "common/le_bytes.h"
#include "common/utf8.h"

namespace {

constexpr uint32_t kVersion = 0x171;
constexpr uint32_t kDualChip = 1u << 30;
constexpr uint8_t kOpmWrite = 0x54;
constexpr uint8_t kAyWrite = 0xA0;
constexpr uint8_t kAySecond = 0x80;   // register bit 7 selects the second PSG
constexpr uint8_t kWaitShort = 0x70;  // 0x70 + n - 1: n = 1..16 samples
constexpr uint8_t kWait = 0x61;
constexpr uint8_t kEnd = 0x66;
constexpr uint32_t kGd3Version = 0x100;
// The PSG type byte: the board's PSGs are of the YM2149 kind (0x00 would be an AY-3-8910).
constexpr uint8_t kYm2149 = 0x10;

// The header's 32-bit fields; a larger count keeps its low 32 bits.
void Store32(std::vector<uint8_t>* bytes, size_t offset, uint64_t value) {
  PutLe32(bytes->data() + offset, static_cast<uint32_t>(value));
}

// UTF-8 to UTF-16LE code units; each byte that starts no well-formed sequence becomes U+FFFD.
void AppendUtf16(const std::string& text, std::vector<uint8_t>* out) {
  auto unit = [out](uint32_t u) {
    out->push_back(static_cast<uint8_t>(u));
    out->push_back(static_cast<uint8_t>(u >> 8));
  };
  size_t i = 0;
  while (i < text.size()) {
    uint32_t cp = 0;
    if (!DecodeUtf8(text, &i, &cp)) {
      unit(0xFFFD);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  unit(0);
}

}  // namespace

void VgmWriter::Wait(uint64_t ticks) {
  total_ticks_ += ticks;
  while (ticks > 0) {
    if (ticks <= 16) {
      Put(static_cast<uint8_t>(kWaitShort + ticks - 1));
      return;
    }
    const uint64_t n = ticks < 0xFFFF ? ticks : 0xFFFF;
    ticks -= n;
    Put(kWait);
    Put(static_cast<uint8_t>(n));
    Put(static_cast<uint8_t>(n >> 8));
  }
}

bool VgmWriter::Write(uint8_t chip, uint8_t reg, uint8_t data) {
  if (chip == kChipOpm) {
    Put(kOpmWrite);
    Put(reg);
  } else if ((chip == kChipPsg1 || chip == kChipPsg2) && reg < kAySecond) {
    Put(kAyWrite);
    Put(static_cast<uint8_t>(chip == kChipPsg2 ? reg | kAySecond : reg));
  } else {
    return false;
  }
  Put(data);
  return true;
}

void VgmWriter::Finish(const LogTag& tag) {
  Put(kEnd);
  gd3_offset_ = kHeaderSize + stream_size();
  // Track, game, system, author (each English, then original), date, log maker, notes.
  const std::string empty;
  const std::string* fields[11] = {&tag.title, &empty, &empty, &empty, &tag.system, &empty,
                                   &empty, &empty, &empty, &tag.dumper, &tag.notes};
  std::vector<uint8_t> strings;
  for (const std::string* f : fields) AppendUtf16(*f, &strings);
  for (char c : std::string("Gd3 ")) Put(static_cast<uint8_t>(c));
  Put32(kGd3Version);
  Put32(static_cast<uint32_t>(strings.size()));
  for (uint8_t b : strings) Put(b);
}

std::vector<uint8_t> VgmWriter::Header() const {
  std::vector<uint8_t> h(kHeaderSize, 0);
  h[0] = 'V';
  h[1] = 'g';
  h[2] = 'm';
  h[3] = ' ';
  Store32(&h, 0x04, kHeaderSize + stream_size() - 4);
  Store32(&h, 0x08, kVersion);
  Store32(&h, 0x14, gd3_offset_ != 0 ? gd3_offset_ - 0x14 : 0);
  Store32(&h, 0x18, total_ticks_);
  Store32(&h, 0x30, layout_.opm_clock);
  Store32(&h, 0x34, kHeaderSize - 0x34);
  Store32(&h, 0x74, layout_.psg_clock != 0 ? layout_.psg_clock | kDualChip : 0);
  h[0x78] = kYm2149;
  h[0x79] = 0x01;  // the default flags
  return h;
}
