#include "music/vgm_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "music/music_bytes.h"
#include "music/music_log_builder.h"
#include "music/text_convert.h"
#include "music/vgm_parser.h"

namespace vgm {

namespace {

std::string AyTypeName(uint8_t type) {
  switch (type) {
    case 0x00: return "AY8910";
    case 0x01: return "AY8912";
    case 0x02: return "AY8913";
    case 0x03: return "AY8930";
    case 0x10: return "YM2149";
    case 0x11: return "YM3439";
    case 0x12: return "YMZ284";
    case 0x13: return "YMZ294";
    default: return "AY type " + Hex2(type);
  }
}

// "x1.50 (+3.5 dB)": a factor on the output as info shows it.
std::string LevelText(double factor) {
  if (factor == 0) return "x0 (silent)";
  char text[64];
  std::snprintf(text, sizeof text, "x%.3g (%+.1f dB)", factor, 20 * std::log10(factor));
  return text;
}

std::string VersionText(uint32_t version) {
  char text[32];
  std::snprintf(text, sizeof text, "%X.%02X", version >> 8, version & 0xFF);
  return text;
}

bool IsBcd(uint32_t value) {
  for (int shift = 0; shift < 32; shift += 4) {
    if (((value >> shift) & 15) > 9) return false;
  }
  return true;
}

std::string Seconds(uint64_t samples) {
  char text[48];
  std::snprintf(text, sizeof text, "%llu samples (%.2f s)", static_cast<unsigned long long>(samples),
                static_cast<double>(samples) / 44100.0);
  return text;
}

// Other chips the header may name, with the version that added the field.
struct ClockField {
  uint32_t offset;
  uint32_t since;
  const char* name;
};
constexpr ClockField kOtherClocks[] = {
    {0x0C, 0x100, "SN76489"}, {0x2C, 0x110, "YM2612"},  {0x38, 0x151, "Sega PCM"},
    {0x40, 0x151, "RF5C68"},  {0x44, 0x151, "YM2203"},  {0x48, 0x151, "YM2608"},
    {0x4C, 0x151, "YM2610"},  {0x50, 0x151, "YM3812"},  {0x54, 0x151, "YM3526"},
    {0x58, 0x151, "Y8950"},   {0x5C, 0x151, "YMF262"},  {0x60, 0x151, "YMF278B"},
    {0x64, 0x151, "YMF271"},  {0x68, 0x151, "YMZ280B"}, {0x6C, 0x151, "RF5C164"},
    {0x70, 0x151, "PWM"},     {0x80, 0x161, "GB DMG"},  {0x84, 0x161, "NES APU"},
    {0x88, 0x161, "MultiPCM"}, {0x8C, 0x161, "uPD7759"}, {0x90, 0x161, "OKIM6258"},
    {0x98, 0x161, "OKIM6295"}, {0x9C, 0x161, "K051649"}, {0xA0, 0x161, "K054539"},
    {0xA4, 0x161, "HuC6280"}, {0xA8, 0x161, "C140"},    {0xAC, 0x161, "K053260"},
    {0xB0, 0x161, "Pokey"},   {0xB4, 0x161, "QSound"},  {0xB8, 0x171, "SCSP"},
    {0xC0, 0x171, "WonderSwan"}, {0xC4, 0x171, "VSU"},  {0xC8, 0x171, "SAA1099"},
    {0xCC, 0x171, "ES5503"},  {0xD0, 0x171, "ES5505/6"}, {0xD8, 0x171, "X1-010"},
    {0xDC, 0x171, "C352"},    {0xE0, 0x171, "GA20"},
};

}  // namespace

bool VgmParser::Parse(std::string* error) {
  if (!ReadVersion(error)) return false;
  uint64_t data_start = kMinHeader;
  if (!FindData(&data_start, error)) return false;

  auto& header = log_->header;
  header.emplace_back("format", log_->format);
  header.emplace_back("data offset", Hex(data_start));
  const size_t size = in_.size();
  const uint32_t eof_field = in_.U32(4);
  header.emplace_back("EOF offset", Hex(eof_field) + " (file length " + std::to_string(size) + ")");

  ReadOpmClock();
  ReadAyClock();
  ReadOtherClocks();
  ReadTimes();

  uint64_t end = size;
  uint64_t tag_start = 0;
  FindDataEnd(data_start, eof_field, &end, &tag_start);
  ReadLoopOffset(data_start, end);

  Walk(static_cast<size_t>(data_start), static_cast<size_t>(end));
  CheckTimes();

  if (tag_start != 0) ReadTag(static_cast<size_t>(tag_start));
  return true;
}

bool VgmParser::ReadVersion(std::string* error) {
  const size_t size = in_.size();
  if (size < 4 || in_.U32(0) != 0x206D6756) return Fail(error, "not a VGM file (no \"Vgm \" at offset 0)");
  if (size < kMinHeader) {
    return Fail(error, "truncated header: the file has " + std::to_string(size) +
                           " bytes, a VGM header needs 64");
  }
  version_ = in_.U32(8);
  if (!IsBcd(version_) || version_ < kFirstVersion || version_ > kLastVersion) {
    return Fail(error, "offset 0x8: unknown VGM version " + Hex(version_) +
                           " (this reader knows 1.00 to 1.72)");
  }
  log_->format = "VGM " + VersionText(version_);
  return true;
}

bool VgmParser::FindData(uint64_t* data_start_out, std::string* error) {
  const size_t size = in_.size();
  uint64_t data_start = kMinHeader;
  if (version_ >= 0x150 && in_.U32(0x34) != 0) data_start = 0x34 + uint64_t{in_.U32(0x34)};
  if (data_start < kMinHeader) {
    return Fail(error, "offset 0x34: the data offset points to " + Hex(data_start) +
                           ", inside the first 64 header bytes");
  }
  if (data_start >= size) {
    return Fail(error, "offset 0x34: the data offset points to " + Hex(data_start) +
                           ", past the end of the file (" + std::to_string(size) + " bytes)");
  }
  header_end_ = static_cast<size_t>(std::min<uint64_t>({data_start, kFullHeader, size}));
  *data_start_out = data_start;

  // The extra header sits between the main header and the data; main-header bytes from its
  // start on are not header fields.
  if (const uint32_t rel = Field(0xBC, 0x170); rel != 0) {
    const uint64_t start = 0xBC + uint64_t{rel};
    if (start < 0xC0 || !in_.Has(start, 4)) {
      Warn("offset 0xBC: the extra header offset points to " + Hex(start) + "; ignored");
    } else {
      header_end_ = std::min<size_t>(header_end_, static_cast<size_t>(start));
      ReadExtraHeader(static_cast<size_t>(start));
    }
  }
  return true;
}

void VgmParser::ReadOpmClock() {
  auto& header = log_->header;
  // YM2151: its own clock from 1.10 on; before that the YM2413 field clocks it too.
  const uint32_t opm_field = version_ < 0x110 ? Field(0x10, 0x100) : Field(0x30, 0x110);
  const uint32_t opm_clock = opm_field & kClockMask;
  opm_dual_ = opm_clock != 0 && (opm_field & kDualBit) != 0;
  if (opm_clock != 0) {
    log_->opm_clock = opm_clock;
    std::string text = std::to_string(opm_clock) + " Hz";
    if (opm_field & kVariantBit) text += " (YM2164, played as a YM2151)";
    if (opm_dual_) text += ", two chips";
    header.emplace_back("YM2151 clock", text);
  }
}

void VgmParser::ReadAyClock() {
  auto& header = log_->header;
  const uint32_t ay_field = Field(0x74, 0x151);
  const uint32_t ay_clock = ay_field & kClockMask;
  if (ay_clock != 0) {
    ay_dual_ = (ay_field & kDualBit) != 0;
    const int type = ByteField(0x78, 0x151, 0);
    const int flags = ByteField(0x79, 0x151, 1);
    uint32_t clock = ay_clock;
    std::string text = std::to_string(ay_clock) + " Hz, " + AyTypeName(static_cast<uint8_t>(type)) +
                       ", flags " + Hex2(static_cast<uint32_t>(flags));
    // A YM2149 with its pin 26 low divides its clock by two once more.
    if (type >= 0x10 && (flags & 0x10) != 0) {
      clock /= 2;
      text += " (clock halved by pin 26)";
    }
    if (ay_dual_) text += ", two chips";
    header.emplace_back("AY8910 clock", text);
    log_->psg_clock[0] = clock;
    log_->psg_type[0] = AyTypeName(static_cast<uint8_t>(type));
    if (ay_dual_) {
      log_->psg_clock[1] = second_ay_clock_ != 0 ? second_ay_clock_ : clock;
      log_->psg_type[1] = log_->psg_type[0];
    }
  }
}

void VgmParser::ReadOtherClocks() {
  std::string others;
  for (const ClockField& f : kOtherClocks) {
    const uint32_t clock = Field(f.offset, f.since) & kClockMask;
    if (clock == 0) continue;
    if (!others.empty()) others += ", ";
    others += std::string(f.name) + " " + std::to_string(clock) + " Hz";
  }
  if (version_ >= 0x110) {
    if (const uint32_t clock = Field(0x10, 0x100) & kClockMask; clock != 0) {
      others = "YM2413 " + std::to_string(clock) + " Hz" + (others.empty() ? "" : ", ") + others;
    }
  }
  if (!others.empty()) log_->header.emplace_back("other chips (not on the board)", others);
}

void VgmParser::ReadTimes() {
  auto& header = log_->header;
  header_total_ = Field(0x18, 0x100);
  header_loop_samples_ = Field(0x20, 0x100);
  header.emplace_back("total samples", Seconds(header_total_));
  if (const uint32_t rate = Field(0x24, 0x101); rate != 0) {
    header.emplace_back("recording rate", std::to_string(rate) + " Hz");
  }
  // 0x00-0xC0 count up from 0, 0xC1-0xFF are -63 to -1; -63 counts as -64. Players honour it
  // from 1.50 on, where the header reaches it.
  if (const int byte = ByteField(0x7C, 0x150, 0); byte != 0) {
    int v = byte <= 0xC0 ? byte : byte - 0x100;
    if (v == -63) v = -64;
    log_->volume_modifier = v;
    header.emplace_back("volume modifier", Hex2(static_cast<uint32_t>(byte)) + ": " +
                                               LevelText(log_->volume_factor()) +
                                               ", applied in chips mode, not in board mode");
  }
  const int loop_base = static_cast<int8_t>(ByteField(0x7E, 0x160, 0));
  int loop_modifier = ByteField(0x7F, 0x151, 0);
  if (loop_modifier == 0) loop_modifier = 16;
  log_->loop_base = loop_base;
  log_->loop_modifier = loop_modifier;
}

void VgmParser::FindDataEnd(uint64_t data_start, uint32_t eof_field, uint64_t* end_out,
                            uint64_t* tag_start_out) {
  const size_t size = in_.size();
  // Where the commands end: the file, cut short by the EOF offset and by a tag that follows
  // the data (a stream without its end command must not run into the tag).
  uint64_t end = size;
  const uint64_t eof = 4 + uint64_t{eof_field};
  if (eof > size) {
    Warn("offset 0x4: the header gives a file length of " + std::to_string(eof) +
         " bytes, the file has " + std::to_string(size) + " (truncated?)");
  } else if (eof > data_start) {
    end = eof;
  }
  uint64_t tag_start = 0;
  if (const uint32_t rel = Field(0x14, 0x100); rel != 0) {
    tag_start = 0x14 + uint64_t{rel};
    if (!in_.Has(tag_start, 12)) {
      Warn("offset 0x14: the GD3 offset points to " + Hex(tag_start) +
           ", past the end of the file; no tag");
      tag_start = 0;
    } else if (tag_start > data_start && tag_start < end) {
      end = tag_start;
    }
  }
  *end_out = end;
  *tag_start_out = tag_start;
}

void VgmParser::ReadLoopOffset(uint64_t data_start, uint64_t end) {
  if (const uint32_t rel = Field(0x1C, 0x100); rel != 0) {
    const uint64_t loop = 0x1C + uint64_t{rel};
    if (loop < data_start || loop >= end) {
      Warn("offset 0x1C: the loop offset points to " + Hex(loop) + ", outside the data (" +
           Hex(data_start) + " to " + Hex(end) + "); played without a loop");
    } else {
      build_.SetLoopOffset(loop);
    }
    log_->header.emplace_back("loop", "offset " + Hex(loop) + ", " + Seconds(header_loop_samples_));
  }
}

// After the walk: the header's times against the commands', and the log finished.
void VgmParser::CheckTimes() {
  if (version_ < 0x110 && log_->opm_writes == 0) log_->opm_clock = 0;
  const uint64_t ticks = build_.ticks();
  if (ticks != header_total_) {
    Warn("offset 0x18: the header gives " + std::to_string(header_total_) +
         " samples in all, the commands add up to " + std::to_string(ticks) + "; playing those");
  }
  if (build_.loop_found() && header_loop_samples_ == 0) {
    log_->notes.push_back("the loop offset is set but the header gives the loop 0 samples: "
                          "no loop, played once");
    build_.DropLoop();
  }
  build_.Finish();
  if (log_->loops() && log_->loop_ticks != header_loop_samples_) {
    Warn("offset 0x20: the header gives the loop " + std::to_string(header_loop_samples_) +
         " samples, its commands add up to " + std::to_string(log_->loop_ticks) +
         "; playing those");
  }
}

void VgmParser::ReadExtraHeader(size_t start) {
  const uint32_t length = in_.U32(start);
  if (length < 4) {
    Warn("offset " + Hex(start) + ": the extra header gives its size as " +
         std::to_string(length) + "; ignored");
    return;
  }
  // +4 the chip-clock list, +8 the chip-volume list, each relative to its own field.
  if (length >= 8 && in_.Has(start + 4, 4) && in_.U32(start + 4) != 0) {
    ReadChipClocks(start + 4 + uint64_t{in_.U32(start + 4)}, start + 4);
  }
  if (length >= 12 && in_.Has(start + 8, 4) && in_.U32(start + 8) != 0) {
    ReadChipVolumes(start + 8 + uint64_t{in_.U32(start + 8)}, start + 8);
  }
}

template <class Read>
void VgmParser::ForEachListEntry(uint64_t list, size_t field, uint64_t entry_size,
                                 const char* what, Read read) {
  if (!in_.Has(list, 1)) {
    Warn("offset " + Hex(field) + ": the " + what + " list lies past the end of the file; ignored");
    return;
  }
  const size_t count = in_.U8(static_cast<size_t>(list));
  for (size_t i = 0; i < count; ++i) {
    const uint64_t entry = list + 1 + entry_size * uint64_t{i};
    if (!in_.Has(entry, entry_size)) {
      Warn("offset " + Hex(list) + ": the " + what + " list is cut off by the end of the file");
      return;
    }
    read(static_cast<size_t>(entry));
  }
}

// A count, then 5-byte entries: chip number, the second chip's clock.
void VgmParser::ReadChipClocks(uint64_t list, size_t field) {
  ForEachListEntry(list, field, 5, "chip-clock", [this](size_t entry) {
    const uint8_t chip = in_.U8(entry);
    const uint32_t clock = in_.U32(entry + 1) & kClockMask;
    if (chip == kChipIdAy8910) second_ay_clock_ = clock;
    if (chip == kChipIdYm2151 || chip == kChipIdAy8910) {
      log_->header.emplace_back(chip == kChipIdAy8910 ? "second AY8910 clock" : "second YM2151 clock",
                                std::to_string(clock) + " Hz");
    }
  });
}

// A count, then 4-byte entries: chip number (bit 7: the chip paired with it, as a YM2203's
// SSG), flags (bit 0: the second chip), volume (bit 15 set: relative, else absolute; both in
// 1/256 of the chip's own level here, Vorla having no other scale). The YM2151 and the AY8910s
// are kept; the rest are chips Vorla does not play.
void VgmParser::ReadChipVolumes(uint64_t list, size_t field) {
  ForEachListEntry(list, field, 4, "chip-volume", [this](size_t entry) {
    const uint8_t chip = in_.U8(entry);
    const bool second = (in_.U8(entry + 1) & 1) != 0;
    const uint32_t volume = in_.U8(entry + 2) | (uint32_t{in_.U8(entry + 3)} << 8);
    const double factor = (volume & 0x7FFF) / 256.0;
    std::string name;
    if (chip == kChipIdYm2151 && !second) {
      log_->opm_volume = factor;
      name = "YM2151 volume";
    } else if (chip == kChipIdAy8910) {
      log_->psg_volume[second ? 1 : 0] = factor;
      name = second ? "second AY8910 volume" : "AY8910 volume";
    } else {
      return;  // a chip Vorla does not play
    }
    log_->header.emplace_back(name, Hex(volume) +
                                        ((volume & 0x8000) ? " relative: " : " absolute: ") +
                                        LevelText(factor) +
                                        ", applied in chips mode, not in board mode");
  });
}

void VgmParser::ReadTag(size_t start) {
  // "Gd3 ", version, byte length of the strings, then eleven UTF-16LE strings ended by 0.
  if (in_.U32(start) != 0x20336447) {
    Warn("offset " + Hex(start) + ": no \"Gd3 \" tag where the GD3 offset points; no tag");
    return;
  }
  if (const uint32_t version = in_.U32(start + 4); version != 0x100) {
    Warn("offset " + Hex(start + 4) + ": GD3 version " + Hex(version) + " (expected 0x100)");
  }
  const size_t area = start + 12;
  size_t area_end = area + std::min<size_t>(in_.U32(start + 8), in_.size() - area);
  if (area_end - area < in_.U32(start + 8)) {
    Warn("offset " + Hex(start + 8) + ": the GD3 tag is cut short by the end of the file");
  }
  std::string* const fields[] = {&log_->tag.title,  &log_->tag.title_original,
                                 &log_->tag.game,   &log_->tag.game_original,
                                 &log_->tag.system, &log_->tag.system_original,
                                 &log_->tag.author, &log_->tag.author_original,
                                 &log_->tag.date,   &log_->tag.dumper,
                                 &log_->tag.notes};
  size_t pos = area;
  for (size_t i = 0; i < 11; ++i) {
    if (pos + 2 > area_end) {
      Warn("offset " + Hex(pos) + ": the GD3 tag holds " + std::to_string(i) +
           " of its 11 strings");
      return;
    }
    size_t units = 0;
    while (pos + 2 * units + 2 <= area_end &&
           (in_.U8(pos + 2 * units) != 0 || in_.U8(pos + 2 * units + 1) != 0)) {
      ++units;
    }
    // A field is kept to its first 64 KiB: no more units than that are converted.
    *fields[i] = Utf16LeToUtf8(in_.data(pos), std::min(units, kMaxTagBytes));
    if (CutUtf8(fields[i], kMaxTagBytes) || units > kMaxTagBytes) {
      Warn("offset " + Hex(pos) + ": GD3 string " + std::to_string(i + 1) +
           " is longer than 64 KiB; cut");
    }
    pos += 2 * units;
    if (pos + 2 > area_end) {
      Warn("offset " + Hex(pos) + ": GD3 string " + std::to_string(i + 1) +
           " is cut off without its terminator");
      return;
    }
    pos += 2;
  }
}

}  // namespace vgm

bool ReadVgm(const std::vector<uint8_t>& bytes, const std::string& name, MusicLog* log,
             std::string* error) {
  *log = MusicLog();
  vgm::VgmParser parser(bytes, name, log);
  return parser.Parse(error);
}
