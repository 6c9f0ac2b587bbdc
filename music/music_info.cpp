#include "music/music_info.h"

#include <cstdio>

#include "text/clock_text.h"
#include "text/shown_text.h"

namespace {

constexpr int kValueColumn = 18;

// "key   value": both as text from a file is shown; a value's line breaks (the notes') are kept
// and indented to the value's column.
void Line(std::string* out, const std::string& key, const std::string& value,
          bool line_breaks = false) {
  if (value.empty()) return;
  const std::string shown_key = ShownText(key);
  *out += shown_key;
  out->append(shown_key.size() < kValueColumn ? kValueColumn - shown_key.size() : 2, ' ');
  *out += ShownText(value, line_breaks ? kValueColumn : -1);
  *out += '\n';
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
  Line(&out, "notes", t.notes, true);
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
  for (const std::string& line : MusicReportLines(log)) out += ShownText(line) + "\n";
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
