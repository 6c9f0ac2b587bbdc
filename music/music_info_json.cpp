#include "music/music_info_json.h"

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>

namespace {

// The dump escapes C0 controls only; DEL and the C1 controls (U+0080-U+009F) would reach a
// terminal raw and act on it. Outside strings the dump holds none, and in UTF-8 C2 80 to C2 9F
// are exactly the C1 controls, so byte by byte is safe.
std::string EscapeTerminalControls(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<uint8_t>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<uint8_t>(text[i + 1]) : 0;
    if (c == 0x7F) {
      out += "\\u007f";
    } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
      out += std::string("\\u00") + kHex[next >> 4] + kHex[next & 15];
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}


using Json = nlohmann::ordered_json;

// Lengths are given at the rate VGM files count in, whatever the file's own tick.
constexpr double kSampleRate = 44100.0;

// "VGM 1.60" -> "VGM", "1.60"; "S98 version 3" -> "S98", "3".
void PutFormat(Json* out, const std::string& format) {
  const size_t space = format.find(' ');
  std::string version = space == std::string::npos ? "" : format.substr(space + 1);
  if (version.rfind("version ", 0) == 0) version.erase(0, 8);
  (*out)["format"] = format.substr(0, space);
  (*out)["version"] = version;
}

Json Span(const MusicLog& log, uint64_t ticks) {
  const double seconds = log.seconds(ticks);
  return {{"samples", std::llround(seconds * kSampleRate)},
          {"seconds", std::round(seconds * 1000.0) / 1000.0}};
}

Json Chips(const MusicLog& log) {
  Json chips = Json::array();
  if (log.opm_clock != 0) {
    chips.push_back({{"chip", "YM2151"}, {"clock", log.opm_clock}, {"writes", log.opm_writes}});
  }
  for (int i = 0; i < kMusicPsgCount; ++i) {
    if (!log.has_psg(i)) continue;
    chips.push_back({{"chip", "PSG " + std::to_string(i + 1)},
                     {"type", log.psg_type[i]},
                     {"clock", log.psg_clock[i]},
                     {"played_as", log.psg_is_ay(i) ? "AY-3-8910" : "YM2149"},
                     {"writes", log.psg_writes[i]}});
  }
  return chips;
}

Json Tag(const MusicTag& t) {
  Json tag = {{"title", t.title},   {"title_original", t.title_original},
              {"game", t.game},     {"game_original", t.game_original},
              {"system", t.system}, {"system_original", t.system_original},
              {"author", t.author}, {"author_original", t.author_original},
              {"date", t.date},     {"logged_by", t.dumper},
              {"notes", t.notes}};
  // A key the tag gives twice keeps both values, one a line.
  Json extra = Json::object();
  for (const auto& [key, value] : t.extra) {
    if (extra.contains(key)) {
      extra[key] = extra[key].get<std::string>() + "\n" + value;
    } else {
      extra[key] = value;
    }
  }
  tag["extra"] = std::move(extra);
  return tag;
}

Json Loop(const MusicLog& log) {
  if (!log.loops()) return {{"loops", false}};
  Json loop = {{"loops", true}, {"start_event", log.loop_event}};
  loop["start"] = Span(log, log.total_ticks - log.loop_ticks);
  loop["length"] = Span(log, log.loop_ticks);
  return loop;
}

}  // namespace

std::string MusicInfoJson(const MusicLog& log, const std::string& path) {
  Json out = {{"path", path}};
  PutFormat(&out, log.format);
  out["chips"] = Chips(log);
  out["tag"] = Tag(log.tag);
  out["length"] = Span(log, log.total_ticks);
  out["loop"] = Loop(log);
  out["skipped"] = Json::object();
  for (const auto& [kind, count] : log.skipped) out["skipped"][kind] = count;
  out["warnings"] = log.warnings;
  out["notes"] = log.notes;
  if (out["format"] == "VGM") {
    out["volume_modifier"] = log.volume_modifier;
    out["loop_modifier"] = log.loop_modifier;
    out["loop_base"] = log.loop_base;
  }
  return EscapeTerminalControls(out.dump(-1, ' ', false, Json::error_handler_t::replace)) + "\n";
}
