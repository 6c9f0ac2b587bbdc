#include "music/music_info.h"

#include <cstdio>

#include "output/clock_text.h"

namespace {

void Line(std::string* out, const std::string& key, const std::string& value) {
  if (value.empty()) return;
  *out += key;
  out->append(key.size() < 18 ? 18 - key.size() : 2, ' ');
  *out += value + "\n";
}

}  // namespace

std::string FormatMusicInfo(const MusicLog& log) {
  std::string out;
  for (const auto& [key, value] : log.header) Line(&out, key, value);
  out += "\n";
  const MusicTag& t = log.tag;
  Line(&out, "title", t.title);
  Line(&out, "title (original)", t.title_original);
  Line(&out, "game", t.game);
  Line(&out, "game (original)", t.game_original);
  Line(&out, "system", t.system);
  Line(&out, "system (original)", t.system_original);
  Line(&out, "author", t.author);
  Line(&out, "author (original)", t.author_original);
  Line(&out, "date", t.date);
  Line(&out, "logged by", t.dumper);
  for (const auto& [key, value] : t.extra) Line(&out, key, value);
  if (!t.notes.empty()) {
    std::string notes = t.notes;
    for (size_t p = 0; (p = notes.find('\n', p)) != std::string::npos; p += 19) {
      notes.replace(p, 1, "\n" + std::string(18, ' '));
    }
    Line(&out, "notes", notes);
  }
  out += "\n";
  char text[160];
  std::snprintf(text, sizeof text, "%s (%llu ticks)", FormatClock(log.seconds(log.total_ticks)).c_str(),
                static_cast<unsigned long long>(log.total_ticks));
  Line(&out, "length", text);
  if (log.loops()) {
    std::snprintf(text, sizeof text, "%s (%llu ticks) from event %zu",
                  FormatClock(log.seconds(log.loop_ticks)).c_str(),
                  static_cast<unsigned long long>(log.loop_ticks), log.loop_event);
    Line(&out, "loop", text);
  } else {
    Line(&out, "loop", "none");
  }
  if (log.opm_clock != 0) {
    Line(&out, "FM", std::to_string(log.opm_clock) + " Hz, " + std::to_string(log.opm_writes) +
                         " writes");
  }
  for (int i = 0; i < kMusicPsgCount; ++i) {
    if (!log.has_psg(i)) continue;
    Line(&out, "PSG " + std::to_string(i + 1),
         log.psg_type[i] + " " + std::to_string(log.psg_clock[i]) + " Hz, " +
             std::to_string(log.psg_writes[i]) + " writes; chips mode plays it as " +
             (log.psg_is_ay(i) ? "an AY-3-8910 (16 levels)" : "a YM2149 (32 levels)"));
  }
  for (const std::string& line : MusicReportLines(log)) out += line + "\n";
  return out;
}

std::vector<std::string> MusicReportLines(const MusicLog& log) {
  std::vector<std::string> lines;
  for (const auto& [kind, count] : log.skipped) {
    lines.push_back("skipped " + std::to_string(count) + " " + kind);
  }
  for (const std::string& w : log.warnings) lines.push_back("warning: " + w);
  for (const std::string& n : log.notes) lines.push_back("note: " + n);
  return lines;
}
