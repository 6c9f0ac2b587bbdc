#include "player/board_retune.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "module/board_clocks.h"

namespace {

constexpr uint32_t kBoardPsgMaster = 2 * kBoardPsgClock;  // a PSG's clock is half its master's
constexpr int32_t kTopPosition = 8 * 768 - 1;             // block 7, note 11, fraction 63

// 1/64 semitone steps a note moves for a clock ratio, rounded.
int32_t Steps(double ratio) { return static_cast<int32_t>(std::lround(768 * std::log2(ratio))); }

// The LFO's frequency register for a clock, relative: (16 + mantissa) x 2^octave.
double LfoRate(uint32_t value) { return (16.0 + (value & 15)) * std::ldexp(1.0, value >> 4); }

// The register value whose rate at the board's clock is nearest the file's value at its own.
uint8_t NearestLfo(uint8_t value, double ratio) {
  const double want = std::log2(LfoRate(value) / ratio);
  uint32_t best = value;
  double best_off = 1e9;
  for (uint32_t v = 0; v < 256; ++v) {
    const double off = std::fabs(std::log2(LfoRate(v)) - want);
    if (off < best_off) {
      best_off = off;
      best = v;
    }
  }
  return static_cast<uint8_t>(best);
}

uint32_t Scaled(uint32_t period, double ratio, uint32_t max) {
  const auto scaled = static_cast<uint32_t>(std::lround(std::max(period, 1u) * ratio));
  return std::clamp(scaled, 1u, max);
}

std::string Percent(double ratio) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%% %s", std::fabs(ratio - 1) * 100,
                ratio > 1 ? "fast" : "slow");
  return text;
}

}  // namespace

BoardRetune::BoardRetune(const MusicLog& log, Out out) : out_(std::move(out)) {
  if (log.opm_clock != 0) {
    fm_ratio_ = static_cast<double>(kBoardFmClock) / log.opm_clock;
    fm_steps_ = Steps(fm_ratio_);
    fm_moved_ = fm_steps_ != 0;
  }
  for (int i = 0; i < kMusicPsgCount; ++i) {
    if (log.has_psg(i)) psg_ratio_[i] = static_cast<double>(kBoardPsgMaster) / log.psg_clock[i];
  }
}

void BoardRetune::Write(uint8_t chip, uint8_t reg, uint8_t data) {
  if (chip == kChipOpm) {
    if (fm_moved_ && reg >= 0x28 && reg < 0x38) {
      const uint8_t ch = reg & 7;
      (reg < 0x30 ? key_code_ : key_fraction_)[ch] = data;
      WritePitch(ch);
      return;
    }
    if (reg == 0x18 && fm_ratio_ != 1) data = NearestLfo(data, fm_ratio_);
    out_(chip, reg, data);
    return;
  }
  const int psg = chip - kChipPsg1;
  if (psg < 0 || psg >= kMusicPsgCount || reg >= 16 || psg_ratio_[psg] == 1) {
    out_(chip, reg, data);
    return;
  }
  psg_regs_[psg][reg] = data;
  if (reg < 6) {
    WritePeriod(psg, reg & ~1u, 0xFFF, 0xF0);
  } else if (reg == 6) {
    const uint32_t np = Scaled(data & 31u, psg_ratio_[psg], 31);
    out_(chip, 6, static_cast<uint8_t>((data & 0xE0) | np));
  } else if (reg == 11 || reg == 12) {
    WritePeriod(psg, 11, 0xFFFF, 0);
  } else {
    out_(chip, reg, data);
  }
}

void BoardRetune::WritePitch(uint8_t ch) {
  const uint32_t kc = key_code_[ch];
  const uint32_t code = kc & 15;
  const int32_t position = static_cast<int32_t>(((kc >> 4) & 7) * 768 + (code - (code >> 2)) * 64 +
                                                (key_fraction_[ch] >> 2)) - fm_steps_;
  const int32_t moved = std::clamp(position, 0, kTopPosition);
  const uint32_t block = static_cast<uint32_t>(moved / 768);
  const uint32_t note = static_cast<uint32_t>(moved % 768) / 64;
  const uint32_t fraction = static_cast<uint32_t>(moved % 64);
  // Notes 0-11 are codes 0-2, 4-6, 8-10, 12-14.
  out_(kChipOpm, static_cast<uint8_t>(0x28 + ch),
       static_cast<uint8_t>((kc & 0x80) | (block << 4) | (note + note / 3)));
  out_(kChipOpm, static_cast<uint8_t>(0x30 + ch),
       static_cast<uint8_t>((fraction << 2) | (key_fraction_[ch] & 3)));
}

void BoardRetune::WritePeriod(int psg, uint8_t low_reg, uint32_t max, uint32_t high_mask) {
  const uint8_t* regs = psg_regs_[psg];
  const uint32_t high = regs[low_reg + 1];
  const uint32_t period = ((high & ~high_mask & 0xFF) << 8) | regs[low_reg];
  const uint32_t scaled = Scaled(period, psg_ratio_[psg], max);
  const auto chip = static_cast<uint8_t>(kChipPsg1 + psg);
  out_(chip, low_reg, static_cast<uint8_t>(scaled & 0xFF));
  out_(chip, static_cast<uint8_t>(low_reg + 1),
       static_cast<uint8_t>((high & high_mask) | (scaled >> 8)));
}

std::string BoardRetune::Mark(const MusicLog& log, bool as_written) {
  if (as_written) return "  board as written";
  if (log.opm_clock == 0 || log.opm_clock == kBoardFmClock) return "  board";
  return "  board: FM envelopes " + Percent(static_cast<double>(kBoardFmClock) / log.opm_clock);
}

std::vector<std::string> BoardRetune::Notes(const MusicLog& log) {
  std::vector<std::string> notes;
  char text[400];
  if (log.opm_clock != 0 && log.opm_clock != kBoardFmClock) {
    const double ratio = static_cast<double>(kBoardFmClock) / log.opm_clock;
    const int32_t steps = Steps(ratio);
    const double off = 100.0 * (std::log2(ratio) * 12 - steps / 64.0);
    std::snprintf(text, sizeof text,
                  "--board: FM at %u Hz on the board's %u Hz: notes moved %+d/64 semitone (%+.1f "
                  "cents from the file's, the board's FM table 1-3 cents more), the LFO at the "
                  "nearest rate; not matched: envelopes, timers and noise run %s",
                  log.opm_clock, kBoardFmClock, -steps, off, Percent(ratio).c_str());
    notes.push_back(text);
  }
  for (int i = 0; i < kMusicPsgCount; ++i) {
    if (!log.has_psg(i) || log.psg_clock[i] == kBoardPsgMaster) continue;
    const double ratio = static_cast<double>(kBoardPsgMaster) / log.psg_clock[i];
    std::snprintf(text, sizeof text,
                  "--board: PSG %d at %u Hz on the board's %u Hz: tone, noise and envelope "
                  "periods x %.4f, rounded (tones within 3 cents from period 260 up, within "
                  "half a period step below)",
                  i + 1, log.psg_clock[i], kBoardPsgMaster, ratio);
    notes.push_back(text);
  }
  return notes;
}
