#include "music/s98_reader.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <utility>

#include "common/ascii.h"
#include "music/music_bytes.h"
#include "music/music_log_builder.h"
#include "music/text_convert.h"

namespace {

constexpr uint32_t kTypeNone = 0;
constexpr uint32_t kTypePsgYm2149 = 1;
constexpr uint32_t kTypeOpm = 5;
constexpr uint32_t kTypePsgAy8910 = 15;
constexpr size_t kMaxDevices = 64;
constexpr size_t kDeviceRecord = 16;
constexpr size_t kDeviceList = 0x20;
constexpr uint32_t kDefaultOpnaClock = 7987200;
constexpr uint32_t kMaxSyncsPerSecond = 1000000;
constexpr int kMaxWaitBytes = 5;   // 35 bits of syncs: far beyond any song

std::string DeviceName(uint32_t type) {
  switch (type) {
    case 1: return "PSG (YM2149)";
    case 2: return "YM2203 (OPN)";
    case 3: return "YM2612 (OPN2)";
    case 4: return "YM2608 (OPNA)";
    case 5: return "YM2151 (OPM)";
    case 6: return "YM2413 (OPLL)";
    case 7: return "YM3526 (OPL)";
    case 8: return "YM3812 (OPL2)";
    case 9: return "YMF262 (OPL3)";
    case 15: return "PSG (AY-3-8910)";
    case 16: return "SN76489 (DCSG)";
    default: return "device type " + std::to_string(type);
  }
}

struct Device {
  uint32_t type;
  uint32_t clock;
  int chip;   // MusicChip, or -1 when the board has no place for it
};

class S98Parser {
 public:
  S98Parser(const std::vector<uint8_t>& bytes, const std::string& name, MusicLog* log)
      : in_(bytes), name_(name), log_(log), build_(log, "0x18", "loop point") {}

  bool Parse(std::string* error);

 private:
  bool Fail(std::string* error, const std::string& message) {
    *error = name_ + ": " + message;
    return false;
  }
  void Warn(const std::string& message) { log_->warnings.push_back(message); }
  // The header, field by field.
  bool ReadVersion(size_t* header_size, std::string* error);
  bool ReadTimer(std::string* error);
  bool CheckPacked(std::string* error);
  bool ReadDevices(std::string* error);
  void ReadLoopPoint(uint32_t dump, size_t end);
  // The dump data.
  void Walk(size_t start, size_t end);
  bool ReadWait(size_t* pos, size_t end);
  void AddWrite(uint8_t op, uint8_t reg, uint8_t data);
  std::string_view TextAt(size_t start, size_t limit) const;
  void ReadTitle(size_t start, size_t limit);
  void ReadTag(size_t start, size_t limit);
  std::string* TagField(std::string_view key);

  ByteView in_;
  const std::string& name_;
  MusicLog* log_;
  int version_ = 0;
  std::vector<Device> devices_;
  MusicLogBuilder build_;
};

bool S98Parser::Parse(std::string* error) {
  const size_t size = in_.size();
  size_t header_size = 0;
  if (!ReadVersion(&header_size, error) || !ReadTimer(error) || !CheckPacked(error) ||
      !ReadDevices(error)) {
    return false;
  }

  const uint32_t dump = in_.U32(0x14);
  if (dump < header_size) {
    return Fail(error, "offset 0x14: the dump data offset " + Hex(dump) + " lies inside the header");
  }
  if (dump >= size) {
    return Fail(error, "offset 0x14: the dump data offset " + Hex(dump) +
                           " points past the end of the file (" + std::to_string(size) + " bytes)");
  }
  log_->header.emplace_back("dump data offset", Hex(dump));

  // A tag after the dump data ends it: a stream without its end command must not run into it.
  size_t end = size;
  const uint32_t tag = in_.U32(0x10);
  if (tag != 0 && tag >= size) {
    Warn("offset 0x10: the " + std::string(version_ >= 3 ? "tag" : "song name") + " offset " +
         Hex(tag) + " points past the end of the file; no tag");
  } else if (tag > dump) {
    end = tag;
  }

  ReadLoopPoint(dump, end);
  Walk(dump, end);
  build_.Finish();

  if (tag != 0 && tag < size) {
    const size_t limit = tag < dump ? dump : size;
    if (version_ >= 3 && size - tag >= 5 && std::equal(in_.data(tag), in_.data(tag) + 5, "[S98]")) {
      ReadTag(tag + 5, limit);
    } else {
      ReadTitle(tag, limit);
    }
  }
  return true;
}

bool S98Parser::ReadVersion(size_t* header_size_out, std::string* error) {
  const size_t size = in_.size();
  if (size < 3 || in_.U8(0) != 'S' || in_.U8(1) != '9' || in_.U8(2) != '8') {
    return Fail(error, "not an S98 file (no \"S98\" at offset 0)");
  }
  if (size < 4) {
    return Fail(error, "truncated header: the file has " + std::to_string(size) +
                           " bytes, an S98 header needs at least 28");
  }
  const uint8_t v = in_.U8(3);
  if (v < '0' || v > '3') {
    return Fail(error, "offset 0x3: unknown S98 version '" +
                           std::string(1, v >= 0x20 && v < 0x7F ? static_cast<char>(v) : '?') +
                           "' (" + Hex2(v) + "; this reader knows versions 0 to 3)");
  }
  version_ = v - '0';
  log_->format = "S98 version " + std::to_string(version_);
  const size_t header_size = version_ >= 2 ? kDeviceList : 0x1C;
  if (size < header_size) {
    return Fail(error, "truncated header: the file has " + std::to_string(size) +
                           " bytes, an S98 version " + std::to_string(version_) + " header needs " +
                           std::to_string(header_size));
  }
  *header_size_out = header_size;
  return true;
}

bool S98Parser::ReadTimer(std::string* error) {
  uint32_t numerator = in_.U32(4);
  uint32_t denominator = version_ >= 2 ? in_.U32(8) : 0;
  if (numerator == 0) numerator = 10;
  if (denominator == 0) denominator = 1000;
  // Faster timers than this are no music log; they would only make playback crawl.
  if (denominator / numerator > kMaxSyncsPerSecond) {
    return Fail(error, "offset 0x4: a timer of " + std::to_string(numerator) + "/" +
                           std::to_string(denominator) + " s a sync is faster than " +
                           std::to_string(kMaxSyncsPerSecond) + " syncs a second");
  }
  log_->ticks_num = denominator;
  log_->ticks_den = numerator;
  auto& header = log_->header;
  header.emplace_back("format", log_->format);
  header.emplace_back("timer", std::to_string(numerator) + "/" + std::to_string(denominator) +
                                   " s a sync");
  return true;
}

bool S98Parser::CheckPacked(std::string* error) {
  if (const uint32_t packed = in_.U32(0x0C); packed != 0) {
    if (version_ <= 2) {
      return Fail(error, "offset 0xC: the dump data is compressed (" + std::to_string(packed) +
                             " bytes inflated); compressed S98 files are not supported");
    }
    Warn("offset 0xC: a compression value in a version 3 file (" + Hex(packed) + "); ignored");
  }
  return true;
}

void S98Parser::ReadLoopPoint(uint32_t dump, size_t end) {
  const uint32_t loop = in_.U32(0x18);
  if (loop != 0) {
    log_->header.emplace_back("loop point", Hex(loop));
    if (loop < dump || loop >= end) {
      Warn("offset 0x18: the loop point " + Hex(loop) + " lies outside the dump data (" +
           Hex(dump) + " to " + Hex(end) + "); played without a loop");
    }
  }
  if (loop >= dump && loop < end) build_.SetLoopOffset(loop);
}

bool S98Parser::ReadDevices(std::string* error) {
  size_t count = 0;
  if (version_ == 3) {
    count = in_.U32(0x1C);
    if (count > kMaxDevices) {
      return Fail(error, "offset 0x1C: " + std::to_string(count) + " devices (at most 64)");
    }
    if (!in_.Has(kDeviceList, count * kDeviceRecord)) {
      return Fail(error, "truncated header: the " + std::to_string(count) +
                             " device records run past the end of the file");
    }
  } else if (version_ == 2) {
    // The list ends at a record of type 0.
    while (count < kMaxDevices && in_.Has(kDeviceList + count * kDeviceRecord, 4) &&
           in_.U32(kDeviceList + count * kDeviceRecord) != kTypeNone) {
      if (!in_.Has(kDeviceList + count * kDeviceRecord, kDeviceRecord)) {
        return Fail(error, "truncated header: a device record runs past the end of the file");
      }
      ++count;
    }
  }
  for (size_t i = 0; i < count; ++i) {
    const size_t record = kDeviceList + i * kDeviceRecord;
    devices_.push_back({in_.U32(record), in_.U32(record + 4), -1});
  }
  if (devices_.empty()) {
    devices_.push_back({4, kDefaultOpnaClock, -1});
    log_->notes.push_back("no device list: one YM2608 (OPNA) at 7987200 Hz, as the format "
                          "prescribes");
  }

  int next_psg = 0;
  for (size_t i = 0; i < devices_.size(); ++i) {
    Device& d = devices_[i];
    std::string role = "not on the board";
    if (d.type == kTypeOpm && log_->opm_clock == 0 && d.clock != 0) {
      d.chip = kChipOpm;
      log_->opm_clock = d.clock;
      role = "FM";
    } else if ((d.type == kTypePsgYm2149 || d.type == kTypePsgAy8910) &&
               next_psg < kMusicPsgCount && d.clock != 0) {
      d.chip = kChipPsg1 + next_psg;
      log_->psg_clock[next_psg] = d.clock;
      log_->psg_type[next_psg] = d.type == kTypePsgYm2149 ? "YM2149" : "AY8910";
      role = "PSG " + std::to_string(next_psg + 1);
      ++next_psg;
    } else if (d.type == kTypeOpm || d.type == kTypePsgYm2149 || d.type == kTypePsgAy8910) {
      role = d.clock == 0 ? "clock 0, not played" : "no room on the board";
    }
    log_->header.emplace_back("device " + std::to_string(i),
                              DeviceName(d.type) + ", " + std::to_string(d.clock) + " Hz (" +
                                  role + ")");
  }
  return true;
}

void S98Parser::Walk(size_t start, size_t end) {
  size_t pos = start;
  bool ended = false;
  while (pos < end) {
    build_.AtCommand(pos);
    const uint8_t op = in_.U8(pos);
    if (op == 0xFD) {
      ended = true;
      break;
    }
    if (op == 0xFF) {
      build_.AddWait(1);
      ++pos;
      continue;
    }
    if (op == 0xFE) {
      if (!ReadWait(&pos, end)) return;
      continue;
    }
    if (op >= 0x80) {
      Warn("offset " + Hex(pos) + ": reserved command " + Hex2(op) +
           " (corrupt stream); the stream stops here");
      return;
    }
    if (end - pos < 3) {
      Warn("offset " + Hex(pos) + ": a register write is cut off by the end of the data; the "
           "stream stops here");
      return;
    }
    AddWrite(op, in_.U8(pos + 1), in_.U8(pos + 2));
    pos += 3;
  }
  if (!ended) Warn("offset " + Hex(end) + ": the dump data ends without an end command (0xFD)");
  build_.EndWalk();
}

// The wait command at *pos: its count, 7 bits a byte, low bytes first, the top bit set on every
// byte but the last. False (with a warning) when the stream stops there.
bool S98Parser::ReadWait(size_t* pos_io, size_t end) {
  const size_t pos = *pos_io;
  uint64_t value = 0;
  size_t p = pos + 1;
  int bytes = 0;
  bool done = false;
  while (p < end && bytes < kMaxWaitBytes) {
    const uint8_t b = in_.U8(p++);
    value |= uint64_t{b & 0x7Fu} << (7 * bytes);
    ++bytes;
    if ((b & 0x80) == 0) {
      done = true;
      break;
    }
  }
  if (!done) {
    Warn("offset " + Hex(pos) + (p >= end && bytes < kMaxWaitBytes
                                      ? ": a wait count is cut off by the end of the data"
                                      : ": a wait count longer than 5 bytes (corrupt stream)") +
         "; the stream stops here");
    return false;
  }
  build_.AddWait(value + 2);
  *pos_io = p;
  return true;
}

// A register write to device op / 2 (op odd: its second port), or the reason it is skipped.
void S98Parser::AddWrite(uint8_t op, uint8_t reg, uint8_t data) {
  const size_t index = op >> 1;
  if (index >= devices_.size()) {
    ++log_->skipped["writes to device " + std::to_string(index) +
                    ", which the header does not list"];
    return;
  }
  const Device& d = devices_[index];
  if (d.chip < 0) {
    ++log_->skipped[DeviceName(d.type) + " writes"];
    return;
  }
  if (op & 1) {
    // OPM and PSG have one register bank: a second-port write means nothing.
    ++log_->skipped["second-port writes to " + DeviceName(d.type)];
    return;
  }
  build_.AddWrite(static_cast<uint8_t>(d.chip), reg, data);
}

// The text from start up to its 0 byte or limit, whichever comes first.
std::string_view S98Parser::TextAt(size_t start, size_t limit) const {
  size_t end = start;
  while (end < limit && in_.U8(end) != 0) ++end;
  return {reinterpret_cast<const char*>(in_.data(start)), end - start};
}

void S98Parser::ReadTitle(size_t start, size_t limit) {
  bool cut = false;
  log_->tag.title = TagTextToUtf8(TextAt(start, limit), false, &cut);
  if (cut) Warn("offset " + Hex(start) + ": the song name is longer than 64 KiB; cut");
}

void S98Parser::ReadTag(size_t start, size_t limit) {
  // "[S98]", an optional UTF-8 byte-order mark, then key=value lines ended by 0x0A, the whole
  // ended by 0x00. Without the mark the text is Shift_JIS. Neither 0x0A nor '=' is ever the
  // second byte of a Shift_JIS character, so the lines are found before any text is converted,
  // and only what is kept is.
  std::string_view text = TextAt(start, limit);
  bool marked = false;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
    marked = true;
    if (!IsValidUtf8(text)) Warn("offset " + Hex(start) + ": the tag is marked UTF-8 but is not");
  }
  size_t line_start = 0;
  bool cut_any = false;
  uint64_t dropped = 0;
  while (line_start < text.size()) {
    size_t line_end = text.find('\n', line_start);
    if (line_end == std::string_view::npos) line_end = text.size();
    std::string_view line = text.substr(line_start, line_end - line_start);
    line_start = line_end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    bool cut = false;
    std::string* field = TagField(line.substr(0, eq));
    if (field == nullptr && log_->tag.extra.size() >= kMaxTagEntries) {
      ++dropped;
      continue;
    }
    std::string value = TagTextToUtf8(line.substr(eq + 1), !marked, &cut);
    cut_any = cut_any || cut;
    if (field != nullptr) {
      *field = std::move(value);
      continue;
    }
    std::string key = TagTextToUtf8(line.substr(0, eq), !marked, &cut);
    cut_any = cut_any || cut;
    log_->tag.extra.emplace_back(AsciiLower(key), std::move(value));
  }
  if (cut_any) Warn("offset " + Hex(start) + ": the tag holds text longer than 64 KiB; cut");
  if (dropped != 0) {
    Warn("offset " + Hex(start) + ": the tag holds " + std::to_string(dropped) +
         " entries more than the " + std::to_string(kMaxTagEntries) + " kept; not read");
  }
}

// The field of the tag a key names (any case), or nullptr for a key that has none.
std::string* S98Parser::TagField(std::string_view key) {
  static constexpr const char* kKeys[] = {"title", "artist", "game", "year",
                                          "system", "s98by", "comment"};
  MusicTag& t = log_->tag;
  std::string* const fields[] = {&t.title, &t.author, &t.game, &t.date,
                                 &t.system, &t.dumper, &t.notes};
  for (size_t i = 0; i < std::size(kKeys); ++i) {
    const std::string_view name = kKeys[i];
    if (AsciiEqualNoCase(key, name)) return fields[i];
  }
  return nullptr;
}

}  // namespace

bool ReadS98(const std::vector<uint8_t>& bytes, const std::string& name, MusicLog* log,
             std::string* error) {
  *log = MusicLog();
  S98Parser parser(bytes, name, log);
  return parser.Parse(error);
}
