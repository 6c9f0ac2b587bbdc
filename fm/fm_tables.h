// Lookup tables of the FM synthesizer.
//
// Units shared by the FM code:
//   attenuation index  index into LogToLinearTable; bit 0 is the sign, 512 units halve the level
//   envelope unit      one envelope step, 8 attenuation units; 64 units halve the level
//   phase              unsigned 32-bit, one sine period = 2^29; bits 19-28 index LogSineTable
//
// The constant tables below are program data. The computed tables (logarithmic level, sine,
// key fraction, LFO depth) are built once per process, on the first FmTables::Get().
#pragma once

#include <array>
#include <cstdint>

#include "fm/opm_phase_steps.h"

inline constexpr int kLogToLinearSize = 8192;
// LogToLinearTable is stored with silent entries up to this size, so that the block renderer can
// look up a sine attenuation (LogSineTable, below 4300) plus an attenuation held to
// kSpanAttenLimit without testing the index.
inline constexpr int kLogToLinearPaddedSize = 32768;
// Above every attenuation an operator reaches (envelope and total level 8184, LFO 8160 more),
// and far enough above 8192 that a held value still reads silence.
inline constexpr uint32_t kSpanAttenLimit = 16384;
inline constexpr int kLogSineSize = 1024;
inline constexpr int kKeyFractionSize = 64;
inline constexpr int kLfoSteps = 256;

// Phase step of each note of an octave, indexed by the low four bits of the key code.
// Codes 3, 7 and 11 do not exist on the chip and repeat the next note.
inline constexpr int32_t NoteStepTable[16] = {5197, 5506, 5833, 6180, 6180, 6547, 6937, 7349,
                                              7349, 7786, 8249, 8740, 8740, 9259, 9810, 10394};

// Coarse detune multipliers (DT2 0-3), single precision on purpose.
inline constexpr float Dt2Factors[4] = {1.0f, 1.414f, 1.581f, 1.732f};

// The chip-true variant's coarse detune: steps of 1/64 semitone added to the note position
// (0, 600, 781 and 950 cents).
inline constexpr int32_t Dt2Positions[4] = {0, 384, 500, 608};

namespace fm_tables_internal {

using DetuneRows = std::array<std::array<int8_t, 32>, 8>;

constexpr DetuneRows MakeDetuneOffsets() {
  constexpr int8_t kPositive[3][32] = {
      {0, 0, 0, 0, 2, 2, 2, 2, 2, 2, 2, 2, 4, 4, 4, 4,
       4, 6, 6, 6, 8, 8, 8, 10, 10, 12, 12, 14, 16, 16, 16, 16},
      {2, 2, 2, 2, 4, 4, 4, 4, 4, 6, 6, 6, 8, 8, 8, 10,
       10, 12, 12, 14, 16, 16, 18, 20, 22, 24, 26, 28, 32, 32, 32, 32},
      {4, 4, 4, 4, 4, 6, 6, 6, 8, 8, 8, 10, 10, 12, 12, 14,
       16, 16, 18, 20, 22, 24, 26, 28, 32, 34, 38, 40, 44, 44, 44, 44},
  };
  DetuneRows rows{};
  for (int dt1 = 1; dt1 <= 3; ++dt1) {
    for (int code = 0; code < 32; ++code) {
      rows[dt1][code] = kPositive[dt1 - 1][code];
      rows[dt1 + 4][code] = static_cast<int8_t>(-kPositive[dt1 - 1][code]);
    }
  }
  return rows;
}

using EnvelopeRows = std::array<std::array<int8_t, 8>, 64>;

// fastest: the increment of rates 60-63 (the board's 16; the chip's own is 8, that of rate 59).
constexpr EnvelopeRows MakeDecayIncrements(int fastest) {
  // Rates 8-47 and 48-59 repeat one pattern per (rate AND 3).
  constexpr int8_t kMiddle[4][8] = {{1, 0, 1, 0, 1, 0, 1, 0},
                                    {1, 1, 1, 0, 1, 0, 1, 0},
                                    {1, 1, 1, 0, 1, 1, 1, 0},
                                    {1, 1, 1, 1, 1, 1, 1, 0}};
  constexpr int8_t kHigh[4][8] = {{1, 1, 1, 1, 1, 1, 1, 1},
                                  {2, 1, 1, 1, 2, 1, 1, 1},
                                  {2, 1, 2, 1, 2, 1, 2, 1},
                                  {2, 2, 2, 1, 2, 2, 2, 1}};
  constexpr int8_t kSlow[8] = {1, 1, 1, 0, 1, 1, 1, 0};
  EnvelopeRows rows{};
  for (int rate = 0; rate < 64; ++rate) {
    for (int tick = 0; tick < 8; ++tick) {
      int value = 0;
      if (rate < 2) {
        value = 0;
      } else if (rate < 6) {
        value = 1;
      } else if (rate < 8) {
        value = kSlow[tick];
      } else if (rate < 48) {
        value = kMiddle[rate & 3][tick];
      } else if (rate < 60) {
        value = kHigh[rate & 3][tick] << ((rate - 48) / 4);  // times 1, 2 or 4
      } else {
        value = fastest;
      }
      rows[rate][tick] = static_cast<int8_t>(value);
    }
  }
  return rows;
}

// The attack multiplies instead of adding: an increment of 2^k becomes a shift of 4 - k,
// and a tick without an increment becomes -1 (no attack step).
constexpr EnvelopeRows MakeAttackShifts(const EnvelopeRows& increments) {
  EnvelopeRows rows{};
  for (int rate = 0; rate < 64; ++rate) {
    for (int tick = 0; tick < 8; ++tick) {
      int value = increments[rate][tick];
      int shift = -1;
      if (value > 0) {
        int log2 = 0;
        while ((1 << (log2 + 1)) <= value) ++log2;
        shift = 4 - log2;
      }
      rows[rate][tick] = static_cast<int8_t>(shift);
    }
  }
  return rows;
}

// The chip's attack: rates 62 and 63 never advance an attack under way (a key-on at those rates
// skips the attack altogether).
constexpr EnvelopeRows MakeChipAttackShifts(const EnvelopeRows& increments) {
  EnvelopeRows rows = MakeAttackShifts(increments);
  for (int rate = 62; rate < 64; ++rate) rows[rate].fill(-1);
  return rows;
}

}  // namespace fm_tables_internal

// Fine detune in phase-step units, row = DT1 (0-7), column = key-scale code (0-31).
inline constexpr fm_tables_internal::DetuneRows DetuneOffsets =
    fm_tables_internal::MakeDetuneOffsets();

// Envelope timer decrement per output sample = RateStepTable[rate / 4] x ratio.
inline constexpr int32_t RateStepTable[16] = {1,    2,    4,    8,    16,   32,   64,   128,
                                              256,  512,  1024, 2047, 2047, 2047, 2047, 2047};

// Envelope-unit increments per tick, row = rate (0-63), column = tick count AND 7.
inline constexpr fm_tables_internal::EnvelopeRows DecayIncrements =
    fm_tables_internal::MakeDecayIncrements(16);

// Attack shift per tick (-1 = no step), same indexing as DecayIncrements.
inline constexpr fm_tables_internal::EnvelopeRows AttackShifts =
    fm_tables_internal::MakeAttackShifts(DecayIncrements);

// The same two for the chip-true variant, whose rates 60-63 step no faster than rate 60 and
// whose attack stands still at rates 62-63.
inline constexpr fm_tables_internal::EnvelopeRows ChipDecayIncrements =
    fm_tables_internal::MakeDecayIncrements(8);
inline constexpr fm_tables_internal::EnvelopeRows ChipAttackShifts =
    fm_tables_internal::MakeChipAttackShifts(ChipDecayIncrements);

// Feedback shift by FB field; 31 means no feedback.
inline constexpr uint8_t FeedbackShifts[8] = {31, 7, 6, 5, 4, 3, 2, 1};

// Sustain level by SL field, in units of 8 envelope units; SL 15 drops to the bottom.
inline constexpr uint8_t SustainLevels[16] = {0,  4,  8,  12, 16, 20, 24, 28,
                                              32, 36, 40, 44, 48, 52, 56, 124};

// How the four operators of a channel are joined, per algorithm. Masks name operators by bit
// (bit 0 operator 0 ... bit 3 operator 3): into[k] are the operators whose outputs are summed as
// operator k's modulation, carriers those whose outputs make the channel's sample. Operator 0
// takes only its own feedback. Every renderer of the channel reads this one table.
struct FmConnection {
  uint8_t into[4];
  uint8_t carriers;
};

inline constexpr FmConnection ConnectionTable[8] = {
    {{0, 0b0001, 0b0010, 0b0100}, 0b1000},  // 0 -> 1 -> 2 -> 3
    {{0, 0, 0b0011, 0b0100}, 0b1000},       // (0 + 1) -> 2 -> 3
    {{0, 0, 0b0010, 0b0101}, 0b1000},       // (0 + (1 -> 2)) -> 3
    {{0, 0b0001, 0, 0b0110}, 0b1000},       // ((0 -> 1) + 2) -> 3
    {{0, 0b0001, 0, 0b0100}, 0b1010},       // (0 -> 1) + (2 -> 3)
    {{0, 0b0001, 0b0001, 0b0001}, 0b1110},  // 0 -> each of 1, 2, 3
    {{0, 0b0001, 0, 0}, 0b1110},            // (0 -> 1) + 2 + 3
    {{0, 0, 0, 0}, 0b1111},                 // 0 + 1 + 2 + 3
};

// Register slot (M1, M2, C1, C2) to operator index within the channel (M1, C1, M2, C2).
inline constexpr uint8_t SlotOrder[4] = {0, 2, 1, 3};

// Tables computed at run time, one copy per process.
struct FmTables {
  // attenuation index -> signed linear sample; entries from kLogToLinearSize on are 0
  int32_t LogToLinearTable[kLogToLinearPaddedSize];
  int32_t LogSineTable[kLogSineSize];          // phase index -> attenuation index (with sign)
  int32_t KeyFractionTable[kKeyFractionSize];  // KF -> 2^(KF/768), 16.16 fixed point
  int32_t PitchLfoTable[8][kLfoSteps];         // PMS, LFO pitch index -> factor x 65536
  // Chip-true variant: PMS, LFO pitch index -> steps of 1/64 semitone added to the note position
  int32_t PitchLfoStepTable[8][kLfoSteps];
  int32_t AmpLfoTable[4][kLfoSteps];           // AMS, LFO amplitude index -> attenuation

  // The process-wide tables, built on the first call (thread-safely, by the language's rules for
  // function-local statics) and only read afterwards. Inline: the per-sample code reaches them
  // through one test of the guard, not a call.
  static const FmTables& Get() {
    static const FmTables tables = Build();
    return tables;
  }

 private:
  static FmTables Build();
};

// The chip's phase step at a note position (block x 768 + note x 64 + key fraction, in steps of
// 1/64 semitone), in the board's phase-step units (twice the chip's). Positions below 0 play
// the lowest step; positions above block 7 go on doubling per octave.
inline uint32_t OpmPhaseStep(int32_t position) {
  if (position < 0) position = 0;
  const int32_t block = position / kOpmPhaseSteps;
  const uint32_t step = OpmPhaseStepTable[position % kOpmPhaseSteps];
  return (block <= 7 ? step >> (7 - block) : step << (block - 7)) << 1;
}

// Linear sample of an attenuation index; indices of 8192 and above (and negative ones seen as
// unsigned) are silent.
inline int32_t LinearLookup(uint32_t index) {
  return index < static_cast<uint32_t>(kLogToLinearSize) ? FmTables::Get().LogToLinearTable[index]
                                                         : 0;
}

// The same for a sine attenuation plus an attenuation of at most kSpanAttenLimit: no test.
inline int32_t LinearLookupPadded(const FmTables& tables, uint32_t index) {
  return tables.LogToLinearTable[index];
}
