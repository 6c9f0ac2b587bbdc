// The FM tests' means of driving OpmChip through its registers and reading its output: voices
// set up by register writes, rendering, the sine's sign pattern (which shows an operator's
// exact phase advance), and a reference of a channel at steady full level written from the
// published synthesis rules (sine and level tables, connections, feedback, noise register).
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <vector>

#include "fm/fm_tables.h"
#include "fm/opm_chip.h"

namespace fm_voice {

// Chip at 3993600 Hz and 44100 Hz: ratio 181, so MUL m multiplies the channel's step by 362 m
// (181 for MUL 0).
constexpr uint32_t kClock = 3993600;
constexpr uint32_t kRate = 44100;

// Operator register address of slot (0 M1, 1 M2, 2 C1, 3 C2) of channel ch in group base.
inline uint32_t Reg(uint32_t base, uint32_t slot, uint32_t ch) { return base + slot * 8 + ch; }

// Operator index (M1, C1, M2, C2) to register slot.
constexpr uint32_t kSlotOf[4] = {0, 2, 1, 3};

inline std::vector<StereoFrame> Render(OpmChip& chip, int count, int chunk = 1 << 30) {
  std::vector<StereoFrame> frames(static_cast<size_t>(count), StereoFrame{0, 0});
  for (int done = 0; done < count; done += chunk) {
    chip.Mix(frames.data() + done, std::min(chunk, count - done));
  }
  return frames;
}

inline std::vector<int32_t> Left(const std::vector<StereoFrame>& frames) {
  std::vector<int32_t> left;
  for (const StereoFrame& f : frames) left.push_back(f.left);
  return left;
}

// Channel ch on both sides with algorithm a and FB fb; every operator MUL muls[op], DT1 0,
// TL 127 (silent) unless audible has its bit (bit = operator index), AR 31, no decay: an
// audible operator holds full level from its key-on. Not keyed on.
inline void SteadyVoice(OpmChip& chip, uint32_t ch, uint32_t a, uint32_t fb, uint32_t kc,
                        const uint32_t (&muls)[4], uint32_t audible = 15) {
  chip.Write(0x20 + ch, 0xC0 | (fb << 3) | a);
  chip.Write(0x28 + ch, kc);
  chip.Write(0x30 + ch, 0);
  for (uint32_t op = 0; op < 4; ++op) {
    const uint32_t slot = kSlotOf[op];
    chip.Write(Reg(0x40, slot, ch), muls[op]);
    chip.Write(Reg(0x60, slot, ch), (audible >> op) & 1 ? 0 : 127);
    chip.Write(Reg(0x80, slot, ch), 0x1F);
    chip.Write(Reg(0xA0, slot, ch), 0);
    chip.Write(Reg(0xC0, slot, ch), 0);
    chip.Write(Reg(0xE0, slot, ch), 0x00);  // SL 0: straight to a sustain of rate 0
  }
}

// The first mismatch of the frames' signs against an operator sounding alone at full level
// from phase 0 with advance inc per frame, whose sample of frame n reaches frame n + delay
// (bit 28 of the phase picks the sine's negative half); -1 when every frame agrees.
inline int SignMismatch(const std::vector<StereoFrame>& frames, uint32_t inc, int delay) {
  for (int n = delay; n < static_cast<int>(frames.size()); ++n) {
    const uint32_t phase = static_cast<uint32_t>(n - delay) * inc;
    if ((frames[n].left < 0) != (((phase >> 28) & 1) != 0)) return n;
  }
  return -1;
}

// A channel's four operators at full level, keyed on together (phase 0, outputs 0), with no
// envelope movement: each frame computes operators 2, 1, 3 from what the others hold at that
// moment, then operator 0 with its feedback, as the connections of the algorithm say. With
// lfo (the LFO rendering at zero depth) algorithm 7 adds operator 0's new sample, without it
// the previous one.
struct ChannelModel {
  uint32_t inc[4];
  uint32_t algorithm;
  uint32_t fb_shift;  // FeedbackShifts entry
  bool lfo = false;
  bool keyed[4] = {true, true, true, true};  // a never keyed operator stays silent
  uint32_t phase[4] = {};
  int32_t out[4] = {};
  int32_t prev0 = 0;

  static int32_t Sine(uint32_t phase, int32_t offset) {
    const FmTables& t = FmTables::Get();
    const uint32_t i = ((phase >> 19) + static_cast<uint32_t>(offset)) & 1023;
    return t.LogToLinearTable[t.LogSineTable[i]];
  }
  void Op(int k, int32_t m) {
    out[k] = keyed[k] ? Sine(phase[k], m >> 1) : 0;
    phase[k] += inc[k];
  }
  int32_t Heard(uint8_t mask) const {
    return (mask & 1 ? out[0] : 0) + (mask & 2 ? out[1] : 0) + (mask & 4 ? out[2] : 0) +
           (mask & 8 ? out[3] : 0);
  }
  int32_t Frame() {
    const FmConnection& c = ConnectionTable[algorithm];
    Op(2, Heard(c.into[2]));
    Op(1, Heard(c.into[1]));
    Op(3, Heard(c.into[3]));
    const int32_t sum = out[0] + prev0;
    prev0 = out[0];
    const int32_t offset = fb_shift < 31 ? sum >> (fb_shift + 2) : 0;
    out[0] = keyed[0] ? Sine(phase[0], offset) : 0;
    phase[0] += inc[0];
    return Heard(c.carriers & 0b1110) + (c.carriers & 1 ? (lfo ? out[0] : prev0) : 0);
  }
  // A key-on of operator k: phase and outputs start again.
  void KeyOn(int k) {
    keyed[k] = true;
    phase[k] = 0;
    out[k] = 0;
    if (k == 0) prev0 = 0;
  }
};

// The noise register of channel 8 as it advances once a sample: the counter gains twice the
// ratio and pays 32 - NFRQ (2 for NFRQ 31, plus 7) times 128 for a shift.
struct NoiseModel {
  uint32_t nfrq;
  uint32_t ratio = 181;
  int32_t counter = 0;
  uint32_t shift = 12345;
  uint32_t Step() {
    counter += 2 * static_cast<int32_t>(ratio);
    if (counter >= 4096) {
      const int32_t n = nfrq == 31 ? 2 : 32 - static_cast<int32_t>(nfrq);
      counter -= n * 128 + (nfrq == 31 ? 7 : 0);
      shift = (shift & 1) ? (shift >> 1) ^ 0x8408 : shift >> 1;
      counter = std::min(counter, 4096);
    }
    return shift;
  }
};

// Channel 8 with operator C2 as the noise source and the rest silent, algorithm 0: each frame
// holds the previous frame's noise sample, 2 x (1023 - TL x 8 - envelope level) with the noise
// bit's sign. So |left| / 2 + TL x 8 reads C2's envelope level (while it is below 1023 - TL x 8).
inline void NoiseProbe(OpmChip& chip, uint32_t tl, uint32_t ar, uint32_t d1r, uint32_t d2r,
                       uint32_t sl_rr, uint32_t ks = 0, uint32_t kc = 0x40) {
  chip.Write(0x0F, 0x80);
  chip.Write(0x27, 0xC0);
  chip.Write(0x2F, kc);
  for (uint32_t slot = 0; slot < 4; ++slot) chip.Write(Reg(0x60, slot, 7), 127);
  chip.Write(Reg(0x60, 3, 7), tl);
  chip.Write(Reg(0x80, 3, 7), (ks << 6) | ar);
  chip.Write(Reg(0xA0, 3, 7), d1r);
  chip.Write(Reg(0xC0, 3, 7), d2r);
  chip.Write(Reg(0xE0, 3, 7), sl_rr);
}

// The envelope level each of count frames shows: that of the noise sample C2 computed in the
// frame before (TL tl).
inline std::vector<int32_t> Levels(OpmChip& chip, int count, uint32_t tl) {
  std::vector<int32_t> levels;
  for (const StereoFrame& f : Render(chip, count)) {
    levels.push_back(1023 - static_cast<int32_t>(tl) * 8 - std::abs(f.left) / 2);
  }
  return levels;
}

}  // namespace fm_voice
