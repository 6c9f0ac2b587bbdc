// The commands of a VGM file, walked in order into the music log: the YM2151's and AY-3-8910's
// writes and the waits played, every other chip's writes counted as skipped.
#include <string>

#include "music/vgm_parser.h"

namespace vgm {

namespace {

// Operand bytes after an opcode; -1 where the opcode has no known length (0x67 is handled
// apart). Commands 40-4E took one operand until version 1.60 and take two from 1.61 on.
int OperandCount(uint8_t op, uint32_t version) {
  if (op >= 0x30 && op <= 0x3F) return 1;
  if (op >= 0x40 && op <= 0x4E) return version >= 0x161 ? 2 : 1;
  if (op == 0x4F || op == 0x50) return 1;
  if (op >= 0x51 && op <= 0x5F) return 2;
  if (op == 0x61) return 2;
  if (op == 0x62 || op == 0x63 || op == 0x66) return 0;
  if (op == 0x64) return 3;
  if (op == 0x68) return 11;
  if (op >= 0x70 && op <= 0x8F) return 0;
  if (op == 0x90 || op == 0x91 || op == 0x95) return 4;
  if (op == 0x92) return 5;
  if (op == 0x93) return 10;
  if (op == 0x94) return 1;
  if (op >= 0xA0 && op <= 0xBF) return 2;
  if (op >= 0xC0 && op <= 0xDF) return 3;
  if (op >= 0xE0) return 4;
  return -1;
}

// What a skipped command is, for the one-line report ("skipped 1234 YM2612 writes").
std::string SkippedKind(uint8_t op) {
  static const char* const k5x[16] = {
      "SN76489",  "YM2413",  "YM2612",  "YM2612",  "YM2151", "YM2203", "YM2608", "YM2608",
      "YM2610",   "YM2610",  "YM3812",  "YM3526",  "Y8950",  "YMZ280B", "YMF262", "YMF262"};
  static const char* const kBx[16] = {
      "RF5C68", "RF5C164", "PWM",    "GB DMG",     "NES APU", "MultiPCM", "uPD7759", "OKIM6258",
      "OKIM6295", "HuC6280", "K053260", "Pokey", "WonderSwan", "SAA1099", "ES5506", "GA20"};
  static const char* const kCx[9] = {"Sega PCM", "RF5C68", "RF5C164", "MultiPCM", "QSound",
                                     "SCSP", "WonderSwan", "VSU", "X1-010"};
  static const char* const kDx[7] = {"YMF278B", "YMF271", "K051649", "K054539",
                                     "C140", "ES5503", "ES5506"};
  if (op == 0x4F || op == 0x50) return "SN76489 writes";
  if (op == 0x30 || op == 0x3F) return "second SN76489 writes";
  if (op >= 0x51 && op <= 0x5F) return std::string(k5x[op & 15]) + " writes";
  if (op >= 0xA1 && op <= 0xAF) return std::string("second ") + k5x[op & 15] + " writes";
  if (op >= 0x80 && op <= 0x8F) return "YM2612 writes";
  if (op >= 0xB0 && op <= 0xBF) return std::string(kBx[op & 15]) + " writes";
  if (op >= 0xC0 && op <= 0xC8) return std::string(kCx[op - 0xC0]) + " writes";
  if (op >= 0xD0 && op <= 0xD6) return std::string(kDx[op - 0xD0]) + " writes";
  if (op == 0xE1) return "C352 writes";
  if (op == 0x68) return "PCM RAM writes";
  if (op >= 0x90 && op <= 0x95) return "DAC stream commands";
  if (op == 0xE0) return "PCM data seeks";
  if (op == 0x64) return "wait-length overrides";
  return "reserved commands";
}

}  // namespace

void VgmParser::Walk(size_t start, size_t end) {
  size_t pos = start;
  bool ended = false;
  while (pos < end) {
    build_.AtCommand(pos);
    const uint8_t op = in_.U8(pos);
    if (op == 0x66) {
      ended = true;
      break;
    }
    if (op == 0x67) {
      if (!SkipDataBlock(&pos, end)) return;
      continue;
    }
    const int operands = OperandCount(op, version_);
    if (operands < 0) {
      std::string message = "offset " + Hex(pos) + ": unknown command " + Hex2(op) +
                            " (corrupt stream); the stream stops here";
      if (pos == start) message += " (is the data offset at 0x34 wrong?)";
      Warn(message);
      return;
    }
    if (static_cast<size_t>(operands) >= end - pos) {
      Warn("offset " + Hex(pos) + ": command " + Hex2(op) +
           " is cut off by the end of the data; the stream stops here");
      return;
    }
    const uint8_t a = operands >= 1 ? in_.U8(pos + 1) : 0;
    const uint8_t b = operands >= 2 ? in_.U8(pos + 2) : 0;
    Play(op, a, b);
    pos += 1 + static_cast<size_t>(operands);
  }
  if (!ended) {
    Warn("offset " + Hex(end) + ": the data ends without an end command (0x66)");
  }
  build_.EndWalk();
}

// Steps over a data block at *pos; false (with a warning) when the stream stops there.
bool VgmParser::SkipDataBlock(size_t* pos_io, size_t end) {
  const size_t pos = *pos_io;
  // 67 66 tt ss ss ss ss, then ss bytes of data.
  if (end - pos < 7) {
    Warn("offset " + Hex(pos) + ": a data block is cut off by the end of the data; the "
         "stream stops here");
    return false;
  }
  if (in_.U8(pos + 1) != 0x66) {
    Warn("offset " + Hex(pos) + ": a data block without its 0x66 marker (corrupt stream); "
         "the stream stops here");
    return false;
  }
  const uint32_t length = in_.U32(pos + 3);
  if (length > end - pos - 7) {
    Warn("offset " + Hex(pos) + ": a data block of " + std::to_string(length) +
         " bytes runs past the end of the data; the stream stops here");
    return false;
  }
  Skip("data blocks");
  *pos_io = pos + 7 + size_t{length};
  return true;
}

// One command with its first two operand bytes: a write for the board, a wait, or a skip.
void VgmParser::Play(uint8_t op, uint8_t a, uint8_t b) {
  switch (op) {
    case 0x54:
      if (log_->opm_clock != 0) {
        build_.AddWrite(kChipOpm, a, b);
      } else {
        Skip("YM2151 writes (the header declares no YM2151)");
      }
      break;
    case 0xA4:
      Skip(opm_dual_ ? "second YM2151 writes (the board has one FM chip)"
                     : "second YM2151 writes (the header declares no second YM2151)");
      break;
    case 0xA0: {
      const int chip = (a & 0x80) ? 1 : 0;
      if (log_->psg_clock[chip] != 0) {
        build_.AddWrite(static_cast<uint8_t>(kChipPsg1 + chip), a & 0x7F, b);
      } else {
        Skip(chip == 0 ? "AY8910 writes (the header declares no AY8910)"
                       : "second AY8910 writes (the header declares no second AY8910)");
      }
      break;
    }
    case 0x61:
      build_.AddWait(a | (uint32_t{b} << 8));
      break;
    case 0x62:
      build_.AddWait(735);
      break;
    case 0x63:
      build_.AddWait(882);
      break;
    default:
      if (op >= 0x70 && op <= 0x7F) {
        build_.AddWait((op & 15u) + 1);
      } else if (op >= 0x80 && op <= 0x8F) {
        Skip(SkippedKind(op));
        build_.AddWait(op & 15u);
      } else {
        Skip(SkippedKind(op));
      }
      break;
  }
}

}  // namespace vgm
