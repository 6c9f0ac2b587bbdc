#include <gtest/gtest.h>

#include <vector>

#include "tests/core_state.h"
#include "tone/timer_tone.h"

namespace {

// The linear factor a volume setting gives a voice.
int32_t VolumeFactor(int32_t setting) {
  TimerTone t;
  t.SetVolume(0, setting);
  return Look(t).voice[0].volume;
}

// A generator at 44100 Hz with voice `v` in access mode 3 and the given count.
TimerTone Sounding(int v, uint32_t count) {
  TimerTone t;
  t.SetRate(3993600, 44100);
  t.Reset();
  t.WriteControl(static_cast<uint32_t>(v << 6) | 0x30);
  t.WriteCounter(v, count & 0xFF);
  t.WriteCounter(v, count >> 8);
  t.SetOutputEnable(true);
  return t;
}

std::vector<StereoFrame> Render(TimerTone& t, int frames) {
  std::vector<StereoFrame> out(static_cast<size_t>(frames), StereoFrame{0, 0});
  t.Mix(out.data(), frames);
  return out;
}

TEST(TimerTone, StepAndVolumeMapping) {
  TimerTone t;
  t.SetRate(3993600, 44100);
  EXPECT_EQ(Look(t).step, 2967398);
  EXPECT_EQ(Look(t).rate, 44100);
  EXPECT_EQ(VolumeFactor(-41), 0);
  EXPECT_EQ(VolumeFactor(-40), 0);
  EXPECT_EQ(VolumeFactor(-39), 61);
  EXPECT_EQ(VolumeFactor(0), 256);
  EXPECT_EQ(VolumeFactor(20), 356);
  EXPECT_EQ(VolumeFactor(50), 506);  // no upper clamp
  EXPECT_EQ(Look(t).voice[0].volume, 256);            // construction applies setting 0
}

TEST(TimerTone, ResetSilencesEverythingButKeepsVolumesAndStep) {
  TimerTone t = Sounding(1, 4096);
  t.SetVolume(1, 20);
  t.Reset();
  EXPECT_FALSE(Look(t).output_enabled);
  for (int v = 0; v < 3; ++v) {
    EXPECT_EQ(Look(t).voice[v].period, 0);
    EXPECT_EQ(Look(t).voice[v].access_mode, 0);
    EXPECT_EQ(Look(t).voice[v].counter, 0);
    EXPECT_FALSE(Look(t).voice[v].high_byte_next);
  }
  EXPECT_EQ(Look(t).voice[1].volume, 356);
  EXPECT_EQ(Look(t).step, 2967398);
  t.SetOutputEnable(true);
  for (const StereoFrame& f : Render(t, 256)) ASSERT_EQ(f.left, 0);
}

TEST(TimerTone, ControlWordSelectsAccessModeAndRestartsPairing) {
  TimerTone t;
  t.Reset();
  t.WriteControl(0xC0 | 0x30);  // select 3: ignored
  for (int v = 0; v < 3; ++v) EXPECT_EQ(Look(t).voice[v].access_mode, 0);

  t.WriteControl(0x70);  // counter 1, low then high
  EXPECT_EQ(Look(t).voice[1].access_mode, 3);
  t.WriteCounter(1, 0x34);
  t.WriteCounter(1, 0x12);
  EXPECT_EQ(Look(t).voice[1].period, 0x1234 << 15);
  t.WriteCounter(1, 0x78);  // low byte again, high kept
  EXPECT_EQ(Look(t).voice[1].period, 0x1278 << 15);
  EXPECT_TRUE(Look(t).voice[1].high_byte_next);
  t.WriteControl(0x70);  // a new control word restarts at the low byte
  EXPECT_FALSE(Look(t).voice[1].high_byte_next);
  t.WriteCounter(1, 0x01);
  EXPECT_EQ(Look(t).voice[1].period, 0x1201 << 15);
}

TEST(TimerTone, SingleByteModes) {
  TimerTone t;
  t.Reset();
  t.WriteControl(0x30);
  t.WriteCounter(0, 0x34);
  t.WriteCounter(0, 0x12);  // now 0x1234
  t.WriteCounter(0, 0x34);  // low byte, high_byte_next becomes true
  t.WriteControl(0x10);     // low byte only: clears the high byte
  t.WriteCounter(0, 0x56);
  EXPECT_EQ(Look(t).voice[0].period, 0x56 << 15);
  t.WriteControl(0x30);
  t.WriteCounter(0, 0x11);  // pairing now waits for the high byte
  t.WriteControl(0x20);     // high byte only: clears the low byte, pairing flag untouched
  EXPECT_FALSE(Look(t).voice[0].high_byte_next);
  t.WriteCounter(0, 0x22);
  EXPECT_EQ(Look(t).voice[0].period, 0x22 << 23);
  EXPECT_FALSE(Look(t).voice[0].high_byte_next);
  t.WriteCounter(0, 0x01);
  EXPECT_EQ(Look(t).voice[0].period, 0x01 << 23);
  // Values wider than a byte use their low byte.
  t.WriteControl(0x10);
  t.WriteCounter(0, 0x1FF);
  EXPECT_EQ(Look(t).voice[0].period, 0xFF << 15);
}

TEST(TimerTone, SquareWaveFrequencyAndLevel) {
  // Count 4096 gives 975 Hz: about 45.2 samples a period at 44100 Hz, high half the time.
  TimerTone t = Sounding(0, 4096);
  auto out = Render(t, 44100);
  int rising = 0, high = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    ASSERT_EQ(out[i].left, out[i].right);
    ASSERT_TRUE(out[i].left == 0 || out[i].left == 8192);
    if (out[i].left) ++high;
    if (i > 0 && out[i].left && !out[i - 1].left) ++rising;
  }
  EXPECT_NEAR(rising, 975, 1);
  EXPECT_NEAR(high, 22050, 200);
}

TEST(TimerTone, FirstSamplesFollowTheCountdown) {
  TimerTone t = Sounding(0, 4096);  // period 134217728, step 2967398
  auto out = Render(t, 3);
  // counter 0 < half: high; then 0 - step <= 0 wraps to period - step (above half): low.
  EXPECT_EQ(out[0].left, 8192);
  EXPECT_EQ(out[1].left, 0);
  EXPECT_EQ(Look(t).voice[0].counter, 134217728 - 3 * 2967398);
}

TEST(TimerTone, CountsUpTo512AreSilentAnd513Sounds) {
  for (uint32_t count : {0u, 1u, 512u}) {
    TimerTone t = Sounding(2, count);
    auto out = Render(t, 100);
    for (const StereoFrame& f : out) ASSERT_EQ(f.left, 0) << count;
    EXPECT_EQ(Look(t).voice[2].counter, 0) << "a silent voice does not count";
  }
  TimerTone t = Sounding(2, 513);
  auto out = Render(t, 100);
  int64_t sum = 0;
  for (const StereoFrame& f : out) sum += f.left;
  EXPECT_GT(sum, 0);
}

TEST(TimerTone, VolumeExtremes) {
  TimerTone t = Sounding(0, 4096);
  t.SetVolume(0, 20);
  EXPECT_EQ(Render(t, 1)[0].left, 11392);
  t.SetVolume(0, -39);
  auto quiet = Render(t, 100);
  int32_t peak = 0;
  for (const StereoFrame& f : quiet) peak = std::max(peak, f.left);
  EXPECT_EQ(peak, 1952);
  t.SetVolume(0, -40);
  int32_t before = Look(t).voice[0].counter;
  for (const StereoFrame& f : Render(t, 100)) ASSERT_EQ(f.left, 0);
  EXPECT_EQ(Look(t).voice[0].counter, before) << "a muted voice stops its counter";
}

TEST(TimerTone, DisabledOutputKeepsCounting) {
  TimerTone t = Sounding(0, 4096);
  EXPECT_FALSE(t.SetOutputEnable(true));  // unchanged
  EXPECT_TRUE(t.SetOutputEnable(false));
  for (const StereoFrame& f : Render(t, 10)) ASSERT_EQ(f.left, 0);
  EXPECT_EQ(Look(t).voice[0].counter, 134217728 - 10 * 2967398);
}

TEST(TimerTone, StoppedCounterHoldsItsLevel) {
  TimerTone t = Sounding(0, 4096);
  Render(t, 7);
  t.WriteControl(0x00);  // access bits 00: counter stops
  t.WriteCounter(0, 0x01);
  EXPECT_EQ(Look(t).voice[0].period, 4096 << 15) << "data writes are ignored";
  auto out = Render(t, 200);
  for (const StereoFrame& f : out) ASSERT_EQ(f.left, out[0].left);

  // Stopped before it ever moved: phase 0 is below half a period, so the level stays high.
  TimerTone fresh = Sounding(1, 4096);
  fresh.WriteControl(0x40);  // counter 1, access bits 00
  for (const StereoFrame& f : Render(fresh, 50)) ASSERT_EQ(f.left, 32 * 256);
  EXPECT_EQ(Look(fresh).voice[1].counter, 0);
}

TEST(TimerTone, AddsIntoFramesAndIgnoresEmptyCounts) {
  TimerTone t = Sounding(0, 4096);
  std::vector<StereoFrame> frames(4, StereoFrame{100, -100});
  t.Mix(frames.data(), 0);
  t.Mix(frames.data(), -5);
  EXPECT_EQ(frames[0].left, 100);
  EXPECT_EQ(Look(t).voice[0].counter, 0);
  t.Mix(frames.data(), 1);
  EXPECT_EQ(frames[0].left, 8292);
  EXPECT_EQ(frames[0].right, 8092);
}

TEST(TimerTone, RateZeroKeepsThePreviousRate) {
  TimerTone t;
  t.SetRate(3993600, 44100);
  t.SetRate(3993600, 0);
  EXPECT_EQ(Look(t).step, 2967398);
  t.SetRate(0xFFFFFFFF, 1);  // a step beyond 32 bits saturates instead of wrapping
  EXPECT_EQ(Look(t).step, INT32_MAX);
}

TEST(TimerTone, LongMixesFollowTheCountdownFrameByFrame) {
  // Rates whose step divides the counts exactly (7800 Hz: step 2^24) put the counter on 0 and
  // on half a period, the edges of the voice's runs of equal output.
  for (uint32_t rate : {7800u, 15600u, 44100u, 192000u}) {
    for (uint32_t count : {513u, 1024u, 3000u, 4096u, 0xFFFFu}) {
      TimerTone t = Sounding(0, count);
      t.SetRate(3993600, rate);
      const int32_t period = Look(t).voice[0].period;
      int32_t counter = Look(t).voice[0].counter;
      for (int32_t frames : {1, 5, 700, 3000}) {
        auto out = Render(t, frames);
        for (int32_t i = 0; i < frames; ++i) {
          ASSERT_EQ(out[i].left, counter < period / 2 ? 8192 : 0)
              << rate << " Hz, count " << count << ", frame " << i;
          counter -= Look(t).step;
          if (counter <= 0) counter += period;
        }
        ASSERT_EQ(Look(t).voice[0].counter, counter);
      }
    }
  }
}

TEST(TimerTone, OneFrameCallsSoundAsOneLongCall) {
  // Three voices at once, one of them stopped high, over frames that start near the wrap.
  TimerTone t = Sounding(0, 4096);
  t.WriteControl(0x70);
  t.WriteCounter(1, 0x00);
  t.WriteCounter(1, 0x03);
  t.WriteControl(0xB0);
  t.WriteCounter(2, 0x01);
  t.WriteCounter(2, 0x10);
  t.WriteControl(0x80);  // counter 2 stops
  TimerTone whole = t;
  std::vector<StereoFrame> one(3000, StereoFrame{-7, 9});
  for (StereoFrame& f : one) t.Mix(&f, 1);
  std::vector<StereoFrame> all(3000, StereoFrame{-7, 9});
  whole.Mix(all.data(), 3000);
  for (size_t i = 0; i < all.size(); ++i) {
    ASSERT_EQ(one[i].left, all[i].left) << i;
    ASSERT_EQ(one[i].right, all[i].right) << i;
  }
  EXPECT_EQ(t.Save(), whole.Save());
}

TEST(TimerTone, RestoredStateCarriesOnMidCountAndDamagedOnesAreRefused) {
  TimerTone t = Sounding(0, 4096);
  t.WriteControl(0x70);  // voice 1 in mode 3, waiting for its high byte
  t.WriteCounter(1, 0x00);
  t.WriteControl(0xB0);
  t.WriteCounter(2, 3000 & 0xFF);
  t.WriteCounter(2, 3000 >> 8);
  t.SetVolume(2, -12);
  Render(t, 333);
  const std::vector<uint8_t> state = t.Save();
  TimerTone u;
  ASSERT_TRUE(u.Restore(state.data(), state.size()));
  EXPECT_EQ(u.Save(), state);
  for (TimerTone* g : {&t, &u}) g->WriteCounter(1, 0x14);  // completes count 0x1400
  const std::vector<StereoFrame> want = Render(t, 2000);
  const std::vector<StereoFrame> got = Render(u, 2000);
  for (size_t i = 0; i < want.size(); ++i) {
    ASSERT_EQ(got[i].left, want[i].left) << i;
    ASSERT_EQ(got[i].right, want[i].right) << i;
  }

  std::vector<std::vector<uint8_t>> bad = Damaged(state);
  bad.push_back(Resealed(state, 0, StateMagic("VPSG"), 4));
  bad.push_back(Resealed(state, 12, 0xFFFFFFFF, 4));            // a negative rate
  bad.push_back(Resealed(state, 21, 0x80000000 | (513 << 15), 4));  // period bit 31
  bad.push_back(Resealed(state, 21, (513 << 15) | 1, 4));       // period below bit 15
  bad.push_back(Resealed(state, 25, 4, 1));                     // access mode 4
  bad.push_back(Resealed(state, 30, 60, 4));                    // a volume no setting gives
  bad.push_back(Resealed(state, 34, 2, 1));                     // byte pairing not a bool
  const std::vector<uint8_t> before = u.Save();
  for (const std::vector<uint8_t>& bytes : bad) {
    EXPECT_FALSE(u.Restore(bytes.data(), bytes.size())) << bytes.size();
    ASSERT_EQ(u.Save(), before);
  }
}

}  // namespace
