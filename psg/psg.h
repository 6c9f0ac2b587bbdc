// Psg: one AY-3-8910-compatible programmable sound generator.
//
// Register map (index, bits, meaning). A read returns the whole byte last written, also where
// fewer bits count.
//   0   xxxxxxxx channel A tone period, low byte
//   1   ----xxxx channel A tone period, high 4 bits (12-bit period; 0 acts as 1)
//   2,3          channel B tone period, as 0,1
//   4,5          channel C tone period, as 0,1
//   6   ---xxxxx noise period (0 acts as 1)
//   7   xx------ no effect; --xxx--- noise off C,B,A; -----xxx tone off C,B,A
//   8   ---x---- channel A amplitude from the envelope; ----xxxx fixed level 0-15
//   9            channel B amplitude, as 8
//   10           channel C amplitude, as 8
//   11  xxxxxxxx envelope period, low byte
//   12  xxxxxxxx envelope period, high byte (0 runs twice as fast as 1)
//   13  ----xxxx envelope shape: continue, attack, alternate, hold; a write restarts the envelope
//   14  xxxxxxxx I/O port A (stored only)
//   15  xxxxxxxx I/O port B (stored only)
//
// Timing: one output frame is four sub-samples. Per sub-sample each counter advances by its step:
//   tone_phase    bit 26 is the square wave, so it toggles every 2^26 of phase
//   envelope_pos  2^24 per envelope entry, 64 entries, always below 2^30
//   noise_pos     2^17 per noise bit, 2^22 per 32-bit word of the noise table
// With the board's 998400 Hz clock a tone period TP sounds at about 998400 / (8 * TP) Hz.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vyx/stereo_frame.h"
#include "psg/channel_run.h"
#include "psg/psg_sink.h"

class Psg {
 public:
  // The output curve of the chip family. kYm2149: 32 levels 1.5 dB apart, a fixed level L
  // sounding at level 2L + 1, the envelope in 32 steps. kAy8910: the AY-3-8910's own 16 levels
  // (measured, not evenly spaced), the envelope in 16 steps each held for two entries.
  enum class Type { kYm2149, kAy8910 };

  Psg();

  // Turns clock (Hz) and output rate (frames per second) into the three bases and recomputes
  // every step. A rate of 0 is ignored: the call changes nothing.
  void SetClock(uint32_t clock, uint32_t rate);
  // Writes the low byte of value into register index; an index of 16 or more is ignored.
  void SetRegister(uint32_t index, uint32_t value);
  // Returns register (index & 15), as the data port reads through the low four latch bits.
  uint8_t GetRegister(uint32_t index) const;
  // Volume in half-decibel steps, 0 = unity; rebuilds the amplitude tables.
  void SetVolume(int32_t volume);
  // The output curve; rebuilds the amplitude tables. A music player's choice by the file's
  // chip; the board never calls it (its PSGs stay kYm2149).
  void SetType(Type type);
  // The chips' own behaviour where the board's definition differs, for a music player that
  // plays a file as the chips would; the board never sets it. With it:
  //   - each channel sounds 0 or its level, never below 0: the chip's mixer gate (tone or
  //     tone off) AND (noise or noise off) opens the level, so with both off the channel
  //     sounds its level and volume writes alone make sound; a tone above half the output
  //     rate counts as open at half its level (chip_render.cpp);
  //   - the YM2149 curve is the chip's measured 32 levels; levels stay below
  //     kMaxAmplitude / 2, so that a channel's full level (twice its amplitude) fits;
  //   - the noise is ChipNoiseTable's 17-bit LFSR (131,071 steps), at its full rate from
  //     power-on;
  //   - envelope period 0 runs as period 1;
  //   - a tone period written below the count its counter has reached toggles at the next
  //     count; otherwise the counter goes on from its count. Writes with no step between
  //     them (a period's two bytes at one instant) count as one: the rule takes the period
  //     then in the registers;
  //   - the tone, noise and envelope counters and the noise register run all the time, while
  //     the PSG is silent and whether or not a channel listens.
  // Set it before SetClock; it rebuilds the amplitude tables and the steps.
  void SetChipTrue(bool chip_true);
  // Board reset: the register writes of power-on, counters and tables untouched.
  void Reset();
  // Adds count frames of output into frames, on the sides that the routing selects: four
  // sub-samples a frame, averaged.
  void Mix(StereoFrame* frames, int32_t count);
  // As Mix, from the same counters and registers, but each channel apart into sink, block by
  // block (PsgSink says how), for an output stage that places, filters or converts the
  // channels itself. False, with nothing rendered and no counter moved, while nothing can sound
  // (every level 0 without the envelope, every tone and noise off), as Mix then adds nothing;
  // with the chips' behaviour the counters still run then.
  bool Render(PsgSink& sink, int32_t count);
  // The whole state as bytes (common/state_bytes.h): registers, counters and positions, the
  // clock's bases and the settings (volume, curve, the chips' behaviour, channel mask, routing).
  std::vector<uint8_t> Save() const;
  // Takes a state that Save made. A damaged, truncated or foreign one is refused (false) and
  // the Psg stays as it was. Steps and tables are recomputed from what was taken.
  bool Restore(const uint8_t* data, size_t size);
  // Bit 0: add the output to the left side; bit 1: to the right side.
  void SetRouting(uint32_t routing) { routing_ = routing; }
  // Bits 0-2: channels A-C may sound; a clear bit holds that channel at amplitude 0. A music
  // player's per-voice mute; the board never calls it (its mask stays 63).
  void SetChannelMask(uint32_t mask);

 private:
  using ChannelRun = psg_render::ChannelRun;
  static constexpr uint32_t kRegisterCount = psg_render::kRegisterCount;
  static constexpr uint32_t kChannels = psg_render::kChannels;
  static constexpr uint32_t kLevels = psg_render::kLevels;
  static constexpr uint32_t kShapes = psg_render::kShapes;
  static constexpr uint32_t kEnvelopeEntries = psg_render::kEnvelopeEntries;

  // The policies: the board's (board_render.cpp) and the chips' (chip_render.cpp).
  void MixBoard(StereoFrame* frames, int32_t count);
  void MixChip(StereoFrame* frames, int32_t count);
  bool RenderBoard(PsgSink& sink, int32_t count);
  bool RenderChip(PsgSink& sink, int32_t count);
  // What both policies share (channel_render.h), with the policy's gate and values.
  template <class Policy>
  void MixWith(StereoFrame* frames, int32_t count);
  template <class Policy>
  bool RenderWith(PsgSink& sink, int32_t count);
  // Fills runs_ from the registers unless it is prepared; true when some channel follows the
  // envelope.
  template <class Policy>
  bool PrepareChannels();
  // Renders subs sub-samples of every channel into sink and advances the counters. A sink that
  // times changes gets runs wherever the noise allows them, however short they are.
  template <class Policy, class Sink>
  void RenderBlock(Sink& sink, bool any_envelope, uint32_t subs);
  // Channel c's part of a block, into sink.
  template <class Policy, class Sink>
  void RenderChannel(Sink& sink, uint32_t c, uint32_t subs);
  // The chip's noise and envelope positions after a block of subs sub-samples.
  template <class Policy>
  void AdvanceCounters(bool any_envelope, uint32_t subs);
  // Mix for 1 to kShortFrames frames: an emulator asks for a frame or two before each write.
  static constexpr int32_t kShortFrames = 8;
  template <class Policy>
  void MixShort(StereoFrame* frames, int32_t count, bool any_envelope);
  // The board's Mix of a call in which no channel changes: each frame gets steady_sum_, and the
  // counters are left to CatchUp.
  bool MixSteady(StereoFrame* frames, int32_t count);
  // Moves the counters on by the sub-samples MixSteady left pending.
  void CatchUp();
  // Before a register, the clock or the volume changes: the counters caught up, and the call
  // after prepares anew.
  void Unprepare();
  // Adds sums_'s first count frames into frames on the routing's sides and clears them.
  void AddSums(StereoFrame* frames, int32_t count);
  // Nothing can sound: every level 0 without the envelope, every tone and noise off.
  bool Silent() const;
  // Frames a block may hold: with the chip's noise, no more than ChipNoiseTable::kSlack noise
  // steps, so that a block reads its noise without wrapping.
  int32_t BlockFrames() const;
  // The chip's noise: noise_pos_ counted on from noise_table_'s word, brought back to the
  // word of its step (modulo the LFSR's period) and a position within the first 32 steps.
  void RebaseChipNoise();
  // The chip's period change for channel: its counter had counted to the same fraction of
  // old_period as tone_phase_ is of a half-period; the new step is already set.
  void ChangeTonePeriod(uint32_t channel, uint32_t old_period);
  // With the chips' behaviour: the period changes written since the last step, each against
  // the period its channel had then.
  void ApplyPeriodWrites();
  // With the chips' behaviour, count frames of a silent PSG: every counter moves on.
  void RunSilent(int32_t count);
  void UpdateToneStep(uint32_t channel);
  void UpdateNoiseStep();
  uint32_t TonePeriod(uint32_t channel) const;
  void UpdateEnvelopeStep();
  void UpdateFixedAmp(uint32_t channel);
  void BuildEnvelopeTable();
  void WritePowerOnRegisters();
  void AdvanceEnvelopeByCall(int32_t count);

  uint8_t regs_[kRegisterCount] = {};
  uint32_t envelope_row_ = 0;  // row of envelope_table_ that register 13 selects
  int32_t fixed_amp_[kChannels] = {};
  uint32_t tone_phase_[kChannels] = {};
  uint32_t tone_step_[kChannels] = {};
  uint32_t envelope_pos_ = 0;
  uint32_t envelope_step_ = 0;
  uint32_t noise_pos_ = 0;
  uint32_t noise_step_ = 0;
  uint32_t tone_base_ = 0;      // clock * 2^22 / rate
  uint32_t envelope_base_ = 0;  // clock * 2^20 / rate
  uint32_t noise_base_ = 0;     // clock * 2^12 / rate
  // Bits 0-2: channels A-C may sound at all. Bits 3-5 are kept set, as the board's register
  // state defines the mask (63 from construction), though nothing reads them.
  uint32_t channel_mask_ = 63;
  uint32_t routing_ = 0;
  Type type_ = Type::kYm2149;
  int32_t volume_ = 0;  // the last SetVolume
  int32_t envelope_table_[kShapes][kEnvelopeEntries] = {};  // amplitudes, not levels
  int32_t volume_table_[kLevels] = {};                      // entries 0 and 1 are always 0
  const uint32_t* noise_table_ = nullptr;                   // NoiseTable::Get().words
  bool chip_true_ = false;
  uint32_t noise_word_ = 0;  // with chip_true_: the ChipNoiseTable word noise_table_ is at
  // With chip_true_: bit c, channel c's period was written since the last step, when it was
  // period_before_[c].
  uint32_t period_written_ = 0;
  uint32_t period_before_[kChannels] = {};
  // What a call prepares, kept for the next (prepared_) until a register, the clock or the
  // volume changes: a call of one frame then costs little more than a frame of a long one.
  bool prepared_ = false;
  bool any_envelope_ = false;
  bool silent_ = false;  // Silent()
  ChannelRun runs_[kChannels] = {};
  // With the board's Mix: sub-samples through which no channel changes (0 unless every channel's
  // runs carried over), what the channels then sound together, and the sub-samples MixSteady
  // mixed that the counters, phases and runs have not yet moved by.
  uint32_t steady_left_ = 0;
  int32_t steady_sum_ = 0;
  uint32_t pending_ = 0;
  // Mix's frames as it sums them, four sub-samples of three channels a frame; all 0 between
  // calls, each entry cleared as it is taken, so that no call has to clear a block first.
  int32_t sums_[PsgSink::kBlockFrames] = {};
};
