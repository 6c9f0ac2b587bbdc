// The chip cores' saved states read back field by field (the layouts their Save writes), so
// that a test can see the counters and settings that no door shows.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/state_bytes.h"
#include "control/board_control.h"
#include "tone/timer_tone.h"

// bytes with the width-byte field at `at` set to value, the checksum made to fit: a state that
// passes every check but the one of that field's range.
inline std::vector<uint8_t> Resealed(std::vector<uint8_t> bytes, size_t at, uint32_t value,
                                     int width) {
  for (int i = 0; i < width; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
  const uint32_t sum = StateChecksum(bytes.data(), bytes.size() - 4);
  for (int i = 0; i < 4; ++i) bytes[bytes.size() - 4 + i] = static_cast<uint8_t>(sum >> (8 * i));
  return bytes;
}

// Every byte of good flipped in turn, and good cut short at every length and made one longer.
inline std::vector<std::vector<uint8_t>> Damaged(const std::vector<uint8_t>& good) {
  std::vector<std::vector<uint8_t>> bad;
  for (size_t i = 0; i < good.size(); ++i) {
    bad.push_back(good);
    bad.back()[i] ^= 0x10;
    bad.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(i));
  }
  bad.push_back(good);
  bad.back().push_back(0);
  return bad;
}

// The generator's state as Save writes it, field by field after the 12-byte header.
struct ToneSeen {
  struct Voice {
    int32_t period, access_mode, counter, volume;
    bool high_byte_next;
  };
  int32_t rate, step;
  bool output_enabled;
  Voice voice[3];
};

inline ToneSeen Look(const TimerTone& t) {
  const std::vector<uint8_t> bytes = t.Save();
  EXPECT_EQ(bytes.size(), 12u + 51u + 4u);
  const uint8_t* p = bytes.data() + 12;
  auto i32 = [&p] {
    const uint32_t v = Le32(p);
    p += 4;
    return static_cast<int32_t>(v);
  };
  ToneSeen seen{};
  seen.rate = i32();
  seen.step = i32();
  seen.output_enabled = *p++ != 0;
  for (ToneSeen::Voice& v : seen.voice) {
    v.period = i32();
    v.access_mode = *p++;
    v.counter = i32();
    v.volume = i32();
    v.high_byte_next = *p++ != 0;
  }
  return seen;
}

// The control block's state, after the 12-byte header.
struct ControlSeen {
  bool active;
  uint32_t select;
  uint32_t control;
  uint32_t changed;
  bool armed;  // an event of the periodic interrupt pending
};

inline ControlSeen Look(const BoardControl& c) {
  const std::vector<uint8_t> bytes = c.Save();
  EXPECT_EQ(bytes.size(), 12u + 22u + 4u);
  const uint8_t* p = bytes.data() + 12;
  return {p[0] != 0, p[1], Le32(p + 2), Le32(p + 6), p[10] != 0};
}
