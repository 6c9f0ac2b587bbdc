#include "tone/timer_tone.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "common/state_bytes.h"

namespace {

constexpr int32_t kAudibleThreshold = 0x1000000;  // count 512 in fixed point
constexpr uint32_t kLowByteMask = 0x7F8000;       // bits 15-22
constexpr uint32_t kHighByteMask = 0x7F800000;    // bits 23-30

// Saturating double to int32 conversion (truncates toward zero).
int32_t ToInt32(double value) {
  if (!(value > static_cast<double>(std::numeric_limits<int32_t>::min()))) {
    return value != value ? 0 : std::numeric_limits<int32_t>::min();
  }
  if (value >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  return static_cast<int32_t>(value);
}

// One frame's count-down: a counter at or below 0 is reloaded with the period. Widened, so that
// a counter near INT32_MIN minus a large step does not overflow.
int32_t NextCount(int32_t counter, int32_t step, int32_t period) {
  int64_t next = static_cast<int64_t>(counter) - step;
  if (next <= 0) next += period;
  return next < std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::min()
                                                    : static_cast<int32_t>(next);
}

// Linear amplitude factor for a volume setting in half-decibel steps.
int32_t VolumeFactor(int32_t setting) {
  if (setting <= -40) return 0;
  // Linear in the setting; widened so that any int32 setting stays defined.
  int64_t factor = 5 * static_cast<int64_t>(setting) + 256;
  if (factor > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(factor);
}

}  // namespace

TimerTone::TimerTone() { SetAllVolumes(0); }

void TimerTone::SetRate(uint32_t clock, uint32_t rate) {
  // A rate of 0 has no meaning; the previous rate stays in force.
  if (rate == 0) return;
  rate_ = rate > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())
              ? std::numeric_limits<int32_t>::max()
              : static_cast<int32_t>(rate);
  step_ = ToInt32(static_cast<double>(clock) * 32768.0 / static_cast<double>(rate));
}


void TimerTone::SetVolume(int voice, int32_t setting) {
  if (voice < 0 || voice >= kVoices) return;
  voices_[voice].volume = VolumeFactor(setting);
}

void TimerTone::SetAllVolumes(int32_t setting) {
  for (Voice& voice : voices_) voice.volume = VolumeFactor(setting);
}

void TimerTone::Reset() {
  output_enabled_ = false;
  for (Voice& voice : voices_) {
    voice.period = 0;
    voice.access_mode = 0;
    voice.counter = 0;
    voice.high_byte_next = false;
  }
}

bool TimerTone::SetOutputEnable(bool on) {
  if (on == output_enabled_) return false;
  output_enabled_ = on;
  return true;
}

void TimerTone::WriteControl(uint32_t value) {
  uint32_t select = (value >> 6) & 3;
  if (select == 3) return;
  Voice& voice = voices_[select];
  voice.access_mode = static_cast<int32_t>((value >> 4) & 3);
  voice.high_byte_next = false;
}

void TimerTone::WriteCounter(int index, uint32_t value) {
  if (index < 0 || index >= kVoices) return;
  Voice& voice = voices_[index];
  // The ports carry bytes; anything wider is cut to its low byte so the shifts stay in range.
  uint32_t byte = value & 0xFF;
  uint32_t period = static_cast<uint32_t>(voice.period);
  switch (voice.access_mode) {
    case 1:
      period = byte << 15;
      break;
    case 2:
      period = byte << 23;
      break;
    case 3:
      if (!voice.high_byte_next) {
        period = (period & kHighByteMask) | (byte << 15);
      } else {
        period = (period & kLowByteMask) | (byte << 23);
      }
      voice.high_byte_next = !voice.high_byte_next;
      break;
    default:
      return;
  }
  voice.period = static_cast<int32_t>(period);
}

int32_t TimerTone::Level(const Voice& voice) const {
  // 8192 x volume / 256; saturated for settings far beyond the page's range.
  const int64_t wide_level = output_enabled_ ? 32 * static_cast<int64_t>(voice.volume) : 0;
  return wide_level > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                          : static_cast<int32_t>(wide_level);
}

void TimerTone::MixFrame(StereoFrame& frame) {
  // The voices' levels summed first: the host's frame wraps the same either way.
  uint32_t sum = 0;
  for (Voice& voice : voices_) {
    if (voice.period <= kAudibleThreshold || voice.volume == 0) continue;
    if (voice.counter < voice.period / 2) sum += static_cast<uint32_t>(Level(voice));
    if (voice.access_mode != 0) voice.counter = NextCount(voice.counter, step_, voice.period);
  }
  frame.left = static_cast<int32_t>(static_cast<uint32_t>(frame.left) + sum);
  frame.right = static_cast<int32_t>(static_cast<uint32_t>(frame.right) + sum);
}

void TimerTone::Mix(StereoFrame* frames, int32_t count) {
  if (count <= 0) return;
  if (count == 1) return MixFrame(frames[0]);
  for (Voice& voice : voices_) {
    if (voice.period <= kAudibleThreshold || voice.volume == 0) continue;
    const int32_t level = Level(voice);
    const int32_t half = voice.period / 2;
    const int32_t period = voice.period;
    int32_t counter = voice.counter;
    if (voice.access_mode == 0) {
      // A stopped counter does not move at all: its level stays constant.
      const uint32_t out = counter < half ? static_cast<uint32_t>(level) : 0;
      for (int32_t i = 0; i < count; ++i) {
        frames[i].left = static_cast<int32_t>(static_cast<uint32_t>(frames[i].left) + out);
        frames[i].right = static_cast<int32_t>(static_cast<uint32_t>(frames[i].right) + out);
      }
      continue;
    }
    // Runs of frames with one output level: while the counter stays at or above half the
    // output is 0, below half it is the level until the counter wraps. Inside a run the counter
    // only counts down; the step that ends the run goes through NextCount.
    for (int32_t i = 0; i < count;) {
      const uint32_t out = counter < half ? static_cast<uint32_t>(level) : 0;
      int32_t run = 1;
      if (step_ > 0 && counter > 0) {
        run = counter >= half ? (counter - half) / step_ + 1 : (counter - 1) / step_ + 1;
        run = std::min(run, count - i);
      }
      if (out != 0) {
        for (int32_t j = i; j < i + run; ++j) {
          // The host's frames are only added to; the sum wraps rather than overflow.
          frames[j].left = static_cast<int32_t>(static_cast<uint32_t>(frames[j].left) + out);
          frames[j].right = static_cast<int32_t>(static_cast<uint32_t>(frames[j].right) + out);
        }
      }
      counter = NextCount(counter - (run - 1) * step_, step_, period);
      i += run;
    }
    voice.counter = counter;
  }
}

namespace {

constexpr uint32_t kStateMagic = StateMagic("VTON");
constexpr uint16_t kStateVersion = 1;
constexpr int32_t kMinVolume = 61;  // the factor of the quietest setting that sounds

}  // namespace

std::vector<uint8_t> TimerTone::Save() const {
  StateWriter w(kStateMagic, kStateVersion);
  w.I32(rate_);
  w.I32(step_);
  w.Bool(output_enabled_);
  for (const Voice& voice : voices_) {
    w.I32(voice.period);
    w.U8(static_cast<uint8_t>(voice.access_mode));
    w.I32(voice.counter);
    w.I32(voice.volume);
    w.Bool(voice.high_byte_next);
  }
  return w.Finish();
}

bool TimerTone::Restore(const uint8_t* data, size_t size) {
  StateReader r(data, size, kStateMagic, kStateVersion);
  TimerTone s;  // the state decoded, taken only whole
  s.rate_ = r.I32(0);
  s.step_ = r.I32(0);
  s.output_enabled_ = r.Bool();
  for (Voice& voice : s.voices_) {
    voice.period = r.I32(0);
    r.Require((static_cast<uint32_t>(voice.period) & ~(kLowByteMask | kHighByteMask)) == 0);
    voice.access_mode = r.U8(0, 3);
    voice.counter = r.I32();
    voice.volume = r.I32(0);
    r.Require(voice.volume == 0 || voice.volume >= kMinVolume);
    voice.high_byte_next = r.Bool();
  }
  if (!r.Finish()) return false;
  *this = s;
  return true;
}
