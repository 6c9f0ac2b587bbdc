// YM2151-compatible FM synthesizer ("OPM"): eight channels of four operators, LFO, noise,
// stereo routing and two timers (OpmTimer, a member). Register map, ch = address bits 0-2:
//
//   0x01        ------x-  LFO reset: the LFO restarts at step 0; while the bit is held its
//                         phase keeps moving, but channels are rendered without LFO
//   0x08        -xxxx---  key on: bit 6 C2, bit 5 M2, bit 4 C1, bit 3 M1
//               -----xxx  channel
//   0x0F        x-------  noise enable (replaces operator C2 of channel 8)
//               ---xxxxx  noise frequency NFRQ
//   0x10-0x14   timers and CSM, see opm_timer.h
//   0x18        xxxx----  LFO frequency, octave   ----xxxx  LFO frequency, mantissa
//   0x19        x-------  1: PMD, 0: AMD          -xxxxxxx  modulation depth
//   0x1B        ------xx  LFO waveform: 0 saw, 1 square, 2 triangle, 3 noise
//   0x20-0x27   xx------  pan R/L, --xxx--- feedback, -----xxx algorithm
//   0x28-0x2F   -xxx----  octave, ----xxxx note (key code KC)
//   0x30-0x37   xxxxxx--  key fraction KF
//   0x38-0x3F   -xxx----  PMS, ------xx AMS
//
// Operator registers: slot = address bits 3-4 (M1, M2, C1, C2), group = bits 5-7.
//   0x40-0x5F   -xxx----  DT1, ----xxxx MUL
//   0x60-0x7F   -xxxxxxx  total level TL (CSM on: latched until the next attack)
//   0x80-0x9F   xx------  key scale KS, ---xxxxx attack rate AR
//   0xA0-0xBF   x-------  AM enable, ---xxxxx first decay rate D1R
//   0xC0-0xDF   xx------  DT2, ---xxxxx second decay rate D2R
//   0xE0-0xFF   xxxx----  sustain level D1L, ----xxxx release rate RR
//
// Nothing reads back except the status byte (status()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fm/fm_channel.h"
#include "fm/fm_chip_params.h"
#include "fm/opm_timer.h"
#include "vyx/stereo_frame.h"

class OpmChip {
 public:
  OpmChip();
  // Channels, operators and the timer point into their chip: a copy points them at itself, so
  // that it runs on independently of the original.
  OpmChip(const OpmChip& other);
  OpmChip& operator=(const OpmChip& other);

  // SetRate, Reset, unity volume. Always true: the chip's defined operations keep the result.
  bool Init(uint32_t clock, uint32_t rate);
  // clock in Hz, rate in samples per second. A rate of 0 is ignored (the previous rate stays
  // in force). Always true, as Init.
  bool SetRate(uint32_t clock, uint32_t rate);
  void Reset();
  void Write(uint32_t address, uint32_t data);
  // The chip-true variant (the board never sets it; the player's chips mode does): pitch from
  // the chip's own phase-step table, DT2 and vibrato as steps of the note position before the
  // look-up, vibrato linear in the LFO's waveform, rates 60-63 no faster than 60, and the mix
  // saturating at 16 bits and passing through the chip's floating-point DAC (10-bit mantissa).
  // Kept through Init and Reset.
  void SetChipTrue(bool on);
  // Half-decibel steps, 0 = unity, at most +20 (10 dB); -192 and below are silent.
  void SetVolume(int32_t setting);
  // Adds count frames of output into frames.
  void Mix(StereoFrame* frames, int32_t count);

  // The whole state, every field that affects the frames to come, in the cores' common form
  // (common/state_bytes.h, magic "OPMS"): registers, operators' phases and envelopes, LFO, noise, timers, the clock and
  // rate the chip runs at, the volume and the variant. A rate the host has changed since is
  // set again with SetRate after a load. The board's noise waveform of the LFO draws from the
  // C library's rand(), whose sequence is no part of the state; the chip-true variant's comes
  // from the chip's LFSR, which the LFO's sample count gives.
  std::vector<uint8_t> SaveState() const;
  // Refuses (false, the chip unchanged) a state of another version, a damaged or truncated
  // one, and one with any field outside the range the chip can hold.
  bool LoadState(const uint8_t* data, size_t size);

  // The status byte: bit 0 timer A flag, bit 1 timer B flag.
  uint32_t status() const { return timer_.status(); }
  // Counting timers (off by default: the board's timers never expire, see opm_timer.h).
  void SetTimersCounting(bool on) { timer_.SetCounting(on); }
  // The timers' time without sound, for a board whose FM plays on a real chip.
  void AdvanceTimers(int32_t frames) { timer_.Advance(frames); }

 private:
  static constexpr int kChannels = 8;
  static constexpr int32_t kUnityVolume = 16384;
  static constexpr int32_t kBlock = 256;  // frames rendered channel by channel at a time
  static constexpr int32_t kShortMix = 4;  // fewer frames are mixed frame by frame

  // Points channels, operators and the timer at this chip.
  void Bind();
  // The fields of SaveState after the header; Load leaves the reader failed on a bad field.
  void Save(StateWriter& out) const;
  void Load(StateReader& in);
  // The timer's hook for an expired timer A: in CSM mode every operator is keyed off and on
  // again. The board passes no FM interrupt on, so the interrupt line has no hook.
  static void TimerAOverflow(void* owner);

  // Register groups: 0x01-0x1F, key on (0x08), 0x20-0x3F, 0x40-0xFF.
  void WriteControl(uint32_t address, uint32_t data);
  void WriteKeys(uint32_t data);
  void WriteChannel(uint32_t address, uint32_t data);
  void WriteOperator(uint32_t address, uint32_t data);

  // The LFO's indexes of a waveform value (amp 0-255, pitch -128..127), stored in params_.
  void SetLfoIndexes(int32_t amp, int32_t pitch);
  // The LFO after samples more steps: the phase moves every eighth step.
  void AdvanceLfo(uint32_t samples);
  void LfoStep();
  // count LFO steps with nothing listening: the state each step leaves, worked out directly
  // where the waveform allows it.
  void SkipLfo(int32_t count);
  // Mix's sound, without the timers.
  void MixSound(StereoFrame* frames, int32_t count);
  // The channels' Refresh bits into word_, and the sounding channels into sounding_.
  void Gather();
  // count LFO steps, with the FmLfoKey of each step.
  void LfoBlock(int32_t count, uint64_t* key);
  // run[i]: frames from i on, within n, with the same LFO key.
  static void LfoRuns(int32_t n, const uint64_t* key, int32_t* run);
  uint32_t NoiseStep();
  // The chip-true LFO noise: the low byte of the chip's 17-bit LFSR (seeded with 1 at power-on;
  // the new bit, bit 0 XOR bit 3, enters at bit 16), shifted twice a chip sample.
  int32_t LfsrByte();
  static constexpr uint32_t kLfsrSteps = 131071;

  // Bit 0 of channel ch's two bits in Mix's word: the channel is active.
  static bool Active(uint32_t word, int ch) { return (word >> (2 * (kChannels - 1 - ch))) & 1; }
  // Bit p set: some active channel has pan p.
  uint32_t PansUsed(uint32_t word) const;
  template <bool kLfo>
  void MixFrames(StereoFrame* frames, int32_t count, uint32_t word);
  template <bool kLfo>
  void MixFramesShort(StereoFrame* frames, int32_t count);
  // n frames of every active channel into the sum of its pan.
  template <bool kLfo>
  void RenderChannels(int32_t (*sums)[kBlock], int32_t n, uint32_t word, const FmLfoBlock& lfo,
                      const FmTables& t);
  // Channel 8 with its operator C2 replaced by noise, frame by frame.
  template <bool kLfo>
  void RenderNoiseChannel(int32_t* sum, int32_t n, const FmLfoBlock& lfo, const FmTables& t);
  // The sums, clamped and scaled by the volume, added into n frames.
  void AddSums(StereoFrame* out, int32_t n, const int32_t (*sums)[kBlock], bool only_both) const;
  template <bool kChipTrue>
  void AddSumsOf(StereoFrame* out, int32_t n, const int32_t (*sums)[kBlock], bool only_both) const;

  int32_t volume_factor_ = 0;     // 16384 = unity
  uint32_t rate_ratio_ = 0;       // (clock / 64) / rate, x128, rounded
  uint8_t test_register_ = 0;
  uint8_t lfo_frequency_ = 0;
  uint32_t lfo_increment_ = 0;    // LFO phase advance per 8 output samples
  uint32_t lfo_phase_ = 0;        // bits 16-23: step of the 256-step cycle
  uint32_t lfo_prev_phase_ = 0xFFFFFFFF;
  uint32_t lfo_sample_count_ = 0;
  uint32_t lfo_waveform_ = 0;
  // The waveform step whose values params_ holds (a cache, no state): kNoLfoStep after a
  // change of waveform, depth or variant.
  static constexpr uint32_t kNoLfoStep = 256;
  uint32_t lfo_indexed_step_ = kNoLfoStep;
  uint32_t pmd_ = 0;
  uint32_t amd_ = 0;
  uint8_t noise_control_ = 0;
  int32_t noise_counter_ = 0;     // x128 internal samples; kept within 0..4096
  uint32_t noise_shift_ = 0;      // 16-bit shift register
  uint8_t key_code_[kChannels] = {};
  uint8_t key_fraction_[kChannels] = {};
  uint8_t pan_[kChannels] = {};   // bit 0 left, bit 1 right
  // LfsrByte's register after lfsr_steps_ shifts (modulo kLfsrSteps): a cache, no state.
  uint32_t lfsr_ = 1;
  uint32_t lfsr_steps_ = 0;
  // As Gather left them (params_.regather asks for it again): two Refresh bits a channel,
  // channel 1 at the top; the sounding channels but a noise channel 8, in order, with their
  // pans; and whether channel 8 sounds with noise. A copy gathers its own.
  uint32_t word_ = 0;
  FmChannel* sounding_[kChannels] = {};
  uint8_t sounding_pan_[kChannels] = {};
  int32_t sounding_count_ = 0;
  bool noise_sounding_ = false;
  FmChannel channels_[kChannels];
  FmChipParams params_;
  OpmTimer timer_;
};
