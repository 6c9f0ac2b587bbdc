#include "music/music_log_builder.h"

#include <algorithm>

#include "music/music_bytes.h"
#include "text/clock_text.h"

void MusicLogBuilder::AtCommand(uint64_t pos) {
  if (loop_offset_ != 0 && !loop_found_) {
    if (pos == loop_offset_) {
      loop_found_ = true;
      loop_tick_ = ticks_;
      log_->loop_event = log_->events.size();
    } else if (pos > loop_offset_) {
      Warn("offset " + loop_field_ + ": the " + loop_name_ + " " + Hex(loop_offset_) +
           " is not at the start of a command (the command at " + Hex(last_command_) +
           " spans it); played without a loop");
      loop_offset_ = 0;
    }
  }
  last_command_ = pos;
}

void MusicLogBuilder::AddWait(uint64_t ticks) {
  if (ticks > kMaxTicks - ticks_) {
    if (!cut_) {
      Warn("the waits add up to more than 2^48 ticks (" +
           FormatClock(log_->seconds(kMaxTicks)) + "); the song is cut there");
      cut_ = true;
    }
    ticks = kMaxTicks - ticks_;
  }
  ticks_ += ticks;
  auto& events = log_->events;
  // A wait longer than an event holds is spread over several; never across the loop point.
  while (ticks > 0) {
    const bool at_loop = loop_found_ && log_->loop_event == events.size();
    const uint32_t room = !events.empty() && events.back().ticks != 0 && !at_loop
                              ? UINT32_MAX - events.back().ticks
                              : 0;
    if (room > 0) {
      const uint32_t add = static_cast<uint32_t>(std::min<uint64_t>(room, ticks));
      events.back().ticks += add;
      ticks -= add;
      continue;
    }
    const uint32_t add = static_cast<uint32_t>(std::min<uint64_t>(UINT32_MAX, ticks));
    events.push_back({add, 0, 0, 0});
    ticks -= add;
  }
}

void MusicLogBuilder::AddWrite(uint8_t chip, uint8_t reg, uint8_t data) {
  log_->events.push_back({0, chip, reg, data});
  if (chip == kChipOpm) {
    ++log_->opm_writes;
  } else {
    ++log_->psg_writes[chip - kChipPsg1];
  }
}

void MusicLogBuilder::EndWalk() {
  if (loop_offset_ != 0 && !loop_found_) {
    Warn("offset " + loop_field_ + ": the " + loop_name_ + " " + Hex(loop_offset_) +
         " lies past the last command read; played without a loop");
  }
}

void MusicLogBuilder::DropLoop() {
  log_->loop_event = MusicLog::kNoLoop;
  log_->loop_ticks = 0;
}

void MusicLogBuilder::Finish() {
  log_->total_ticks = ticks_;
  if (!loop_found_ || !log_->loops()) return;
  const uint64_t loop_ticks = ticks_ - loop_tick_;
  if (loop_ticks == 0) {
    Warn("offset " + loop_field_ + ": the loop holds no waits (it would repeat without end); "
         "played once");
    DropLoop();
    return;
  }
  log_->loop_ticks = loop_ticks;
}
