// Board mode at the song's own pitch: the writes of a file made for other clocks, moved so that
// the board's chips (FM 3,993,600 Hz, PSG 998,400 Hz) play its notes.
//
//   FM   key code and fraction (0x28-0x2F, 0x30-0x37): the note position (block x 768 + note x
//        64 + fraction, in 1/64 semitone) moved down by the clock ratio, rounded to a step;
//        LFO frequency (0x18): the rate nearest to the file's LFO at its clock
//   PSG  tone, noise and envelope periods (0-6, 11-12): scaled by the clock ratio, rounded,
//        within the registers' range (a period of 0 counts as 1)
// Everything else passes as written. What cannot be moved (the FM's envelope rates, timers and
// noise frequency scale with the clock) is told by Notes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "music/music_log.h"

class BoardRetune {
 public:
  // Where the writes go, moved or as they are.
  using Out = std::function<void(uint8_t chip, uint8_t reg, uint8_t data)>;

  BoardRetune(const MusicLog& log, Out out);

  // Passes the write on, moved to the board's clocks.
  void Write(uint8_t chip, uint8_t reg, uint8_t data);

  // What --board does with the file's clocks, for info and the player: one line a chip that
  // is moved, and what stays off. Empty when the file is at the board's clocks.
  static std::vector<std::string> Notes(const MusicLog& log);
  // The same for the status line of play, short: "  board", "  board as written", or what
  // stays off ("  board: FM envelopes 11.6% fast").
  static std::string Mark(const MusicLog& log, bool as_written);

 private:
  // The board's key code and fraction register values for the file's.
  void WritePitch(uint8_t ch);
  void WritePeriod(int psg, uint8_t low_reg, uint32_t max, uint32_t high_mask);

  Out out_;
  int32_t fm_steps_ = 0;      // 1/64 semitone the FM notes move down
  bool fm_moved_ = false;
  double fm_ratio_ = 1;       // board clock / file clock
  double psg_ratio_[kMusicPsgCount] = {1, 1, 1, 1};
  uint8_t key_code_[8] = {};  // as the file wrote them
  uint8_t key_fraction_[8] = {};
  uint8_t psg_regs_[kMusicPsgCount][16] = {};  // as the file wrote them
};
