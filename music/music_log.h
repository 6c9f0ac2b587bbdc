// A chip-music register log (a VGM/VGZ or S98 file) reduced to what the board can play: timed
// register writes to one YM2151 ("OPM") and up to four AY-3-8910s, the loop point and the tag.
// The readers fill it in; the player walks it. Everything the board cannot play is counted in
// `skipped`, everything that was wrong with the file is described in `warnings`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/music_chip.h"

// One step of the log: a wait of `ticks` (> 0), or a register write (ticks == 0).
struct MusicEvent {
  uint32_t ticks;
  uint8_t chip;
  uint8_t reg;
  uint8_t data;
};

// The events of a log, kept in blocks of a fixed size: a long log grows without the copy (and
// the doubled memory) of one growing array.
class MusicEvents {
 public:
  MusicEvents() = default;
  MusicEvents(std::initializer_list<MusicEvent> events) {
    for (const MusicEvent& e : events) push_back(e);
  }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const MusicEvent& operator[](size_t i) const { return blocks_[i >> kShift][i & kMask]; }
  MusicEvent& back() { return blocks_.back().back(); }
  const MusicEvent& back() const { return blocks_.back().back(); }
  void push_back(const MusicEvent& e) {
    if ((size_ & kMask) == 0) {
      blocks_.emplace_back();
      blocks_.back().reserve(kMask + 1);
    }
    blocks_.back().push_back(e);
    ++size_;
  }

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = MusicEvent;
    using difference_type = std::ptrdiff_t;
    using pointer = const MusicEvent*;
    using reference = const MusicEvent&;
    const_iterator(const MusicEvents* events, size_t i) : events_(events), i_(i) {}
    reference operator*() const { return (*events_)[i_]; }
    pointer operator->() const { return &(*events_)[i_]; }
    const_iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator==(const const_iterator& o) const { return i_ == o.i_; }
    bool operator!=(const const_iterator& o) const { return i_ != o.i_; }

   private:
    const MusicEvents* events_;
    size_t i_;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size_}; }

 private:
  static constexpr int kShift = 16;
  static constexpr size_t kMask = (size_t{1} << kShift) - 1;
  std::vector<std::vector<MusicEvent>> blocks_;
  size_t size_ = 0;
};

struct MusicTag {
  std::string title;
  std::string title_original;
  std::string game;
  std::string game_original;
  std::string system;
  std::string system_original;
  std::string author;
  std::string author_original;
  std::string date;
  std::string dumper;   // the person who made the log
  std::string notes;
  // Keys of an S98 tag that have no field above, in file order.
  std::vector<std::pair<std::string, std::string>> extra;
};

struct MusicLog {
  static constexpr size_t kNoLoop = static_cast<size_t>(-1);

  std::string format;   // "VGM 1.60", "S98 version 3"
  // Ticks per second as the fraction ticks_num / ticks_den: 44100 / 1 for VGM, den / num of the
  // S98 timer (a sync lasts num / den seconds).
  uint64_t ticks_num = 44100;
  uint64_t ticks_den = 1;

  // Master clocks in Hz as the file gives them; 0 = the chip is absent.
  uint32_t opm_clock = 0;
  uint32_t psg_clock[kMusicPsgCount] = {};
  std::string psg_type[kMusicPsgCount];   // "AY8910", "YM2149", ...

  MusicEvents events;
  size_t loop_event = kNoLoop;   // first event of the looped part
  uint64_t total_ticks = 0;      // sum of all waits
  uint64_t loop_ticks = 0;       // sum of the waits from the loop point on
  // Loop-count adjustment of VGM 1.51+: passes = requested * modifier / 16 - base.
  int loop_modifier = 16;
  int loop_base = 0;
  // VGM 1.60+ volume modifier, the header byte 0x7C as stored (0 = none).
  int volume_modifier = 0;

  uint64_t opm_writes = 0;
  uint64_t psg_writes[kMusicPsgCount] = {};
  // What the board does not play, "YM2612 writes" -> count, reported once per kind.
  std::map<std::string, uint64_t> skipped;
  // Faults of the file that playback works around, each with its offset.
  std::vector<std::string> warnings;
  // Things worth knowing that are no fault ("the loop holds no samples: played once").
  std::vector<std::string> notes;
  // The header as `vorla info` prints it, field name and value, in file order.
  std::vector<std::pair<std::string, std::string>> header;
  MusicTag tag;

  bool loops() const { return loop_event != kNoLoop; }
  bool has_psg(int index) const { return psg_clock[index] != 0; }
  // PSG index was made for the AY-3-8910 family (AY8910, AY8912, AY8913, AY8930), whose output
  // curve differs from the YM2149 family's (and from an S98 file's PSG, a YM2149).
  bool psg_is_ay(int index) const {
    const std::string& t = psg_type[index];
    return t == "AY8910" || t == "AY8912" || t == "AY8913" || t == "AY8930";
  }
  double seconds(uint64_t ticks) const {
    return static_cast<double>(ticks) * static_cast<double>(ticks_den) /
           static_cast<double>(ticks_num);
  }
};
