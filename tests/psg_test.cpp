#include "psg/psg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>
#include <vector>

#include "common/le_bytes.h"
#include "common/state_bytes.h"
#include "psg/noise_table.h"
#include "tests/psg_registers.h"

namespace {

constexpr uint32_t kBoardClock = 998400;
constexpr uint32_t kRate = 44100;
constexpr int32_t kFull = 5461;  // level 15 at volume 0
// The loudest amplitude: twelve of it (three channels, four sub-samples) fit in 32 bits.
constexpr int32_t kMaxAmplitude = INT32_MAX / 12;

// Renders count frames routed to both sides into a zeroed buffer; returns the left side.
std::vector<int32_t> Render(Psg& psg, int32_t count) {
  std::vector<StereoFrame> frames(count, StereoFrame{0, 0});
  psg.SetRouting(3);
  psg.Mix(frames.data(), count);
  std::vector<int32_t> left;
  for (const StereoFrame& f : frames) {
    EXPECT_EQ(f.left, f.right);
    left.push_back(f.left);
  }
  return left;
}

// The Psg's state as Save writes it, field by field after the 12-byte header.
struct Seen {
  uint8_t regs[16];
  uint32_t tone_phase[3];
  uint32_t noise_pos;
  uint32_t noise_word;
  uint32_t envelope_pos;
  bool noise_halved;
  uint32_t tone_base;
  uint32_t envelope_base;
  uint32_t noise_base;
  int32_t volume;
  uint8_t type;
  bool chip_true;
  uint8_t channel_mask;
  uint8_t routing;
};
constexpr size_t kEnvelopePosAt = 12 + 16 + 12 + 8;  // where Save puts envelope_pos

Seen Look(const Psg& psg) {
  const std::vector<uint8_t> bytes = psg.Save();
  EXPECT_EQ(bytes.size(), 90u);  // then the periods written since the last step: 13 bytes
  const uint8_t* p = bytes.data() + 12;
  Seen seen{};
  for (uint8_t& reg : seen.regs) reg = *p++;
  auto u32 = [&p] {
    const uint32_t v = Le32(p);
    p += 4;
    return v;
  };
  for (uint32_t& phase : seen.tone_phase) phase = u32();
  seen.noise_pos = u32();
  seen.noise_word = u32();
  seen.envelope_pos = u32();
  seen.noise_halved = *p++ != 0;
  seen.tone_base = u32();
  seen.envelope_base = u32();
  seen.noise_base = u32();
  seen.volume = static_cast<int32_t>(u32());
  seen.type = *p++;
  seen.chip_true = *p++ != 0;
  seen.channel_mask = *p++;
  seen.routing = *p++;
  return seen;
}

// One frame of a copy of psg, routed to both sides: what the copy's counters moved and what
// it added. Steps are measured this way (four sub-samples a frame), as a step below 2^30.
struct Probe {
  Psg after;
  int32_t value;
};
Probe OneFrame(Psg copy) {
  StereoFrame frame{0, 0};
  copy.SetRouting(3);
  copy.Mix(&frame, 1);
  return {copy, frame.left};
}

uint32_t ToneStep(const Psg& psg, uint32_t c) {
  Psg copy = psg;
  copy.SetRegister(7, 0x3F & ~(1u << c));  // a tone on: the frame renders
  return (Look(OneFrame(copy).after).tone_phase[c] - Look(psg).tone_phase[c]) / 4;
}

uint32_t NoiseStep(const Psg& psg) {
  Psg copy = psg;
  copy.SetRegister(7, 0x37);  // noise A on
  const Seen before = Look(copy);
  const Seen after = Look(OneFrame(copy).after);
  // The chips' noise counts on from its table word.
  const uint64_t from = uint64_t{before.noise_word} * (32u << 17) + before.noise_pos;
  const uint64_t to = uint64_t{after.noise_word} * (32u << 17) + after.noise_pos;
  return static_cast<uint32_t>((to - from) / 4);
}

uint32_t EnvelopeStep(const Psg& psg) {
  Psg copy = psg;
  copy.SetRegister(8, 0x10);
  copy.SetRegister(13, 8);  // from entry 0
  return Look(OneFrame(copy).after).envelope_pos / 4;
}

// A channel's amplitude alone, tone and noise off: the board's sounds -amp, the chips' 2 amp.
int32_t Amplitude(Psg copy, uint32_t c, uint32_t level_register) {
  copy.SetRegister(7, 0x3F);
  for (uint32_t k = 0; k < 3; ++k) copy.SetRegister(8 + k, k == c ? level_register : 0);
  const int32_t v = OneFrame(copy).value;
  return Look(copy).chip_true ? v / 2 : -v;
}

int32_t FixedAmp(const Psg& psg, uint32_t c) {
  return Amplitude(psg, c, psg.GetRegister(8 + c) & 0x0Fu);
}

// bytes with the width-byte field at `at` set to value, the checksum made to fit.
std::vector<uint8_t> Patched(std::vector<uint8_t> bytes, size_t at, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
  const uint32_t sum = StateChecksum(bytes.data(), bytes.size() - 4);
  for (int i = 0; i < 4; ++i) bytes[bytes.size() - 4 + i] = static_cast<uint8_t>(sum >> (8 * i));
  return bytes;
}

// Entry of shape's envelope row, as channel A sounds it with the position set there.
int32_t EnvelopeEntry(const Psg& psg, uint32_t shape, uint32_t entry) {
  Psg copy = psg;
  copy.SetRegister(13, shape);
  copy.SetRegister(11, 0xFF);  // the slowest envelope: the frame stays on its entry
  copy.SetRegister(12, 0xFF);
  const std::vector<uint8_t> bytes = Patched(copy.Save(), kEnvelopePosAt, entry << 24, 4);
  EXPECT_TRUE(copy.Restore(bytes.data(), bytes.size()));
  return Amplitude(copy, 0, 0x10);
}

// volume_table entry: the rising ramp of shape 13 holds entries 0-31.
int32_t VolumeEntry(const Psg& psg, uint32_t level) { return EnvelopeEntry(psg, 13, level); }

TEST(PsgRegisters, PowerOnStateAndResetKeepCountersAndRouting) {
  Psg psg;
  for (uint32_t i = 0; i < 16; ++i) {
    EXPECT_EQ(psg.GetRegister(i), (i == 7 || i >= 14) ? 255 : 0) << "register " << i;
  }
  EXPECT_EQ(Look(psg).routing, 0u);
  EXPECT_EQ(Look(psg).channel_mask, 63u);

  psg.SetClock(kBoardClock, kRate);
  for (uint32_t i = 0; i < 16; ++i) psg.SetRegister(i, 0x1A);
  psg.SetRegister(7, 0x30);
  Render(psg, 10);
  const uint32_t phase = Look(psg).tone_phase[0];
  const uint32_t noise_pos = Look(psg).noise_pos;
  ASSERT_NE(phase, 0u);
  ASSERT_NE(noise_pos, 0u);

  psg.Reset();
  for (uint32_t i = 0; i < 16; ++i) {
    EXPECT_EQ(psg.GetRegister(i), (i == 7 || i >= 14) ? 255 : 0) << "register " << i;
  }
  EXPECT_EQ(Look(psg).tone_phase[0], phase);
  EXPECT_EQ(Look(psg).noise_pos, noise_pos);
  EXPECT_EQ(Look(psg).routing, 3u);
  EXPECT_EQ(ToneStep(psg, 1), Look(psg).tone_base);
  EXPECT_EQ(NoiseStep(psg), Look(psg).noise_base);
  EXPECT_EQ(EnvelopeStep(psg), 2 * Look(psg).envelope_base);
  EXPECT_EQ(FixedAmp(psg, 2), 0);
  EXPECT_EQ(Look(psg).envelope_pos, 0u);
  EXPECT_EQ((Look(psg).regs[13] & 15u), 0u);
}

TEST(PsgRegisters, BytesAreKeptWholeButOnlyCountingBitsEnterPeriods) {
  Psg psg;
  psg.SetClock(kBoardClock, kRate);
  psg.SetRegister(1, 0xFF);
  psg.SetRegister(0, 0x1234);  // wider than a byte: only 0x34 is stored
  EXPECT_EQ(psg.GetRegister(1), 0xFF);
  EXPECT_EQ(psg.GetRegister(0), 0x34);
  EXPECT_EQ(ToneStep(psg, 0), Look(psg).tone_base / 0xF34);

  SetTonePeriod(psg, 1, 0x1000);  // the 13th bit drops out: period 0, which acts as 1
  EXPECT_EQ(ToneStep(psg, 1), Look(psg).tone_base);
  psg.SetRegister(6, 0x21);  // noise period 1
  EXPECT_EQ(NoiseStep(psg), Look(psg).noise_base);
  psg.SetRegister(6, 0);
  EXPECT_EQ(NoiseStep(psg), Look(psg).noise_base);
  psg.SetRegister(6, 3);
  EXPECT_EQ(NoiseStep(psg), Look(psg).noise_base / 3);
  SetEnvelopePeriod(psg, 0x0102);
  EXPECT_EQ(EnvelopeStep(psg), Look(psg).envelope_base / 0x102);
  SetEnvelopePeriod(psg, 0);
  EXPECT_EQ(EnvelopeStep(psg), 2 * Look(psg).envelope_base);
}

TEST(PsgRegisters, IndexesFrom16AreIgnoredAndReadsUseTheLowFourBits) {
  Psg psg;
  psg.SetClock(kBoardClock, kRate);
  psg.SetRegister(2, 0x42);
  psg.SetRegister(8, 0x10);
  psg.SetRegister(13, 14);
  Render(psg, 3);
  const uint32_t envelope_pos = Look(psg).envelope_pos;
  uint8_t before[16];
  for (uint32_t i = 0; i < 16; ++i) before[i] = psg.GetRegister(i);
  for (uint32_t index : {16u, 0x12u, 0x1Du, 0x80000006u, UINT32_MAX}) psg.SetRegister(index, 0x09);
  for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(psg.GetRegister(i), before[i]) << "register " << i;
  EXPECT_EQ(ToneStep(psg, 1), Look(psg).tone_base / 0x42);
  EXPECT_EQ(NoiseStep(psg), Look(psg).noise_base / 2);
  ASSERT_NE(envelope_pos, 0u);
  EXPECT_EQ(Look(psg).envelope_pos, envelope_pos);
  EXPECT_EQ(psg.GetRegister(0x12), 0x42);
  EXPECT_EQ(psg.GetRegister(UINT32_MAX), 255);
}

TEST(PsgClock, BoardClockBasesAndSteps) {
  Psg psg;
  SetTonePeriod(psg, 0, 6);
  SetTonePeriod(psg, 1, 5);
  psg.SetRegister(6, 4);
  // Steps written before the first clock are recomputed from the registers.
  psg.SetClock(kBoardClock, kRate);
  EXPECT_EQ(Look(psg).tone_base, 94956759u);
  EXPECT_EQ(Look(psg).envelope_base, 23739189u);
  EXPECT_EQ(Look(psg).noise_base, 92731u);
  EXPECT_EQ(ToneStep(psg, 0), 15826126u);
  EXPECT_EQ(ToneStep(psg, 1), 18991351u);
  EXPECT_EQ(ToneStep(psg, 2), Look(psg).tone_base);
  // The clock stores half the noise step; writing register 6 again gives the full one.
  EXPECT_EQ(NoiseStep(psg), 92731u / 4 / 2);
  psg.SetRegister(6, 4);
  EXPECT_EQ(NoiseStep(psg), 92731u / 4);
}

TEST(PsgClock, ZeroRateChangesNothingAndLargeRatiosSaturate) {
  Psg psg;
  psg.SetClock(kBoardClock, kRate);
  psg.SetRegister(6, 4);
  psg.SetClock(3993600, 0);
  EXPECT_EQ(Look(psg).tone_base, 94956759u);
  EXPECT_EQ(NoiseStep(psg), 92731u / 4);

  psg.SetClock(1000000, 1);
  EXPECT_EQ(Look(psg).tone_base, UINT32_MAX);
  EXPECT_EQ(Look(psg).envelope_base, UINT32_MAX);
  EXPECT_EQ(Look(psg).noise_base, 4096000000u);
  psg.SetClock(UINT32_MAX, 1);
  EXPECT_EQ(Look(psg).noise_base, UINT32_MAX);
  psg.SetClock(0, kRate);
  EXPECT_EQ(Look(psg).tone_base, 0u);
  EXPECT_EQ(ToneStep(psg, 0), 0u);
}

TEST(PsgVolume, UnityMuteAndFixedAmplitudes) {
  const int32_t unity[32] = {0,    0,    35,   42,   50,   60,   71,   85,   101,  120,  143,
                             170,  202,  241,  287,  341,  405,  482,  574,  682,  811,  965,
                             1148, 1365, 1623, 1930, 2296, 2730, 3247, 3861, 4592, 5461};
  Psg psg;
  for (uint32_t i = 0; i < 32; ++i) EXPECT_EQ(VolumeEntry(psg, i), unity[i]) << "entry " << i;
  psg.SetRegister(8, 0x1F);  // follows the envelope, still keeps its fixed amplitude
  psg.SetRegister(9, 0x07);
  EXPECT_EQ(FixedAmp(psg, 0), 5461);
  EXPECT_EQ(FixedAmp(psg, 1), 341);

  psg.SetVolume(-200);
  for (uint32_t i = 0; i < 32; ++i) EXPECT_EQ(VolumeEntry(psg, i), 0);
  EXPECT_EQ(FixedAmp(psg, 0), 0);
  EXPECT_EQ(EnvelopeEntry(psg, 13, 63), 0);
  psg.SetVolume(0);
  EXPECT_EQ(FixedAmp(psg, 1), 341);
  EXPECT_EQ(EnvelopeEntry(psg, 13, 63), 5461);
}

TEST(PsgVolume, ExtremeSettingsSaturateAndMixWithoutOverflow) {
  Psg psg;
  psg.SetVolume(INT32_MIN);
  EXPECT_EQ(VolumeEntry(psg, 31), 0);
  psg.SetVolume(INT32_MAX);
  for (uint32_t i = 2; i < 32; ++i) EXPECT_EQ(VolumeEntry(psg, i), kMaxAmplitude);

  // Three channels at the loudest level, all low: the twelve contributions just fit.
  psg.SetClock(kBoardClock, kRate);
  for (uint32_t r = 8; r <= 10; ++r) psg.SetRegister(r, 15);
  psg.SetRegister(7, 0x38);
  SetTonePeriod(psg, 0, 1);  // above half the rate: counts as off
  SetTonePeriod(psg, 1, 1);
  SetTonePeriod(psg, 2, 1);
  StereoFrame frame{INT32_MIN + 5, 7};
  psg.SetRouting(3);
  psg.Mix(&frame, 1);
  const int32_t v = -3 * kMaxAmplitude;
  EXPECT_EQ(frame.right, 7 + v);
  // The host's buffer wraps at 32 bits rather than overflowing.
  EXPECT_EQ(frame.left, static_cast<int32_t>(0x80000005u + static_cast<uint32_t>(v)));
}

TEST(PsgEnvelope, RowsHoldTheRampsOfEachShape) {
  enum Ramp { kSilent, kRise, kFall, kHigh };
  const Ramp halves[16][2] = {{kFall, kSilent}, {kFall, kSilent}, {kFall, kSilent},
                              {kFall, kSilent}, {kRise, kSilent}, {kRise, kSilent},
                              {kRise, kSilent}, {kRise, kSilent}, {kFall, kFall},
                              {kFall, kSilent}, {kFall, kRise},   {kFall, kHigh},
                              {kRise, kRise},   {kRise, kHigh},   {kRise, kFall},
                              {kRise, kSilent}};
  Psg psg;
  psg.SetVolume(3);
  for (uint32_t shape = 0; shape < 16; ++shape) {
    for (uint32_t i = 0; i < 64; ++i) {
      const uint32_t k = i % 32;
      const Ramp ramp = halves[shape][i / 32];
      const uint32_t level = ramp == kSilent ? 0 : ramp == kRise ? k : ramp == kFall ? 31 - k : 31;
      EXPECT_EQ(EnvelopeEntry(psg, shape, i), VolumeEntry(psg, level))
          << "shape " << shape << " entry " << i;
    }
  }
}

TEST(PsgEnvelope, ShapesPlayOnceOrLoop) {
  const std::pair<uint32_t, std::function<uint32_t(uint32_t)>> shapes[] = {
      {0, [](uint32_t f) { return f < 32 ? 31 - f : 0; }},
      {8, [](uint32_t f) { return 31 - f % 32; }},
      {10, [](uint32_t f) { return f % 64 < 32 ? 31 - f % 64 : f % 64 - 32; }},
      {13, [](uint32_t f) { return f < 32 ? f : 31; }},
      {14, [](uint32_t f) { return f % 64 < 32 ? f % 64 : 63 - f % 64; }},
  };
  for (const auto& [shape, level_of_frame] : shapes) {
    Psg psg;
    psg.SetClock(16, 1);  // envelope_base 2^24
    SetEnvelopePeriod(psg, 4);  // 2^22 a sub-sample: one entry a frame
    psg.SetRegister(8, 0x10);   // channel A follows the envelope; tones and noises stay off
    psg.SetRegister(13, shape);
    const std::vector<int32_t> out = Render(psg, 200);
    for (uint32_t f = 0; f < out.size(); ++f) {
      ASSERT_EQ(out[f], -VolumeEntry(psg, level_of_frame(f)))
          << "shape " << shape << " frame " << f;
    }
  }
}

TEST(PsgEnvelope, OverrunCarriesIntoTheLoopStartAndRewriteRestarts) {
  Psg psg;
  psg.SetClock(48, 1);  // envelope_base 3 * 2^24
  SetEnvelopePeriod(psg, 1);
  psg.SetRegister(8, 0x10);
  psg.SetRegister(13, 13);
  Render(psg, 6);  // 24 sub-samples of 3 entries; entry 66 becomes 34
  EXPECT_EQ(Look(psg).envelope_pos, 40u << 24);
  psg.SetRegister(13, 13);
  EXPECT_EQ(Look(psg).envelope_pos, 0u);
  psg.SetRegister(13, 14);
  Render(psg, 6);  // entry 66 becomes 2
  EXPECT_EQ(Look(psg).envelope_pos, 8u << 24);
}

TEST(PsgEnvelope, ToneAndNoiseModesAdvanceOncePerCall) {
  Psg psg;
  psg.SetClock(16, 1);
  SetEnvelopePeriod(psg, 4);  // one entry a frame
  psg.SetRegister(8, 15);
  psg.SetRegister(7, 0x3E);
  psg.SetRegister(13, 13);
  Render(psg, 10);
  EXPECT_EQ(Look(psg).envelope_pos, 10u << 24);
  Render(psg, 60);  // entry 70: past the end once, into the second half
  EXPECT_EQ(Look(psg).envelope_pos, 38u << 24);
  psg.SetRegister(13, 14);
  Render(psg, 70);
  EXPECT_EQ(Look(psg).envelope_pos, 6u << 24);

  // Leave low bits in the position through the envelope mode, then clear them with count 0.
  psg.SetClock(kBoardClock, kRate);
  SetEnvelopePeriod(psg, 1);
  psg.SetRegister(8, 0x1F);
  Render(psg, 1);
  psg.SetRegister(8, 15);
  const uint32_t pos = Look(psg).envelope_pos;
  const uint32_t phase = Look(psg).tone_phase[0];
  ASSERT_NE(pos & 0xFF, 0u);
  for (int32_t count : {0, -5, INT32_MIN, 7}) {
    StereoFrame frame{11, 12};
    psg.Mix(count == 7 ? nullptr : &frame, count);  // no buffer: no frames
    EXPECT_EQ(frame.left, 11);
    EXPECT_EQ(Look(psg).envelope_pos, pos & ~0xFFu) << "count " << count;
    EXPECT_EQ(Look(psg).tone_phase[0], phase);
  }
}

TEST(PsgMix, SilentRegistersReturnAtOnce) {
  Psg psg;
  psg.SetClock(kBoardClock, kRate);
  SetEnvelopePeriod(psg, 1);
  psg.SetRegister(8, 0x10);
  Render(psg, 1);
  psg.SetRegister(8, 0);  // registers 8-10 at 0, register 7 still 0xFF
  const uint32_t pos = Look(psg).envelope_pos;
  const uint32_t noise_pos = Look(psg).noise_pos;
  const uint32_t phase_a = Look(psg).tone_phase[0];
  const uint32_t phase_b = Look(psg).tone_phase[1];
  std::vector<StereoFrame> frames(100, StereoFrame{1, 2});
  psg.SetRouting(3);
  psg.Mix(frames.data(), 100);
  for (const StereoFrame& f : frames) ASSERT_TRUE(f.left == 1 && f.right == 2);
  EXPECT_EQ(Look(psg).envelope_pos, pos);
  EXPECT_EQ(Look(psg).noise_pos, noise_pos);
  EXPECT_EQ(Look(psg).tone_phase[0], phase_a);

  psg.SetRegister(7, 0x3E);  // tone A on: the loop runs, though everything is at level 0
  EXPECT_EQ(Render(psg, 100), std::vector<int32_t>(100, 0));
  EXPECT_EQ(Look(psg).tone_phase[0], phase_a + 400 * ToneStep(psg, 0));
  EXPECT_EQ(Look(psg).tone_phase[1], phase_b + 400 * ToneStep(psg, 1));
  EXPECT_EQ(Look(psg).noise_pos, noise_pos);
  psg.SetRegister(7, 0x1F);  // noise C alone also runs the loop
  Render(psg, 1);
  EXPECT_EQ(Look(psg).noise_pos, noise_pos + 4 * NoiseStep(psg));
}

TEST(PsgMix, FramesAverageFourSubSamplesRoundingTowardZero) {
  Psg psg;
  psg.SetClock(16, 1);  // tone_base 2^26
  psg.SetRegister(8, 15);
  psg.SetRegister(7, 0x3E);  // tone A only
  // Period 16 moves the phase by a quarter of a half-period a frame; period 4 samples one frame
  // at four quarters, so the start phase picks the frame's pattern of tone bits.
  auto frame_from = [&psg](uint32_t quarter) {
    SetTonePeriod(psg, 0, 16);
    Render(psg, static_cast<int32_t>((quarter - Look(psg).tone_phase[0] / (1u << 24)) % 8));
    SetTonePeriod(psg, 0, 4);
    return Render(psg, 1)[0];
  };
  EXPECT_EQ(frame_from(5), 2730);    // 1, 1, 1, 0
  EXPECT_EQ(frame_from(7), -2730);   // 1, 0, 0, 0: -10922 / 4
  EXPECT_EQ(frame_from(6), 0);       // 1, 1, 0, 0
  EXPECT_EQ(frame_from(4), kFull);   // 1, 1, 1, 1
  EXPECT_EQ(frame_from(0), -kFull);  // 0, 0, 0, 0
}

TEST(PsgMix, ToneAboveHalfTheOutputRateIsOff) {
  Psg psg;
  psg.SetClock(kBoardClock, kRate);
  psg.SetRegister(8, 15);
  EXPECT_EQ(Render(psg, 8), std::vector<int32_t>(8, -kFull));  // tone and noise off: -amp
  psg.SetRegister(7, 0x3E);
  SetTonePeriod(psg, 0, 3);
  EXPECT_EQ(Render(psg, 8), std::vector<int32_t>(8, -kFull));
  SetTonePeriod(psg, 0, 6);
  EXPECT_NE(Render(psg, 8), std::vector<int32_t>(8, -kFull));

  // A step of exactly 2^24 still sounds; one more and it is off.
  Psg edge;
  edge.SetRegister(8, 15);
  edge.SetRegister(7, 0x3E);
  edge.SetClock(4, 1);
  EXPECT_EQ(Render(edge, 4), (std::vector<int32_t>{-kFull, kFull, -kFull, kFull}));
  edge.SetClock(16777217, 4194304);
  EXPECT_EQ(ToneStep(edge, 0), 0x1000001u);
  EXPECT_EQ(Render(edge, 4), std::vector<int32_t>(4, -kFull));
}

TEST(PsgMix, RoutingChoosesTheSides) {
  Psg psg;
  psg.SetClock(kBoardClock, kRate);
  psg.SetRegister(8, 15);  // a steady -5461
  const StereoFrame expected[4] = {{100, -100}, {100 - kFull, -100}, {100, -100 - kFull},
                                   {100 - kFull, -100 - kFull}};
  for (uint32_t routing = 0; routing < 4; ++routing) {
    StereoFrame frames[3] = {{100, -100}, {100, -100}, {100, -100}};
    psg.SetRouting(routing);
    psg.Mix(frames, 3);
    for (const StereoFrame& f : frames) {
      EXPECT_EQ(f.left, expected[routing].left) << "routing " << routing;
      EXPECT_EQ(f.right, expected[routing].right) << "routing " << routing;
    }
  }
}

TEST(PsgMix, NoiseReadsTheTableFromBitZeroAndOrsWithTheTone) {
  const uint32_t words[4] = {0x8FEC582E, 0x9C4A76B1, 0xD63B476B, 0x2D63CC76};
  auto noise_frame = [&words](uint32_t f) {  // one noise bit a sub-sample, from bit 0 up
    int32_t sum = 0;
    for (uint32_t bit = 4 * f; bit < 4 * f + 4; ++bit) {
      sum += (words[bit / 32] >> (bit % 32)) & 1 ? kFull : -kFull;
    }
    return sum / 4;
  };
  Psg psg;
  psg.SetClock(32, 1);  // noise_base 2^17, tone_base 2^27
  psg.SetRegister(6, 1);
  psg.SetRegister(8, 15);
  psg.SetRegister(7, 0x37);  // noise A only
  const std::vector<int32_t> out = Render(psg, 16);
  for (uint32_t f = 0; f < 16; ++f) EXPECT_EQ(out[f], noise_frame(f)) << "frame " << f;
  EXPECT_EQ(Look(psg).noise_pos, 64u << 17);

  // Tone A at a step of 2^24 is low in even frames and high in odd ones; ORed with the noise.
  SetTonePeriod(psg, 0, 8);
  psg.SetRegister(7, 0x36);
  ASSERT_EQ(Look(psg).tone_phase[0], 0u);
  const std::vector<int32_t> both = Render(psg, 16);
  for (uint32_t f = 0; f < 16; ++f) {
    EXPECT_EQ(both[f], f % 2 ? kFull : noise_frame(16 + f)) << "frame " << f;
  }

  // Tone mode leaves the noise alone; envelope mode moves it even with every noise off.
  psg.SetRegister(7, 0x3E);
  const uint32_t noise_pos = Look(psg).noise_pos;
  Render(psg, 5);
  EXPECT_EQ(Look(psg).noise_pos, noise_pos);
  psg.SetRegister(9, 0x10);
  Render(psg, 5);
  EXPECT_EQ(Look(psg).noise_pos, noise_pos + 20 * NoiseStep(psg));
}

TEST(NoiseTable, SharedWordsFollowTheShiftRegister) {
  const NoiseTable& table = NoiseTable::Get();
  EXPECT_EQ(table.words[0], 0x8FEC582Eu);
  EXPECT_EQ(table.words[1], 0x9C4A76B1u);
  EXPECT_EQ(table.words[2], 0xD63B476Bu);
  EXPECT_EQ(table.words[3], 0x2D63CC76u);
  // In the order generated (bit 31 of each word first), every bit is the XOR of the bits 17
  // and 15 places earlier.
  auto bit = [&table](uint32_t i) { return (table.words[i / 32] >> (31 - i % 32)) & 1; };
  for (uint32_t i = 0; i + 17 < NoiseTable::kWords * 32; ++i) {
    ASSERT_EQ(bit(i + 17), bit(i) ^ bit(i + 2)) << "bit " << i;
  }
  Psg first;
  Psg second;
  EXPECT_EQ(&NoiseTable::Get(), &table);
  EXPECT_EQ(table.words[0], 0x8FEC582Eu);
}

// The frames of one Mix call worked out sub-sample by sub-sample from the state before it,
// for comparison with the mixer's run-based rendering. Routing 3, channel mask 63.
std::vector<int32_t> ReferenceFrames(const Psg& psg, int32_t count) {
  const Seen seen = Look(psg);
  const uint32_t mixer = psg.GetRegister(7);
  const uint32_t* noise = NoiseTable::Get().words;
  uint32_t phase[3], step[3], tone_on[3], noise_on[3];
  int32_t amp[3];
  bool envelope[3], any_envelope = false;
  for (uint32_t c = 0; c < 3; ++c) {
    phase[c] = seen.tone_phase[c];
    step[c] = ToneStep(psg, c);
    amp[c] = FixedAmp(psg, c);
    tone_on[c] = (~mixer >> c) & 1 && step[c] <= 0x1000000 ? 1 : 0;
    noise_on[c] = (~mixer >> (3 + c)) & 1;
    envelope[c] = (psg.GetRegister(8 + c) & 0x10) != 0;
    any_envelope = any_envelope || envelope[c];
  }
  int32_t row[64];
  for (uint32_t e = 0; e < 64; ++e) row[e] = EnvelopeEntry(psg, psg.GetRegister(13) & 15u, e);
  const uint32_t envelope_step = EnvelopeStep(psg);
  const uint32_t noise_step = NoiseStep(psg);
  const uint32_t hold = (psg.GetRegister(13) & 0x0B) == 0x0A ? 0 : 0x20000000;
  uint32_t env_pos = seen.envelope_pos, noise_pos = seen.noise_pos;
  std::vector<int32_t> frames;
  for (int32_t i = 0; i < count; ++i) {
    int32_t sum = 0;
    for (int sub = 0; sub < 4; ++sub) {
      const int32_t env = row[env_pos >> 24];
      if (any_envelope) {
        env_pos += envelope_step;
        if (env_pos >= 0x40000000) env_pos = (env_pos | hold) & 0x3FFFFFFF;
      }
      const uint32_t bit = (noise[noise_pos >> 22] >> ((noise_pos >> 17) & 31)) & 1;
      noise_pos += noise_step;
      for (uint32_t c = 0; c < 3; ++c) {
        const int32_t a = envelope[c] ? env : amp[c];
        const bool high = ((phase[c] >> 26) & tone_on[c]) | (bit & noise_on[c]);
        sum += high ? a : -a;
        phase[c] += step[c];
      }
    }
    frames.push_back(sum / 4);
  }
  return frames;
}

TEST(PsgMix, CallsOfAFewFramesCarryOnAsOneLongCall) {
  // What a call prepares carries over to the next; a register write in between prepares anew.
  const uint32_t tones[] = {0x1C0, 0x0F0, 7, 0x7E, 0xFFF, 1};
  const uint32_t mixers[] = {0x18, 0x38, 0x00, 0x3F, 0x2A};
  int k = 0;
  for (uint32_t mixer : mixers) {
    for (uint32_t envelope : {0x200u, 3u}) {
      Psg one;
      one.SetClock(kBoardClock, kRate);
      for (uint32_t c = 0; c < 3; ++c) SetTonePeriod(one, c, tones[(k + c) % 6]);
      one.SetRegister(6, 1 + 5 * (k % 6));
      SetEnvelopePeriod(one, envelope);
      one.SetRegister(13, 8 + (k % 8));
      one.SetRegister(7, mixer);
      for (uint32_t c = 0; c < 3; ++c) one.SetRegister(8 + c, c == k % 3u ? 0x10 : 13 - 3 * c);
      ++k;
      Psg many = one;
      const std::vector<int32_t> want = Render(one, 3000);
      std::vector<int32_t> got;
      for (int32_t done = 0, n = 1; done < 3000; done += n, n = n % 9 + 1) {
        n = std::min(n, 3000 - done);
        const std::vector<int32_t> part = Render(many, n);
        got.insert(got.end(), part.begin(), part.end());
        if (done == 1500) many.SetRegister(7, mixer);  // the same value: nothing changes
      }
      ASSERT_EQ(got, want) << "set-up " << k;
      ASSERT_EQ(many.Save(), one.Save()) << "set-up " << k;
    }
  }
}

TEST(PsgMix, OneFrameCallsThenAWriteOrASaveCarryOnAsLongCalls) {
  // Slow tones, the envelope and the noise on one channel: most one-frame calls change nothing.
  auto set_up = [](Psg& psg) {
    psg.SetClock(kBoardClock, kRate);
    for (uint32_t c = 0; c < 3; ++c) SetTonePeriod(psg, c, 0x1C0 - 0xA0 * c);
    psg.SetRegister(6, 8);
    SetEnvelopePeriod(psg, 0x40);
    psg.SetRegister(13, 14);
    psg.SetRegister(7, 0x18);
    for (uint32_t c = 0; c < 3; ++c) psg.SetRegister(8 + c, c == 0 ? 0x10 : 15);
  };
  for (int32_t write_at : {600, 601, 602, 603}) {
    Psg one;
    set_up(one);
    Psg many = one;
    std::vector<int32_t> want = Render(one, write_at);
    one.SetRegister(13, 14);  // restarts the envelope
    const std::vector<int32_t> after = Render(one, 1400 - write_at);
    want.insert(want.end(), after.begin(), after.end());
    std::vector<int32_t> got;
    for (int32_t i = 0; i < 1400; ++i) {
      if (i == write_at) many.SetRegister(13, 14);
      if (i % 350 == 349) {  // the state saved between calls goes on in another Psg
        const std::vector<uint8_t> state = many.Save();
        Psg fresh;
        ASSERT_TRUE(fresh.Restore(state.data(), state.size()));
        many = fresh;
      }
      got.push_back(Render(many, 1)[0]);
    }
    ASSERT_EQ(got, want) << write_at;
    EXPECT_EQ(many.Save(), one.Save()) << write_at;
  }
}

TEST(PsgMix, RunsAgreeWithSubSamples) {
  // Slow and fast tones, noises and envelopes, so that both ways of rendering a channel (runs
  // between changes, or sub-sample by sub-sample) meet every combination of what they read.
  const uint32_t tones[] = {0x1C0, 0x0F0, 7, 1, 0x7E, 0xFFF};
  const uint32_t noises[] = {8, 1, 31};
  const uint32_t envelopes[] = {0x200, 1, 0, 40};
  const uint32_t mixers[] = {0x38, 0x18, 0x00, 0x3F, 0x2A};
  const uint32_t levels[][3] = {{0x10, 0x0F, 0x0F}, {0x10, 0x10, 0x03}, {0x0F, 0x00, 0x10},
                                {0x07, 0x0F, 0x00}};
  int k = 0;
  for (uint32_t rate : {kRate, 8000u}) {
    for (const uint32_t* level : levels) {
      for (uint32_t mixer : mixers) {
        Psg psg;
        psg.SetClock(kBoardClock, rate);
        for (uint32_t c = 0; c < 3; ++c) SetTonePeriod(psg, c, tones[(k + 2 * c) % 6]);
        psg.SetRegister(6, noises[k % 3]);
        SetEnvelopePeriod(psg, envelopes[k % 4]);
        psg.SetRegister(13, 8 + (k % 8));
        psg.SetRegister(7, mixer);
        for (uint32_t c = 0; c < 3; ++c) psg.SetRegister(8 + c, level[c]);
        ++k;
        for (int32_t count : {1, 3, 250, 1500, 4000}) {
          std::vector<int32_t> want = ReferenceFrames(psg, count);
          ASSERT_EQ(Render(psg, count), want) << "set-up " << k << ", " << count << " frames";
        }
      }
    }
  }
}

}  // namespace

namespace {

// Step i of the chip's LFSR, as ChipNoiseTable stores it.
uint32_t ChipNoiseBit(uint32_t i) {
  return (ChipNoiseTable::Get().words[i >> 5] >> (i & 31)) & 1;
}

TEST(PsgChipTrue, NoiseLevelsAndCountersAreTheChips) {
  // The LFSR: each output is the XOR of those 17 and 14 steps before it (bit 0 XOR bit 3 into
  // bit 16), seeded with 1, and it repeats after 131,071 steps; 131,071 is prime, so a
  // sequence that is not constant has no shorter period.
  EXPECT_EQ(ChipNoiseBit(0), 1u);
  for (uint32_t i = 0; i + 17 < ChipNoiseTable::kWords * 32; ++i) {
    ASSERT_EQ(ChipNoiseBit(i + 17), ChipNoiseBit(i) ^ ChipNoiseBit(i + 3)) << i;
  }
  for (uint32_t i = 0; i < ChipNoiseTable::kSlack; ++i) {
    ASSERT_EQ(ChipNoiseBit(i + ChipNoiseTable::kSteps), ChipNoiseBit(i)) << i;
  }
  EXPECT_NE(ChipNoiseBit(1) + ChipNoiseBit(2) + ChipNoiseBit(3) + ChipNoiseBit(4), 4u);

  Psg psg;
  psg.SetChipTrue(true);
  psg.SetClock(kBoardClock, kRate);
  // The YM2149's measured levels (register value v at level 2v + 1), against level 15.
  const std::pair<uint32_t, double> levels[] = {{14, 0.75801}, {7, 0.07778}, {1, 0.00772}};
  for (const auto& [v, want] : levels) {
    EXPECT_NEAR(static_cast<double>(VolumeEntry(psg, 2 * v + 1)) / VolumeEntry(psg, 31), want,
                2e-4) << v;  // amplitudes are whole numbers
  }
  // Noise at full rate from power-on; envelope period 0 runs as 1.
  const uint32_t power_on_noise = NoiseStep(psg);
  psg.SetRegister(6, 0);
  EXPECT_EQ(NoiseStep(psg), power_on_noise);
  const uint32_t period_0 = EnvelopeStep(psg);
  SetEnvelopePeriod(psg, 1);
  EXPECT_EQ(EnvelopeStep(psg), period_0);

  // A period written below the count toggles at the next count; above it, the count goes on.
  SetTonePeriod(psg, 0, 1000);
  psg.SetRegister(7, 0x3E);
  psg.SetRegister(8, 15);
  while ((Look(psg).tone_phase[0] & 0x3FFFFFF) < 0x2000000) Render(psg, 1);  // counted past 500
  const uint32_t half = Look(psg).tone_phase[0] & ~0x3FFFFFFu;
  const uint64_t count = (Look(psg).tone_phase[0] & 0x3FFFFFFu) * uint64_t{1000};
  // The change takes effect at the next step: a render, here of no frames.
  SetTonePeriod(psg, 0, 2000);
  Render(psg, 0);
  EXPECT_NEAR(static_cast<double>(Look(psg).tone_phase[0] - half), count / 2000.0, 2);
  SetTonePeriod(psg, 0, 200);
  Render(psg, 0);
  EXPECT_EQ(Look(psg).tone_phase[0] - half, (uint64_t{199} << 26) / 200);
}

TEST(PsgChipTrue, CountersRunThroughSilenceAndAPeriodsBytesAtOneInstantAreOneWrite) {
  // Tone A and noise B; a stretch with everything silent, then one where only C sounds (no
  // channel listens to the noise): afterwards the PSG plays on as one never interrupted.
  auto playing = [] {
    Psg psg;
    psg.SetChipTrue(true);
    psg.SetClock(kBoardClock, kRate);
    SetTonePeriod(psg, 0, 0x123);
    SetTonePeriod(psg, 2, 0x80);
    psg.SetRegister(6, 7);
    psg.SetRegister(7, 0x2E);
    psg.SetRegister(8, 15);
    psg.SetRegister(9, 12);
    SetEnvelopePeriod(psg, 0x40);
    psg.SetRegister(13, 14);
    return psg;
  };
  Psg steady = playing();
  Psg paused = playing();
  Render(steady, 3000);
  Render(paused, 1000);
  paused.SetRegister(7, 0x3F);
  paused.SetRegister(8, 0);
  paused.SetRegister(9, 0);
  Render(paused, 777);
  paused.SetRegister(7, 0x3B);
  paused.SetRegister(10, 0x10);
  Render(paused, 1223);
  paused.SetRegister(7, 0x2E);
  paused.SetRegister(8, 15);
  paused.SetRegister(9, 12);
  paused.SetRegister(10, 0);
  EXPECT_EQ(Render(paused, 2000), Render(steady, 2000));

  // Period 0x1FF, counted past 0x120; then 0x220 written low byte first: the momentary 0x120
  // never counts, as the order high byte first shows.
  auto written = [&playing](bool low_first) {
    Psg psg = playing();
    SetTonePeriod(psg, 0, 0x1FF);
    while ((Look(psg).tone_phase[0] & 0x3FFFFFF) < 0x2800000) Render(psg, 1);
    psg.SetRegister(low_first ? 0 : 1, low_first ? 0x20 : 0x02);
    psg.SetRegister(low_first ? 1 : 0, low_first ? 0x02 : 0x20);
    return Render(psg, 500);
  };
  EXPECT_EQ(written(true), written(false));
}

}  // namespace

namespace {

// A Psg with every counter running: tones, noise on two channels, the envelope on two.
Psg Busy(bool chip_true) {
  Psg psg;
  psg.SetChipTrue(chip_true);
  psg.SetType(chip_true ? Psg::Type::kAy8910 : Psg::Type::kYm2149);
  psg.SetRegister(6, 5);  // before the clock: the board's noise runs at half this step
  psg.SetClock(kBoardClock, kRate);
  psg.SetVolume(-7);
  for (uint32_t c = 0; c < 3; ++c) SetTonePeriod(psg, c, 0x9D + 0x61 * c);
  SetEnvelopePeriod(psg, 0x30);
  psg.SetRegister(13, 14);
  psg.SetRegister(7, 0x21);  // tones B and C, noise A and B
  psg.SetRegister(8, 0x10);
  psg.SetRegister(9, 12);
  psg.SetRegister(10, 0x10);
  psg.SetChannelMask(5);
  Render(psg, 777);
  return psg;
}

TEST(PsgState, RestoredStatePlaysOnAlikeWithEitherRendering) {
  for (bool chip_true : {false, true}) {
    Psg psg = Busy(chip_true);
    const std::vector<uint8_t> state = psg.Save();
    const std::vector<int32_t> later = Render(psg, 3000);
    Psg fresh;
    ASSERT_TRUE(fresh.Restore(state.data(), state.size())) << chip_true;
    EXPECT_EQ(fresh.Save(), state);
    EXPECT_EQ(Render(fresh, 3000), later) << chip_true;
    ASSERT_TRUE(psg.Restore(state.data(), state.size()));
    EXPECT_EQ(Render(psg, 3000), later) << chip_true;
    // A copy is a Psg of its own: rendering it leaves the original where it was.
    Psg copy = psg;
    Render(copy, 500);
    EXPECT_NE(copy.Save(), psg.Save());
    EXPECT_EQ(Render(psg, 100), Render(fresh, 100));
  }
}

TEST(PsgState, DamagedTruncatedOrForeignStatesAreRefusedAndChangeNothing) {
  const std::vector<uint8_t> good = Busy(true).Save();
  std::vector<std::vector<uint8_t>> bad;
  for (size_t i = 0; i < good.size(); ++i) {
    bad.push_back(good);
    bad.back()[i] ^= 0x10;  // any byte: the checksum, or the envelope, no longer fits
    bad.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(i));
  }
  bad.push_back(good);
  bad.back().push_back(0);
  bad.push_back(Patched(good, 0, StateMagic("VTON"), 4));  // another core's
  bad.push_back(Patched(good, 4, 3, 2));                   // a later version
  bad.push_back(Patched(good, 4, 1, 2));                   // the layout before the periods
  // Fields out of their range, sealed with a fitting checksum.
  const std::pair<size_t, uint32_t> fields[] = {
      {kEnvelopePosAt, 1u << 30}, {69, 2}, {70, 2}, {71, 0x07}, {72, 4},
      {44, 4096},        // the chips' noise word past its period
      {40, 32u << 17},   // the chips' noise position past the first 32 steps of its word
      {73, 8},           // a period written on a fourth channel
      {78, 0x1000}};     // a period before the write wider than 12 bits
  for (const auto& [at, value] : fields) {
    bad.push_back(Patched(good, at, value, at == kEnvelopePosAt || at < 48 || at > 73 ? 4 : 1));
  }
  Psg target;
  target.SetClock(kBoardClock, 8000);
  target.SetRegister(0, 0x55);
  Render(target, 10);
  const std::vector<uint8_t> before = target.Save();
  for (const std::vector<uint8_t>& bytes : bad) {
    EXPECT_FALSE(target.Restore(bytes.data(), bytes.size())) << bytes.size();
    ASSERT_EQ(target.Save(), before);
  }
  EXPECT_FALSE(target.Restore(nullptr, 0));
  EXPECT_TRUE(target.Restore(good.data(), good.size()));
}

}  // namespace
